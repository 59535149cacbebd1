// The library's entry point and the thin procedures that the system calls:
// each hands its call to the engine's procedure of procs.h unchanged.
#include "win32/win32.h"

#include "hooks/procs.h"
#include "control/exports.h"

namespace velto::win32 {

namespace {
HINSTANCE g_module = nullptr;
}  // namespace

HINSTANCE ModuleInstance() { return g_module; }

LRESULT CALLBACK KeyboardHook(int code, WPARAM wParam, LPARAM lParam) {
  return velto::KeyboardHookProc(code, wParam, lParam);
}

LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam) {
  return velto::GetMessageHookProc(code, wParam, lParam);
}

LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
  return velto::CbtHookProc(code, wParam, lParam);
}

VOID CALLBACK TimerTick(HWND, UINT, UINT_PTR, DWORD) { velto::TimerProc(); }

}  // namespace velto::win32

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  velto::win32::g_module = instance;
  if (reason == DLL_PROCESS_ATTACH) {
    velto::ProcessAttach();
  } else if (reason == DLL_PROCESS_DETACH) {
    velto::ProcessDetach();
  }
  return TRUE;
}
