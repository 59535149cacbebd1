// The companion of the other architecture (velto-companion.exe beside a
// 64-bit veltoctl, velto-companion64.exe beside a 32-bit one on 64-bit
// Windows): it installs that architecture's hooks, so that the applications
// of both architectures are translated.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

namespace velto::controller {

// Posted by the companion to the controller's window once its hooks are in.
constexpr UINT kCompanionReady = WM_APP + 3;

class Companion {
 public:
  // Whether this system runs programs of the other architecture, and their name.
  static bool Needed();
  static const char* Architecture();  // "32-bit" or "64-bit"
  static const char* FileName();

  // Starts the companion beside this program for `window`. On failure returns
  // false with the reason in `error`.
  bool Start(HWND window, bool hidden, std::string& error);
  // The process handle to wait on, or null when none runs.
  HANDLE process() const { return info_.hProcess; }
  DWORD pid() const { return info_.dwProcessId; }
  // After process() was signalled: forgets the process; returns its exit code.
  DWORD Reap();
  // Asks the companion to stop, waits for it (ends it if it does not).
  void Stop();

 private:
  PROCESS_INFORMATION info_{};
};

}  // namespace velto::controller
