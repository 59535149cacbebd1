// How the controller shows what happens: the console program prints it
// (ConsoleView), the tray program shows it in the notification area
// (TrayView).
#pragma once

#include <string>
#include <vector>

namespace velto::controller {

class View {
 public:
  virtual ~View() = default;
  // A line of what happens (a change of state, a layout loaded, a rule).
  virtual void Say(const std::string& line) = 0;
  // Errors: a summary, and every diagnostic as FILE:LINE:COL: error: ...
  virtual void Problems(const std::string& summary, const std::vector<std::string>& lines) = 0;
  // Something the user should notice once (a balloon in the tray).
  virtual void Tell(const std::string& text) = 0;
  // The state changed: layout, translation, lights, errors or settings.
  virtual void Refresh() = 0;
  // The errors of the layout file, all of them.
  virtual void ShowErrors() = 0;
  // Velto was started again, or asked to show itself.
  virtual void Show() = 0;
};

}  // namespace velto::controller
