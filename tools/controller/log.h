// Every line a controller shows, also in the file of --log: the tray
// program's record for whoever wants to know what it did.
#pragma once

#include <cstdio>
#include <string>

#include "controller/win32_system.h"

namespace velto::controller {

class Log {
 public:
  explicit Log(const std::string& path) {
    if (!path.empty()) file_ = _wfopen(Wide(path).c_str(), L"a");
  }
  ~Log() {
    if (file_ != nullptr) std::fclose(file_);
  }
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;

  void Write(const std::string& line) {
    if (file_ == nullptr) return;
    std::fprintf(file_, "%s\n", line.c_str());
    std::fflush(file_);
  }
  bool failed(const std::string& path) const { return !path.empty() && file_ == nullptr; }

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace velto::controller
