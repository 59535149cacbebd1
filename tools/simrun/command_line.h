// velto-sim's command line: its options and the help text.
#pragma once

#include <string>
#include <vector>

#include "simrun/simrun.h"

namespace velto::simrun {

// velto-sim [DESCRIPTION] [--layout N] [--caps] [--numlock]
// (--type TEXT | --keys KEYS) [--trace].
struct CommandLine {
  std::string description;  // empty: the built-in description
  SimOptions options;
  bool trace = false;
  bool help = false;
};

// `args` without the program name. False with a one-line message on bad arguments.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error);

std::string UsageLine();
std::string HelpText();

}  // namespace velto::simrun
