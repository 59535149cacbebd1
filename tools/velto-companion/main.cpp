// velto-companion: started by veltoctl on 64-bit Windows, where a hook
// library is loaded only into processes of its own architecture. It loads
// the library of its architecture beside it (velto.dll, or velto64.dll in
// the 64-bit build) and calls InstallHook with a window of the companion
// class, so that the applications of its architecture are translated too, by the one region, layout and timer
// of the controller. It stops when the controller's process ends or asks it to (WM_QUIT).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "controller/companion_process.h"
#include "controller/library_loader.h"
#include "shared/library_api.h"

namespace {

constexpr const char* kUsage = "usage: velto-companion --controller PID [--window HWND]\n";

int Fail(int status, const std::string& message) {
  std::fprintf(stderr, "velto-companion: %s\n", message.c_str());
  return status;
}

bool ParseNumber(const char* text, unsigned long long& out) {
  char* end = nullptr;
  out = std::strtoull(text, &end, 0);
  return *text != '\0' && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long long pid = 0;
  unsigned long long notify = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "--controller" || a == "--window") && i + 1 < argc) {
      if (!ParseNumber(argv[++i], a == "--controller" ? pid : notify)) {
        return Fail(2, a + " takes a number, not '" + argv[i] + "'\n" + kUsage);
      }
    } else if (a == "--help" || a == "-h") {
      std::printf(
          "%sInstalls this architecture's hooks for the running veltoctl (process PID)\n"
          "and keeps them until that process ends. veltoctl starts it itself.\n",
          kUsage);
      return 0;
    } else {
      return Fail(2, "unknown argument '" + a + "'\n" + kUsage);
    }
  }
  if (pid == 0) return Fail(2, std::string("the controller's process is not given\n") + kUsage);

  HANDLE controller = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (controller == nullptr)
    return Fail(1, "the controller (process " + std::to_string(pid) + ") is not running");
  const std::wstring widePath = velto::controller::BesideThisProgram(velto::controller::kLibraryName);
  const std::string dllPath = velto::controller::Utf8(widePath);
  HMODULE module = LoadLibraryW(widePath.c_str());
  if (module == nullptr) {
    return Fail(2, "cannot load the library " + dllPath + " (error " + std::to_string(GetLastError()) + ")");
  }
  velto::controller::Library lib;
  if (const char* missing = velto::controller::ResolveExports(module, lib)) {
    return Fail(2, "the library " + dllPath + " lacks the export " + missing);
  }

  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = velto::kCompanionClass;
  if (RegisterClassA(&wc) == 0) return Fail(2, "cannot register the window class");
  HWND window = CreateWindowExA(0, wc.lpszClassName, "Velto companion", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                wc.hInstance, nullptr);
  if (window == nullptr) return Fail(2, "cannot create a window");

  lib.InstallHook(reinterpret_cast<std::uintptr_t>(window));
  if (notify != 0) {
    PostMessageA(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(notify)), velto::controller::kCompanionReady,
                 0, static_cast<LPARAM>(GetCurrentProcessId()));
  }

  // The library watches the focus from this thread (focus events and a
  // timer), so it must keep taking messages.
  bool running = true;
  while (running) {
    const DWORD woke = MsgWaitForMultipleObjects(1, &controller, FALSE, INFINITE, QS_ALLINPUT);
    if (woke != WAIT_OBJECT_0 + 1) break;  // the controller ended, or the wait failed
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        running = false;
        break;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  lib.RemoveHook(reinterpret_cast<std::uintptr_t>(window));
  DestroyWindow(window);
  CloseHandle(controller);
  return 0;
}
