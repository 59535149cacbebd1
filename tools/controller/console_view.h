// The console program's view (veltoctl): what happens on its output, errors
// on its error output, and the commands typed on its input.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "controller/controller_core.h"
#include "controller/log.h"

namespace velto::controller {

class ConsoleView : public View {
 public:
  ConsoleView(const Options& o, Log& log) : o_(o), log_(log) {}
  void Attach(const Controller& c) { c_ = &c; }

  // From now on hands `post` the commands typed on standard input (a line
  // that is not one is answered there) and a quit on Ctrl+C. The end of the
  // input, or none at all, ends the commands, not Velto.
  void TakeCommands(std::function<void(const Command&)> post);

  void Say(const std::string& line) override;
  void Problems(const std::string& summary, const std::vector<std::string>& lines) override;
  void Tell(const std::string& text) override { Say(text); }
  void Refresh() override {}
  void ShowErrors() override;
  void Show() override;

 private:
  static DWORD WINAPI ReadInput(void* view);

  const Options& o_;
  Log& log_;
  const Controller* c_ = nullptr;
  std::function<void(const Command&)> post_;
  SRWLOCK writing_ = SRWLOCK_INIT;  // the input's thread answers too
};

}  // namespace velto::controller
