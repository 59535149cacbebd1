// A command for the controller, parsed once where it is given: typed into
// veltoctl, sent by a second start (--send), or built by the tray menu.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "controller/settings.h"

namespace velto::controller {

struct Command {
  enum class Kind {
    kLayout,         // layout N
    kOn,             // on
    kOff,            // off
    kToggle,         // toggle
    kReload,         // reload
    kUse,            // use FILE, use built-in
    kSignIn,         // sign-in on|off
    kTrayIcon,       // tray icon letters|number
    kErrors,         // errors
    kState,          // state
    kShow,           // show
    kKeyboard,       // keyboard show|hide|toggle
    kEdit,           // edit
    kSettings,       // settings
    kAdministrator,  // administrator
    kCompanion,      // companion: start the companion again, after it was given up
    kQuit,           // quit
  };
  Kind kind = Kind::kShow;
  unsigned layout = 0;               // kLayout: 0 to 3
  bool on = false;                   // kSignIn
  std::string file;                  // kUse: as given; empty for the built-in layouts
  TrayIcon icon = TrayIcon::kBadge;  // kTrayIcon
  enum class Shown { kShow, kHide, kToggle } shown = Shown::kShow;  // kKeyboard

  static Command Of(Kind kind) {
    Command c;
    c.kind = kind;
    return c;
  }
  static Command Layout(unsigned n) {
    Command c = Of(Kind::kLayout);
    c.layout = n;
    return c;
  }
  static Command SignIn(bool on) {
    Command c = Of(Kind::kSignIn);
    c.on = on;
    return c;
  }
  static Command Use(std::string file) {
    Command c = Of(Kind::kUse);
    c.file = std::move(file);
    return c;
  }
  static Command Icon(TrayIcon icon) {
    Command c = Of(Kind::kTrayIcon);
    c.icon = icon;
    return c;
  }
  static Command Keyboard(Shown shown) {
    Command c = Of(Kind::kKeyboard);
    c.shown = shown;
    return c;
  }
  bool operator==(const Command&) const = default;
};

// Reads a command as people type it: the words without regard to case, a
// file name as written, blanks and line ends after it ignored. Nothing when
// the text is not a command.
std::optional<Command> ParseCommand(std::string_view text);

// The command as text, which ParseCommand reads back as the same command.
std::string CommandText(const Command& c);

// What the one who gave `text` is told when it is not a command:
// "unknown command 'bogus' (help lists them)".
std::string UnknownCommand(std::string_view text);

}  // namespace velto::controller
