// The controller's settings: an INI file in the user's profile
// (%APPDATA%\Velto\settings.ini), which people edit by hand as they do the
// INI files of many Windows programs. docs/settings.md describes it.
//
// Read and rewritten here as text, without Windows, so that a setting the
// tray menu changes is written back in place and the user's comments, order
// and spelling survive.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "layoutkit/diagnostics.h"

namespace velto::controller {

// A rule for the programs it matches: while one of them has the foreground,
// translation is off there, or the given layout is active.
struct Rule {
  std::string name;                   // from the section's header, [rule NAME]
  std::vector<std::string> programs;  // executable file names, lower case ("mstsc.exe")
  std::vector<std::string> classes;   // window class names, as written
  bool off = false;                   // translation off
  int layout = -1;                    // else this layout (0 to 3)
  int line = 0;                       // where the section starts

  // "translation off" or "layout 2"
  std::string Describe() const;
};

// What the icon in the notification area carries.
enum class TrayIcon { kBadge, kNumber };

// A window's place on the screen, in pixels: where the on-screen keyboard
// was last left. Unknown while the width or height is 0.
struct WindowPlace {
  int x = 0, y = 0, width = 0, height = 0;
  bool known() const { return width > 0 && height > 0; }
  bool operator==(const WindowPlace&) const = default;
};

// "X, Y, WIDTH, HEIGHT", as the settings write a place.
std::string PlaceText(const WindowPlace& place);

struct Settings {
  std::string layoutFile;   // as written: empty for the built-in layouts; relative to the settings' folder
  int layout = 0;           // active at start
  bool translation = true;  // on at start
  bool startAtSignIn = false;
  TrayIcon trayIcon = TrayIcon::kBadge;
  bool trayLights = true;     // the lock lights in the tooltip
  bool notifications = true;  // balloons for errors, rules and the like
  WindowPlace keyboardWindow;  // the on-screen keyboard's place; unknown: Velto chooses one
  std::vector<Rule> rules;
};

// Reads settings text. A line that cannot be used is reported in `diags`
// (FILE:LINE:COL) and that setting keeps its default; the rest stands.
Settings ParseSettings(std::string_view text, const std::string& fileName, layoutkit::Diagnostics& diags);

// The text with KEY of the [velto] section set to VALUE: the line that sets it
// is rewritten in place (keeping any comment after the value), or added at
// the end of the section, which is made if there is none.
std::string WithSetting(std::string_view text, std::string_view key, std::string_view value);

// The file written on a first start: every setting at its default, explained,
// and the recommended rules.
std::string DefaultSettingsText();

// "on"/"off" as settings write them.
inline const char* OnOff(bool on) {
  return on ? "on" : "off";
}

}  // namespace velto::controller
