// Errors and warnings about a file, each with its place: FILE:LINE:COL.
#pragma once

#include <string>
#include <vector>

namespace velto::layoutkit {

struct Diagnostic {
  std::string file;
  int line = 0;  // 1-based; 0 when it concerns the whole file
  int column = 0;  // 1-based, in characters; 0 when none
  bool error = true;
  std::string message;
};

// "FILE:LINE:COL: error: message" (LINE and COL left out where they are 0).
std::string Format(const Diagnostic& d);

class Diagnostics {
 public:
  void Error(const std::string& file, int line, int column, std::string message);
  void Warning(const std::string& file, int line, int column, std::string message);

  bool HasErrors() const { return errors_ > 0; }
  int errors() const { return errors_; }
  const std::vector<Diagnostic>& all() const { return all_; }
  // Every diagnostic, formatted, one per line.
  std::string Text() const;

  // The files a compile read or tried to read (an include that is missing
  // too), in the order it met them: what a program that reloads on a save
  // must watch.
  void NoteFile(const std::string& file) { files_.push_back(file); }
  const std::vector<std::string>& files() const { return files_; }

 private:
  std::vector<Diagnostic> all_;
  std::vector<std::string> files_;
  int errors_ = 0;
};

}  // namespace velto::layoutkit
