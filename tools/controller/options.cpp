// The command line of velto.exe and veltoctl.exe.
#include <cstdio>

#include "controller/options.h"
#include "layoutkit/text.h"

namespace velto::controller {
namespace {

constexpr const char* kUsage =
    "usage: %s [FILE.vkl|FILE.vkb] [--layout N] [--disabled] [--settings FILE] [--log FILE]\n"
    "       %*s [--events] [--quiet] [--tray] [--dll PATH] [--no-companion]\n"
    "       %s --attach | --send COMMAND | --diagnostics\n";

constexpr const char* kHelp =
    "Runs Velto: loads the library beside this program, hands it the layouts of\n"
    "FILE (a .vkl layout, compiled here, or a compiled .vkb), or of the settings'\n"
    "layout file, or the built-in ones (layout 0 US, layout 1 US International),\n"
    "and turns translation on. The layout file, and the files it includes, are\n"
    "loaded again within a second of a save; one with errors is reported and the\n"
    "layouts in use stay. Rules in the settings turn translation off, or choose a\n"
    "layout, while a given program is in front.\n"
    "\n"
    "  --layout N       start with layout N (0 to 3)\n"
    "  --disabled       start with translation off\n"
    "  --settings FILE  the settings file (default %%APPDATA%%\\Velto\\settings.ini)\n"
    "  --log FILE       also write every line shown to FILE\n"
    "  --events         also print a line for every key the library translates\n"
    "  --quiet          print only errors and warnings\n"
    "  --tray           show an icon in the notification area, as velto.exe does\n"
    "  --dll PATH       the library to load (default: the one beside this program)\n"
    "  --no-companion   on 64-bit Windows, do not start the companion of the other\n"
    "                   architecture (velto-companion.exe beside the 64-bit program,\n"
    "                   velto-companion64.exe beside the 32-bit one), which translates\n"
    "                   the applications of that architecture\n"
    "  --attach         watch an instance that is already running, as one more client\n"
    "  --send COMMAND   give the running instance a command, and stop\n"
    "  --diagnostics    print a report of the running instance (or, when none runs,\n"
    "                   of what this program sees): version, files, hooks, layouts,\n"
    "                   settings, rules, the program in front and the system; it\n"
    "                   holds nothing typed\n"
    "  --version        print the version\n"
    "\n"
    "Commands (typed into veltoctl, or sent with --send):\n"
    "  layout N, on, off, toggle   switch layout or translation\n"
    "  reload                      read the settings and the layout file again\n"
    "  use FILE                    make FILE the layout file (kept in the settings)\n"
    "  sign-in on|off              start Velto at sign-in, or not\n"
    "  tray icon letters|number    what the tray icon shows\n"
    "  errors, state               print the layout file's errors, or the state\n"
    "  show                        bring the running Velto forward\n"
    "  keyboard show|hide|toggle   the on-screen keyboard: the active layout as the\n"
    "                              modifiers held make it type\n"
    "  companion                   start the helper of the other architecture again,\n"
    "                              after Velto gave it up\n"
    "  quit                        stop Velto\n"
    "\n"
    "veltoctl stops on a line \"quit\", on --send quit or on Ctrl+C; the end of its\n"
    "input ends only the commands.\n"
    "Exit status: 0 stopped, 1 another instance is running (or none to attach\n"
    "or send to), 2 bad arguments, or a file or library that cannot be used.\n";

int Usage(bool trayProgram, FILE* to) {
  const char* name = trayProgram ? "velto" : "veltoctl";
  std::fprintf(to, kUsage, name, static_cast<int>(std::string(name).size()), "", name);
  return 2;
}

int BadArguments(bool trayProgram, const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", trayProgram ? "velto" : "veltoctl", message.c_str());
  return Usage(trayProgram, stderr);
}

}  // namespace

int ParseOptions(const std::vector<std::string>& args, bool trayProgram, Options& o) {
  o.tray = trayProgram;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const std::string* v = nullptr;
    auto value = [&](const char* what) {
      if (i + 1 < args.size()) v = &args[++i];
      return v != nullptr ? 0 : BadArguments(trayProgram, a + " needs " + what);
    };
    if (a == "--version") {
      std::printf("%s %s\n", trayProgram ? "velto" : "veltoctl", VELTO_VERSION);
      return -1;
    } else if (a == "--help" || a == "-h" || a == "/?") {
      Usage(trayProgram, stdout);
      std::printf("\n%s", kHelp);
      return -1;
    } else if (a == "--layout") {
      if (value("a layout number") != 0) return 2;
      const auto n = layoutkit::ParseDecimal(*v, 1);
      if (!n || *n > 3) return BadArguments(trayProgram, "the layout is 0, 1, 2 or 3, not '" + *v + "'");
      o.layout = static_cast<int>(*n);
    } else if (a == "--send") {
      if (value("a command") != 0) return 2;
      o.send = ParseCommand(*v);
      if (!o.send) {
        std::fprintf(stderr, "%s: %s\n", trayProgram ? "velto" : "veltoctl", UnknownCommand(*v).c_str());
        return 2;
      }
    } else if (a == "--dll" || a == "--settings" || a == "--log") {
      if (value("a file name") != 0) return 2;
      (a == "--dll" ? o.dll : a == "--settings" ? o.settings : o.log) = *v;
    } else if (a == "--disabled") {
      o.disabled = true;
    } else if (a == "--events") {
      o.events = true;
    } else if (a == "--quiet") {
      o.quiet = true;
    } else if (a == "--attach") {
      o.attach = true;
    } else if (a == "--tray") {
      o.tray = true;
    } else if (a == "--no-companion") {
      o.companion = false;
    } else if (a == "--diagnostics") {
      o.diagnostics = true;
    } else if (a == "--elevated-restart") {
      o.elevatedRestart = true;
    } else if (!a.empty() && a[0] == '-') {
      return BadArguments(trayProgram, "unknown option '" + a + "'");
    } else if (o.file.empty()) {
      o.file = a;
    } else {
      return BadArguments(trayProgram, "more than one layout file given");
    }
  }
  if (o.diagnostics && (o.attach || o.send)) {
    return BadArguments(trayProgram, "--diagnostics reports and stops: it takes no --attach or --send");
  }
  if (o.attach && (!o.file.empty() || o.layout >= 0 || o.disabled || !o.companion || o.send)) {
    return BadArguments(trayProgram,
                        "--attach watches the running instance: it takes no file, --layout, --disabled, "
                        "--no-companion or --send");
  }
  return 0;
}

}  // namespace velto::controller
