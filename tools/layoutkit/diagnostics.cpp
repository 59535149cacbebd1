#include "layoutkit/diagnostics.h"

namespace velto::layoutkit {

std::string Format(const Diagnostic& d) {
  std::string out = d.file;
  if (d.line > 0) out.append(":").append(std::to_string(d.line));
  if (d.line > 0 && d.column > 0) out.append(":").append(std::to_string(d.column));
  out.append(d.error ? ": error: " : ": warning: ").append(d.message);
  return out;
}

void Diagnostics::Error(const std::string& file, int line, int column, std::string message) {
  all_.push_back({file, line, column, true, std::move(message)});
  ++errors_;
}

void Diagnostics::Warning(const std::string& file, int line, int column, std::string message) {
  all_.push_back({file, line, column, false, std::move(message)});
}

std::string Diagnostics::Text() const {
  std::string out;
  for (const Diagnostic& d : all_) out += Format(d) + "\n";
  return out;
}

}  // namespace velto::layoutkit
