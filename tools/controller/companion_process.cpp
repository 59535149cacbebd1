#include "controller/companion_process.h"

#include "controller/library_loader.h"

namespace velto::controller {

namespace {

constexpr DWORD kStopWaitMs = 5000;

}  // namespace

#ifdef _WIN64
bool Companion::Needed() {
  return true;
}
const char* Companion::Architecture() {
  return "32-bit";
}
const char* Companion::FileName() {
  return "velto-companion.exe";
}
#else
bool Companion::Needed() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}
const char* Companion::Architecture() {
  return "64-bit";
}
const char* Companion::FileName() {
  return "velto-companion64.exe";
}
#endif

bool Companion::Start(HWND window, bool hidden, std::string& error) {
  const std::wstring path = BesideThisProgram(FileName());
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    error = FileName() + std::string(" is not in this program's folder");
    return false;
  }
  std::wstring command = L"\"" + path + L"\" --controller " + std::to_wstring(GetCurrentProcessId()) +
                         L" --window " + std::to_wstring(reinterpret_cast<std::uintptr_t>(window));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, FALSE, hidden ? CREATE_NO_WINDOW : 0,
                      nullptr, nullptr, &startup, &info_)) {
    error = "cannot start " + Utf8(path) + " (error " + std::to_string(GetLastError()) + ")";
    info_ = {};
    return false;
  }
  return true;
}

DWORD Companion::Reap() {
  DWORD code = 0;
  GetExitCodeProcess(info_.hProcess, &code);
  CloseHandle(info_.hProcess);
  CloseHandle(info_.hThread);
  info_ = {};
  return code;
}

void Companion::Stop() {
  if (info_.hProcess == nullptr) return;
  // Its thread may not take messages yet: ask again until it has ended.
  DWORD waited = 0;
  constexpr DWORD kStep = 50;
  while (waited < kStopWaitMs) {
    PostThreadMessageA(info_.dwThreadId, WM_QUIT, 0, 0);
    if (WaitForSingleObject(info_.hProcess, kStep) == WAIT_OBJECT_0) break;
    waited += kStep;
  }
  if (waited >= kStopWaitMs) {
    TerminateProcess(info_.hProcess, 1);
    WaitForSingleObject(info_.hProcess, kStopWaitMs);
  }
  Reap();
}

}  // namespace velto::controller
