#include "controller/command.h"

#include <utility>

#include "layoutkit/text.h"

namespace velto::controller {
namespace {

using Kind = Command::Kind;

// The commands without an argument, by their word.
constexpr struct {
  const char* word;
  Kind kind;
} kPlain[] = {
    {"on", Kind::kOn},         {"off", Kind::kOff},       {"toggle", Kind::kToggle},
    {"reload", Kind::kReload}, {"errors", Kind::kErrors}, {"state", Kind::kState},
    {"show", Kind::kShow},     {"edit", Kind::kEdit},     {"settings", Kind::kSettings},
    {"administrator", Kind::kAdministrator},              {"quit", Kind::kQuit},
    {"companion", Kind::kCompanion},
};

constexpr const char* kBuiltIn = "built-in";

// keyboard show|hide|toggle
constexpr std::pair<const char*, Command::Shown> kShown[] = {
    {"show", Command::Shown::kShow}, {"hide", Command::Shown::kHide}, {"toggle", Command::Shown::kToggle}};

}  // namespace

std::optional<Command> ParseCommand(std::string_view text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n')) {
    text.remove_suffix(1);
  }
  const std::size_t space = text.find(' ');
  const std::string verb = layoutkit::Lower(text.substr(0, space));
  // Blanks at the end are gone, so a space is followed by the argument.
  const std::string arg(space == std::string_view::npos ? "" : text.substr(text.find_first_not_of(' ', space)));
  const std::string argLower = layoutkit::Lower(arg);
  if (arg.empty()) {
    for (const auto& p : kPlain) {
      if (verb == p.word) return Command::Of(p.kind);
    }
    return std::nullopt;
  }
  if (verb == "layout") {
    const auto n = layoutkit::ParseDecimal(arg, 1);
    if (!n || *n > 3) return std::nullopt;
    return Command::Layout(*n);
  }
  if (verb == "use") return Command::Use(argLower == kBuiltIn ? "" : arg);
  if (verb == "sign-in" && (argLower == "on" || argLower == "off")) return Command::SignIn(argLower == "on");
  if (verb == "keyboard") {
    for (const auto& [word, shown] : kShown) {
      if (argLower == word) return Command::Keyboard(shown);
    }
    return std::nullopt;
  }
  if (verb == "tray" && argLower == "icon letters") return Command::Icon(TrayIcon::kBadge);
  if (verb == "tray" && argLower == "icon number") return Command::Icon(TrayIcon::kNumber);
  return std::nullopt;
}

std::string CommandText(const Command& c) {
  switch (c.kind) {
    case Kind::kLayout:
      return "layout " + std::to_string(c.layout);
    case Kind::kUse:
      return "use " + (c.file.empty() ? std::string(kBuiltIn) : c.file);
    case Kind::kSignIn:
      return std::string("sign-in ") + OnOff(c.on);
    case Kind::kKeyboard:
      for (const auto& [word, shown] : kShown) {
        if (c.shown == shown) return std::string("keyboard ") + word;
      }
      break;
    case Kind::kTrayIcon:
      return c.icon == TrayIcon::kNumber ? "tray icon number" : "tray icon letters";
    default:
      break;
  }
  for (const auto& p : kPlain) {
    if (c.kind == p.kind) return p.word;
  }
  return "";
}

std::string UnknownCommand(std::string_view text) {
  return "unknown command '" + std::string(text) + "' (help lists them)";
}

}  // namespace velto::controller
