// The command line of velto.exe and veltoctl.exe.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "controller/command.h"

namespace velto::controller {

struct Options {
  std::string file;      // a layout file named on the command line, over the settings' one
  std::string dll;       // the library; default: the one beside the program
  std::string settings;  // the settings file; default %APPDATA%\Velto\settings.ini
  std::string log;       // a file that gets every line the controller shows
  std::optional<Command> send;  // a command for the instance that runs
  int layout = -1;
  bool disabled = false;
  bool events = false;
  bool quiet = false;
  bool attach = false;
  bool tray = false;
  bool companion = true;
  bool diagnostics = false;  // print the diagnostics report (of the instance that runs) and stop
  bool elevatedRestart = false;  // started by "restart as administrator": the old instance makes way
};

// Reads the command line (without the program's name). Returns 0 to go on,
// -1 after printing the help or the version, else the exit status of bad
// arguments (a command for --send that is not one among them).
int ParseOptions(const std::vector<std::string>& args, bool trayProgram, Options& o);

}  // namespace velto::controller
