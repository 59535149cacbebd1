// veltoc: compiles keyboard descriptions (.vkl) to the blocks the library
// takes (.vkb), decompiles them back, and checks them.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "layoutkit/vkb.h"
#include "layoutkit/vkl.h"
#include "veltoc/commands.h"

using namespace velto::layoutkit;

namespace {

constexpr const char* kUsage =
    "usage: veltoc compile SRC.vkl -o OUT.vkb\n"
    "       veltoc decompile IN.vkb -o OUT.vkl\n"
    "       veltoc check SRC.vkl\n"
    "       veltoc import-klc FILE.klc -o OUT.vkl [--layout N] [--codepage CP] [--skip-unmappable]\n"
    "       veltoc import-xkb 'LAYOUT(VARIANT)' -o OUT.vkl [--options OPT,OPT...] [--xkb-root DIR]\n"
    "                         [--compose FILE]\n"
    "       veltoc render DESCRIPTION -o OUT.svg [--layout N] [--caps] [--mods MODS] [--all] [--ansi]\n"
    "                     [--after STEPS]\n"
    "       veltoc --version\n";

constexpr const char* kHelp =
    "Compiles keyboard layouts for Velto.\n"
    "\n"
    "  compile    reads a layout source (.vkl) and writes the compiled description\n"
    "             (.vkb: the five blocks SetupKeyboard takes, in order, 81,528 bytes,\n"
    "              then the table of compositions of a description that has one)\n"
    "  decompile  writes readable source for any compiled description\n"
    "  check      reports errors and warnings only\n"
    "  import-klc turns a Windows layout source (.klc) into layout source\n"
    "  import-xkb turns a layout of xkeyboard-config (/usr/share/X11/xkb), with its\n"
    "             variant and setxkbmap's options, into layout source, its dead keys\n"
    "             and compose key with the sequences of a Compose file (default: the\n"
    "             system's en_US.UTF-8 one)\n"
    "  render     draws a layout as an SVG picture of the keyboard; --after draws\n"
    "             what each key types after dead keys: STEPS joined by ',' are\n"
    "             a dead key by the character it shows (^), the compose key\n"
    "             (compose), then characters or dead:CHAR (U+XXXX for any of\n"
    "             them), as in --after ^,dead:U+0323 or --after compose,o\n"
    "\n"
    "Diagnostics read FILE:LINE:COL: error: ...; on any error nothing is written\n"
    "and the exit status is 1. Bad arguments give exit status 2.\n"
    "The language is described in docs/layout-language.md.\n";

int Usage(const char* problem) {
  std::fprintf(stderr, "veltoc: %s\n%s", problem, kUsage);
  return 2;
}

int Report(const Diagnostics& diags) {
  std::fputs(diags.Text().c_str(), stderr);
  return diags.HasErrors() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage("no command given");
  if (args[0] == "--version") {
    std::printf("veltoc %s\n", VELTO_VERSION);
    return 0;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::printf("%s\n%s", kUsage, kHelp);
    return 0;
  }
  const std::string command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "import-klc") return velto::veltoc::ImportKlc(rest, kUsage);
  if (command == "import-xkb") return velto::veltoc::ImportXkb(rest, kUsage);
  if (command == "render") return velto::veltoc::Render(rest, kUsage);
  std::string input, output;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "-o") {
      if (i + 1 == args.size()) return Usage("-o needs a file name");
      if (!output.empty()) return Usage("-o given twice");
      output = args[++i];
    } else if (!args[i].empty() && args[i][0] == '-' && args[i] != "-") {
      return Usage(("unknown option '" + args[i] + "'").c_str());
    } else if (input.empty()) {
      input = args[i];
    } else {
      return Usage(("unexpected argument '" + args[i] + "'").c_str());
    }
  }
  if (command != "compile" && command != "decompile" && command != "check") {
    return Usage(("unknown command '" + command + "'").c_str());
  }
  if (input.empty()) return Usage("no input file given");
  if (command == "check" && !output.empty()) return Usage("check writes nothing; leave out -o");
  if (command != "check" && output.empty()) return Usage("no output file given (-o FILE)");

  Diagnostics diags;
  KeyboardDescription d;
  if (command == "decompile") {
    if (!ReadVkb(input, d, diags)) return Report(diags);
    const std::string text = DecompileToVkl(d);
    WriteFile(output, std::vector<std::uint8_t>(text.begin(), text.end()), diags);
    return Report(diags);
  }
  if (!CompileVklFile(input, d, diags)) return Report(diags);
  if (command == "compile") WriteFile(output, ToVkb(d), diags);
  return Report(diags);
}
