// What the controller asks of the system it runs on: the library, files and
// their changes, the window in front and its program, rights, the Run key,
// the clock and the companion. The Windows programs run it on Win32Host
// (win32_host.h); the tests on a stand-in. Every name and path is UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "layoutkit/layout_builder.h"

namespace velto::controller {

// A file as last seen: changes when it is saved, made or removed.
struct FileStamp {
  bool exists = false;
  std::uint64_t written = 0, size = 0;
  bool operator==(const FileStamp&) const = default;
};

// The window in front, and what the rules and the tray need to know of it.
struct WindowInFront {
  std::uintptr_t window = 0;  // 0: none
  bool ours = false;          // one of this process's own windows
  std::string program;        // its executable's file name, lower case; empty if it cannot be read
  std::string windowClass;
  bool elevated = false;  // runs with more rights than a normal program
  bool appContainer = false;  // runs in an AppContainer (a Store app): no global hook reaches it
};

class Host {
 public:
  virtual ~Host() = default;

  // The library, loaded and hooked by the host.
  virtual void SetupKeyboard(const layoutkit::KeyboardDescription& d) = 0;
  virtual void SelectLayout(unsigned layout) = 0;
  virtual void Enable(bool on) = 0;
  virtual unsigned CurrentLayout() const = 0;
  virtual bool Enabled() const = 0;
  virtual unsigned Leds() const = 0;
  virtual std::string CurrentLayoutName() const = 0;  // as the library holds it

  // Files and folders.
  virtual FileStamp StampOf(const std::string& path) const = 0;
  // False with the reason in `error`; a failed write leaves the file as it was.
  virtual bool ReadText(const std::string& path, std::string& text, std::string& error) const = 0;
  virtual bool WriteText(const std::string& path, const std::string& text, std::string& error) = 0;
  virtual std::string FullPath(const std::string& path) const = 0;         // from the current folder
  virtual std::string ExpandVariables(const std::string& text) const = 0;  // %APPDATA% and the like
  virtual std::string ProfileFolder() = 0;  // with the separator at the end; empty if there is none
  virtual void MakeFolder(const std::string& path) = 0;
  virtual void OpenForEditing(const std::string& path) = 0;
  // The files to follow: a change in the folder of one of them calls
  // Controller::FilesMayHaveChanged. Each call replaces the set before.
  virtual void WatchFiles(const std::vector<std::string>& paths) = 0;
  // Calls Controller::LookAgain once, `ms` from now; a second call before
  // then moves that look, it does not add one.
  virtual void LookAgainIn(unsigned ms) = 0;

  // This program and the system.
  virtual std::string ThisProgram() const = 0;  // its full path
  virtual bool Elevated() const = 0;            // this program runs as administrator
  // Starts this program again with `arguments` as administrator; false if
  // the user said no or it could not start.
  virtual bool StartAsAdministrator(const std::string& arguments) = 0;
  virtual unsigned AnsiCodePage() const = 0;
  virtual std::uint32_t Milliseconds() const = 0;  // a clock that wraps
  virtual std::uintptr_t ForegroundWindow() const = 0;
  virtual WindowInFront InFront() const = 0;

  // The user's start at sign-in: the command the Run key starts, or empty.
  virtual std::string SignInCommand() const = 0;
  // Writes it (an empty command removes it); false with the reason in `error`.
  virtual bool SetSignInCommand(const std::string& command, std::string& error) = 0;

  // The companion of the other architecture.
  virtual bool CompanionNeeded() const = 0;
  virtual const char* CompanionArchitecture() const = 0;  // "32-bit" or "64-bit"
  virtual bool StartCompanion(std::string& error) = 0;

  // The on-screen keyboard's window: shown or hidden. While shown it draws
  // Controller::Keyboard() and follows the modifiers held by itself;
  // KeyboardChanged tells it that something else it shows may have changed.
  virtual void ShowKeyboard(bool show) = 0;
  virtual bool KeyboardShown() const = 0;
  virtual void KeyboardChanged() = 0;
  // The modifier keys held now, as `modifiers` bits (shared/keys.h), Shift's included.
  virtual std::uint16_t HeldModifiers() const = 0;

  // Ends the controller's loop.
  virtual void Quit() = 0;
};

}  // namespace velto::controller
