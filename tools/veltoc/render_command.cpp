// veltoc render: an SVG picture of the keyboard for a description.
#include "layoutkit/render.h"

#include <cstdint>
#include <cstdio>

#include "layoutkit/vkb.h"
#include "layoutkit/vkl.h"
#include "veltoc/commands.h"

using namespace velto::layoutkit;

namespace velto::veltoc {

int Render(const std::vector<std::string>& args, const char* usage) {
  auto bad = [usage](const std::string& problem) {
    std::fprintf(stderr, "veltoc: %s\n%s", problem.c_str(), usage);
    return 2;
  };
  std::string input, output, after;
  RenderOptions options;
  KeyboardState state;
  bool all = false, stateGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == "-o") {
      if (!hasValue) return bad("-o needs a file name");
      if (!output.empty()) return bad("-o given twice");
      output = args[++i];
    } else if (arg == "--layout") {
      if (!hasValue) return bad("--layout needs a layout number");
      const std::string& n = args[++i];
      if (n.size() != 1 || n[0] < '0' || n[0] > '3') return bad("--layout takes 0 to 3, not '" + n + "'");
      options.layout = static_cast<unsigned>(n[0] - '0');
    } else if (arg == "--caps") {
      state.capsLock = true;
      stateGiven = true;
    } else if (arg == "--mods") {
      if (!hasValue) return bad("--mods needs modifier names");
      const std::string& mods = args[++i];
      if (!ParseModifierNames(mods, state.modifiers)) {
        return bad("--mods takes lctrl rctrl lalt ralt lwin rwin joined by '+', not '" + mods + "'");
      }
      stateGiven = true;
    } else if (arg == "--all") {
      all = true;
    } else if (arg == "--ansi") {
      options.ansi = true;
    } else if (arg == "--after") {
      if (!hasValue) return bad("--after needs a dead key (its character, or compose)");
      if (!after.empty()) return bad("--after given twice");
      after = args[++i];
      if (after.empty()) return bad("--after needs a dead key (its character, or compose)");
    } else if (!arg.empty() && arg[0] == '-') {
      return bad("unknown option '" + arg + "'");
    } else if (input.empty()) {
      input = arg;
    } else {
      return bad("unexpected argument '" + arg + "'");
    }
  }
  if (input.empty()) return bad("no description given");
  if (output.empty()) return bad("no output file given (-o FILE)");
  if (all && stateGiven) return bad("--all draws its own four states; leave out --caps and --mods");
  options.states = all ? MainStates() : std::vector<KeyboardState>{state};

  Diagnostics diags;
  KeyboardDescription d;
  bool drawable = LoadDescriptionFile(input, d, diags);
  if (drawable && !after.empty()) {
    // The steps are read on the layout: a dead key by the character it shows.
    std::string problem;
    options.after.emplace();
    drawable = FindComposition(d, options.layout, after, *options.after, problem);
    if (!drawable) diags.Error(input, 0, 0, problem);
  }
  if (drawable) {
    const std::string svg = RenderSvg(d, options);
    WriteFile(output, std::vector<std::uint8_t>(svg.begin(), svg.end()), diags);
  }
  std::fputs(diags.Text().c_str(), stderr);
  return diags.HasErrors() ? 1 : 0;
}

}  // namespace velto::veltoc
