// velto-sim: types keys through the engine over the simulated system and
// prints what the focus window received. The work is in tools/simrun
// (session, trace, command line).
#include <cstdio>
#include <string>
#include <vector>

#include "layoutkit/default_layout.h"
#include "layoutkit/vkl.h"
#include "simrun/command_line.h"

namespace simrun = velto::simrun;
namespace layoutkit = velto::layoutkit;

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  simrun::CommandLine cl;
  std::string error;
  if (!simrun::ParseCommandLine(args, cl, error)) {
    std::fprintf(stderr, "velto-sim: %s\n%s\n", error.c_str(), simrun::UsageLine().c_str());
    return 2;
  }
  if (cl.help) {
    std::fputs(simrun::HelpText().c_str(), stdout);
    return 0;
  }

  layoutkit::KeyboardDescription d;
  if (cl.description.empty()) {
    d = layoutkit::DefaultDescription();
  } else {
    layoutkit::Diagnostics diags;
    const bool loaded = layoutkit::LoadDescriptionFile(cl.description, d, diags);
    std::fputs(diags.Text().c_str(), stderr);
    if (!loaded) return 1;
  }

  const simrun::SimOutput out = simrun::Run(d, cl.options);
  if (!out.error.empty()) {
    std::fprintf(stderr, "velto-sim: %s\n", out.error.c_str());
    return 1;
  }
  if (cl.trace) std::fputs(out.trace.c_str(), stdout);
  std::fputs((out.text + "\n").c_str(), stdout);
  return 0;
}
