// The controller both programs share: velto.exe in the notification area and
// veltoctl.exe in a console. It loads the library, hands it the layouts
// (from a .vkl, compiled here, or a .vkb), loads them again when their files
// are saved, follows the settings file and the window in front for the rules
// per program, and runs the commands that the console, the tray menu and a
// second start give it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "controller/companion.h"
#include "controller/library.h"
#include "controller/rules.h"
#include "controller/settings.h"
#include "controller/system.h"
#include "layoutkit/layout_builder.h"

namespace velto::controller {

// The messages of the controller's window (WM_APP + 3 is the companion's
// kCompanionReady).
constexpr UINT kQuitRequest = WM_APP + 1;
constexpr UINT kTrayMessage = WM_APP + 2;  // from the notification area
constexpr UINT kCommandPosted =
    WM_APP + 4;  // lParam: a std::string* to run, or 0: look at the window in front
constexpr UINT kShowMenu = WM_APP + 5;
// WM_COPYDATA of a command from a second start.
constexpr ULONG_PTR kCommandData = 0x56454C54;
constexpr UINT_PTR kTickTimer = 1;
constexpr UINT kTickMs = 50;  // the window in front is looked at this often
constexpr const wchar_t* kWindowClass = L"VeltoControl";
constexpr const wchar_t* kWindowTitle =
    L"Velto";  // the instance that owns the layouts; a watcher has another

struct Options {
  std::string file;      // a layout file named on the command line, over the settings' one
  std::string dll;       // the library; default: the one beside the program
  std::string settings;  // the settings file; default %APPDATA%\Velto\settings.ini
  std::string log;       // a file that gets every line the controller shows
  std::string send;      // a command for the instance that runs
  int layout = -1;
  bool disabled = false;
  bool events = false;
  bool quiet = false;
  bool attach = false;
  bool tray = false;
  bool companion = true;
  bool elevatedRestart = false;  // started by "restart as administrator": the old instance makes way
};

// Reads the command line (without the program's name). Returns 0 to go on,
// -1 after printing the help or the version, else the exit status of bad
// arguments.
int ParseOptions(const std::vector<std::string>& args, bool trayProgram, Options& o);

// How the controller shows what happens: the console program prints it, the
// tray program shows it in the notification area.
class View {
 public:
  virtual ~View() = default;
  // A line of what happens (a change of state, a layout loaded, a rule).
  virtual void Say(const std::string& line) = 0;
  // Errors: a summary, and every diagnostic as FILE:LINE:COL: error: ...
  virtual void Problems(const std::string& summary, const std::vector<std::string>& lines) = 0;
  // Something the user should notice once (a balloon in the tray).
  virtual void Tell(const std::string& text) = 0;
  // The state changed: layout, translation, lights, errors or settings.
  virtual void Refresh() = 0;
  // The errors of the layout file, all of them.
  virtual void ShowErrors() = 0;
  // Velto was started again, or asked to show itself.
  virtual void Show() = 0;
  // A message of the controller's window the view asked for; true if handled.
  virtual bool Handle(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
};

class Controller {
 public:
  Controller(Options options, View& view) : o_(std::move(options)), view_(&view) {}

  // Runs until quit; returns the exit status.
  int Run(bool trayProgram);
  const Options& options() const { return o_; }

  // The state, for the views.
  unsigned Layout() const { return lib_.CurrentLayout(); }
  bool On() const { return lib_.DLLEnabled() != 0; }
  unsigned Leds() const { return lib_.Leds(); }
  std::string LayoutName(unsigned layout) const;  // UTF-8; empty when not known
  std::string Badge(unsigned layout) const;       // what the tray icon carries
  std::string StateLine() const;  // "layout 1 (US International), translation on, lights: ..."
  const std::string& LayoutFile() const { return layoutFile_; }  // empty: the built-in layouts
  const std::string& SettingsFile() const { return settingsFile_; }
  const Settings& settings() const { return settings_; }
  const std::vector<std::string>& Errors() const { return errors_; }
  std::string LayoutsFolder() const { return FolderOf(settingsFile_) + "layouts\\"; }
  // The program in front when it runs as administrator, else empty.
  const std::string& ElevatedInFront() const { return elevatedInFront_; }
  bool Elevated() const { return elevated_; }
  bool Attached() const { return o_.attach; }
  HWND window() const { return window_; }

  // Runs a command as typed into the console, chosen from the tray menu or
  // sent by a second start: "layout N", "on", "off", "toggle", "reload",
  // "use FILE", "sign-in on|off", "tray icon letters|number", "errors",
  // "state", "show", "edit", "settings", "administrator", "quit", "help".
  // Returns false for a command it does not know.
  bool Execute(const std::string& command);

  LRESULT WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

 private:
  struct Watched {
    std::vector<std::string> files;
    std::vector<FileStamp> loaded, seen;
  };

  std::string LibraryPath() const;
  int Start(bool trayProgram);
  int HandOver();
  bool CreateControlWindow();
  void Stop();
  void Loop();
  void Quit();

  void ReadSettings(bool starting);
  std::string ResolvedLayoutFile() const;
  bool LoadLayout(const std::string& path, bool starting);
  void WarnAboutCodePages();
  void ApplySignIn(bool on, bool say);
  std::string SignInCommandLine() const;
  void SetSetting(const std::string& key, const std::string& value);

  void Tick();
  void FollowForeground();
  static void Watch(Watched& w, std::vector<std::string> files);
  static bool ChangedAndSettled(Watched& w);

  void OnNotice(WPARAM wParam, LPARAM lParam);
  void StartCompanion();

  Options o_;
  View* view_;
  UINT consoleCodePage_ = 0;
  control::Library lib_;
  HWND window_ = nullptr;
  UINT notifyMsg_ = 0;
  HANDLE running_ = nullptr;
  HWINEVENTHOOK foregroundHook_ = nullptr;

  layoutkit::KeyboardDescription description_{};
  std::string settingsFile_, layoutFile_;
  Settings settings_;
  std::vector<std::string> errors_;  // of the layout file, as last loaded
  Watched layoutWatch_, settingsWatch_;
  int ticks_ = 0;
  bool quit_ = false;

  RuleFollower rules_;
  ElevationNotices notices_;
  HWND lastInFront_ = nullptr;
  std::string elevatedInFront_;
  bool elevated_ = false;

  control::Companion companion_;
  DWORD companionStarts_[5] = {};  // GetTickCount of the latest starts, newest first
};

// The two programs' main: the console one (veltoctl) or the tray one (velto).
int RunController(bool trayProgram);

}  // namespace velto::controller
