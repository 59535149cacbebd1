#include "simrun/command_line.h"

#include <cctype>
#include <optional>

#include "layoutkit/scan_names.h"
#include "layoutkit/text.h"
#include "shared/keys.h"

namespace velto::simrun {

namespace {

bool KeyOfName(std::string_view name, std::uint16_t& scan, std::string& error) {
  if (name.empty()) {
    error = "empty key name";
    return false;
  }
  const std::optional<std::uint16_t> s = layoutkit::ScanOfKeyName(name);
  if (!s) {
    error = "unknown key name '" + std::string(name) + "'";
    return false;
  }
  scan = *s;
  return true;
}

bool IsModifier(std::uint16_t scan) { return IsModifierKey(scan) != 0; }

bool ParseChord(std::string_view token, std::vector<KeyAction>& out, std::string& error) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t plus = token.find('+', start);
    parts.push_back(token.substr(start, plus == std::string_view::npos ? plus : plus - start));
    if (parts.back().empty()) {
      error = "empty key name in '" + std::string(token) + "'";
      return false;
    }
    if (plus == std::string_view::npos) break;
    start = plus + 1;
  }
  std::vector<std::uint16_t> scans;
  for (const std::string_view part : parts) {
    std::uint16_t scan = 0;
    if (!KeyOfName(part, scan, error)) {
      if (parts.size() > 1) error += " in '" + std::string(token) + "'";
      return false;
    }
    const bool last = scans.size() + 1 == parts.size();
    if (!last && !IsModifier(scan)) {
      error = "'" + std::string(part) + "' in '" + std::string(token) +
              "' is not a modifier (lshift rshift lctrl rctrl lalt ralt lwin rwin caps)";
      return false;
    }
    scans.push_back(scan);
  }
  for (const std::uint16_t scan : scans) out.push_back({scan, false});
  out.push_back({scans.back(), true});
  for (std::size_t i = scans.size() - 1; i-- > 0;) out.push_back({scans[i], true});
  return true;
}

bool ParseKeyToken(std::string_view token, std::vector<KeyAction>& out, std::string& error) {
  for (const bool up : {false, true}) {
    const std::string_view prefix = up ? "up:" : "down:";
    if (!layoutkit::StartsWithNoCase(token, prefix)) continue;
    std::uint16_t scan = 0;
    if (!KeyOfName(token.substr(prefix.size()), scan, error)) {
      error += " in '" + std::string(token) + "'";
      return false;
    }
    out.push_back({scan, up});
    return true;
  }
  return ParseChord(token, out, error);
}

bool TakeValue(const std::vector<std::string>& args, std::size_t& i, std::string& value, std::string& error) {
  if (i + 1 >= args.size()) {
    error = args[i] + " needs a value";
    return false;
  }
  value = args[++i];
  return true;
}

bool ParseLayout(const std::string& value, unsigned& layout, std::string& error) {
  if (value.size() != 1 || value[0] < '0' || value[0] > '3') {
    error = "bad layout number '" + value + "': must be 0 to 3";
    return false;
  }
  layout = static_cast<unsigned>(value[0] - '0');
  return true;
}

}  // namespace

bool ParseKeys(std::string_view keys, std::vector<KeyAction>& out, std::string& error) {
  std::vector<KeyAction> parsed;
  std::size_t pos = 0;
  while (pos < keys.size()) {
    if (std::isspace(static_cast<unsigned char>(keys[pos]))) {
      ++pos;
      continue;
    }
    std::size_t end = pos;
    while (end < keys.size() && !std::isspace(static_cast<unsigned char>(keys[end]))) ++end;
    if (!ParseKeyToken(keys.substr(pos, end - pos), parsed, error)) return false;
    pos = end;
  }
  out.insert(out.end(), parsed.begin(), parsed.end());
  return true;
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error) {
  CommandLine cl;
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      out = CommandLine{};
      out.help = true;
      return true;
    }
  }
  bool layoutGiven = false, typeGiven = false, keysGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string value;
    if (a == "--caps") {
      cl.options.capsLock = true;
    } else if (a == "--numlock") {
      cl.options.numLock = true;
    } else if (a == "--trace") {
      cl.trace = true;
    } else if (a == "--layout" || a == "--type" || a == "--keys") {
      bool& given = a == "--layout" ? layoutGiven : a == "--type" ? typeGiven : keysGiven;
      if (given) {
        error = a + " given twice";
        return false;
      }
      given = true;
      if (!TakeValue(args, i, value, error)) return false;
      if (a == "--layout" && !ParseLayout(value, cl.options.layout, error)) return false;
      if (a == "--type") {
        std::vector<KeyAction> unused;
        if (!TypeKeys(value, false, unused, error)) return false;
        cl.options.typeText = true;
        cl.options.text = value;
      }
      if (a == "--keys" && !ParseKeys(value, cl.options.keys, error)) {
        error = "--keys: " + error;
        return false;
      }
    } else if (a.size() > 1 && a[0] == '-') {
      error = "unknown option '" + a + "'";
      return false;
    } else if (!cl.description.empty()) {
      error = "more than one description file: '" + cl.description + "' and '" + a + "'";
      return false;
    } else if (a.empty()) {
      error = "empty description file name";
      return false;
    } else {
      cl.description = a;
    }
  }
  if (typeGiven == keysGiven) {
    error = typeGiven ? "give either --type or --keys, not both"
                      : "nothing to do: give --type TEXT or --keys KEYS";
    return false;
  }
  out = std::move(cl);
  return true;
}

std::string UsageLine() {
  return "usage: velto-sim [DESCRIPTION] [--layout N] [--caps] [--numlock] (--type TEXT | --keys KEYS) "
         "[--trace]";
}

std::string HelpText() {
  return UsageLine() + R"(

Runs a keyboard description on the Velto engine over the simulated Windows
input system (a controller window, and an "Edit" window with the focus) and
prints, as one line of UTF-8, what the focus window received as WM_CHAR.

  DESCRIPTION   a .vkl source file or a compiled .vkb file (81,528 bytes, then any composition table);
                without one, the built-in description (layout 0 US, layout 1
                the international layout)
  --layout N    the layout selected at the start, 0 to 3 (default 0)
  --caps        Caps Lock on at the start
  --numlock     Num Lock on at the start
  --type TEXT   types TEXT (ASCII) on the keys of a US keyboard, with left Shift
                where a US keyboard needs it (for letters the other way round
                while Caps Lock is on); a newline types Enter
  --keys KEYS   space-separated key events:
                  KEY          press and release
                  MOD+...+KEY  the modifiers pressed in order, KEY pressed and
                               released, the modifiers released in reverse
                               (KEY may be a modifier too: lshift+rshift)
                  down:KEY     press only
                  up:KEY       release only
                KEY is a key name: letters, digits, ESC ENTER SPACE TAB BACK
                LEFT RIGHT UP DOWN HOME END F1..F12 NUM_0..NUM_9 GRAVE MINUS
                EQUALS LBRACKET RBRACKET BACKSLASH SEMICOLON QUOTE COMMA PERIOD
                SLASH OEM102 and the modifiers, or sc:HEX for a 9-bit scan code
                (256 added for extended keys). MOD is one of lshift rshift lctrl
                rctrl lalt ralt lwin rwin caps. Names ignore case.
  --trace       first, one line per key event: the keyboard hook's decision
                (passed or swallowed) and what it queued; then, indented, what
                followed: messages to the focus window, keys the library
                synthesized, changes of layout, translation and lock lights,
                and the notices the controller's window received
  --help        this text

Each character is decoded with the code page of the layout that was active
when it arrived; a byte the code page leaves undefined prints as U+FFFD. A
carriage return (Enter) prints as a line break and a tab as a tab; other
control characters (below 32, and 127, e.g. Backspace and Esc) print nothing.
After every event the simulated timer runs until the library has played
everything it queued.

Exit status: 0 done, 1 the description could not be loaded, 2 bad arguments.
)";
}

}  // namespace velto::simrun
