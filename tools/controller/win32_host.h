// The controller on Windows: the library loaded and hooked for the
// controller's window, the mutex that says an instance runs, the hand-over
// to it from a second start, the window's messages and timers, the window
// in front, the folders of the watched files, the companion of the other
// architecture, and the program's main (RunController).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "controller/companion_process.h"
#include "controller/controller_core.h"
#include "controller/keyboard_window.h"
#include "controller/library_loader.h"
#include "controller/win32_system.h"

namespace velto::controller {

// The messages of the controller's window (WM_APP + 3 is the companion's
// kCompanionReady).
constexpr UINT kQuitRequest = WM_APP + 1;
constexpr UINT kTrayMessage = WM_APP + 2;       // from the notification area
constexpr UINT kCommandPosted = WM_APP + 4;     // lParam: a Command* to run
constexpr UINT kShowMenu = WM_APP + 5;
constexpr UINT kForegroundChanged = WM_APP + 6;

// A view that takes messages of the controller's window (the tray's icon
// and menu).
class WindowClient {
 public:
  virtual ~WindowClient() = default;
  // True if handled.
  virtual bool Handle(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
};

class Win32Host : public Host {
 public:
  Win32Host(const Options& o, bool trayProgram) : o_(o), trayProgram_(trayProgram) {}
  Win32Host(const Win32Host&) = delete;
  Win32Host& operator=(const Win32Host&) = delete;

  // Runs `c` until quit and returns the exit status: loads the library,
  // hands over to an instance that runs already, or makes the window,
  // hooks, starts the controller, calls `running` and takes messages.
  int Run(Controller& c, WindowClient* client, const std::function<void()>& running);
  // Gives the controller a command from any thread.
  void Post(const Command& command);
  HWND window() const { return window_; }
  // The diagnostics report of this instance; `seenOnlyBy` as in DiagnosticFacts.
  std::string DiagnosticsText(const std::string& seenOnlyBy = "") const;

  void SetupKeyboard(const layoutkit::KeyboardDescription& d) override;
  void SelectLayout(unsigned layout) override { lib_.SelectLayout(layout); }
  void Enable(bool on) override { lib_.Enable(on ? 1 : 0); }
  unsigned CurrentLayout() const override { return lib_.CurrentLayout(); }
  bool Enabled() const override { return lib_.DLLEnabled() != 0; }
  unsigned Leds() const override { return lib_.Leds(); }
  std::string CurrentLayoutName() const override;
  FileStamp StampOf(const std::string& path) const override { return controller::StampOf(path); }
  bool ReadText(const std::string& path, std::string& text, std::string& error) const override;
  bool WriteText(const std::string& path, const std::string& text, std::string& error) override;
  std::string FullPath(const std::string& path) const override { return controller::FullPath(path); }
  std::string ExpandVariables(const std::string& text) const override;
  std::string ProfileFolder() override { return controller::ProfileFolder(); }
  void MakeFolder(const std::string& path) override;
  void OpenForEditing(const std::string& path) override { controller::OpenForEditing(path); }
  void WatchFiles(const std::vector<std::string>& paths) override;
  void LookAgainIn(unsigned ms) override;
  std::string ThisProgram() const override { return controller::ThisProgram(); }
  bool Elevated() const override { return ThisProcessElevated(); }
  bool StartAsAdministrator(const std::string& arguments) override {
    return controller::StartAsAdministrator(arguments);
  }
  unsigned AnsiCodePage() const override { return GetACP(); }
  std::uint32_t Milliseconds() const override { return GetTickCount(); }
  std::uintptr_t ForegroundWindow() const override;
  WindowInFront InFront() const override { return ReadWindowInFront(); }
  std::string SignInCommand() const override { return controller::SignInCommand(); }
  bool SetSignInCommand(const std::string& command, std::string& error) override {
    return controller::SetSignInCommand(command, error);
  }
  bool CompanionNeeded() const override { return Companion::Needed(); }
  const char* CompanionArchitecture() const override { return Companion::Architecture(); }
  bool StartCompanion(std::string& error) override { return companion_.Start(window_, o_.tray, error); }
  void ShowKeyboard(bool show) override { keyboard_.Show(show); }
  bool KeyboardShown() const override { return keyboard_.Shown(); }
  void KeyboardChanged() override { keyboard_.Changed(); }
  std::uint16_t HeldModifiers() const override;
  void Quit() override;

  LRESULT WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

 private:
  std::string LibraryPath() const;
  int OpenLibrary();
  int ClaimOrHandOver();
  int HandOver();
  int ReportDiagnostics();
  bool CreateControlWindow();
  bool WatchMissingFolders();
  void FolderChanged(std::size_t n);
  void Loop();
  void Stop();

  // A folder of watched files and its change notification; null while it
  // cannot be watched.
  struct WatchedFolder {
    std::string path;
    HANDLE change = nullptr;
  };

  const Options& o_;
  const bool trayProgram_;
  Controller* c_ = nullptr;
  WindowClient* client_ = nullptr;
  Library lib_;
  HWND window_ = nullptr;
  UINT notifyMsg_ = 0;
  HANDLE running_ = nullptr;
  HWINEVENTHOOK foregroundHook_ = nullptr;
  bool foregroundEvents_ = false;  // the system tells of a new window in front
  std::vector<WatchedFolder> folders_;
  UINT consoleCodePage_ = 0;
  bool quit_ = false;
  bool hooked_ = false;          // this process installed the library's hooks
  bool companionReady_ = false;  // the companion said its hooks are in
  Companion companion_;
  KeyboardWindow keyboard_;
};

// The two programs' main: the console one (veltoctl) or the tray one (velto).
int RunController(bool trayProgram);

}  // namespace velto::controller
