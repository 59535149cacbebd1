// Shared by the files of the Windows back end: windows.h, freed of the
// macros that would rename the seam's own functions, the 32-bit handle
// conversions, and the pieces that dll_main.cpp owns.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// windows.h maps these names to their ...A / ...W functions; platform.h uses
// them for its own functions.
#undef GetClassName
#undef GetMessage
#undef MapVirtualKey
#undef MapVirtualKeyEx
#undef PostMessage
#undef RegisterWindowMessage
#undef VkKeyScanEx

#include <cstdint>

#include "platform/platform.h"

namespace velto::win32 {

using platform::Handle;

// Window, hook and layout handles stay within 32 bits; a 64-bit process
// widens them with sign extension, as Windows itself does.
template <typename H>
inline H Widen(Handle h) {
  return reinterpret_cast<H>(static_cast<std::intptr_t>(static_cast<std::int32_t>(h)));
}

template <typename H>
inline Handle Narrow(H h) {
  return static_cast<Handle>(reinterpret_cast<std::uintptr_t>(h));
}

// The module instance of the library, as DllMain last received it.
HINSTANCE ModuleInstance();

// The procedures the system calls; each hands the call to the engine.
LRESULT CALLBACK KeyboardHook(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam);
VOID CALLBACK TimerTick(HWND window, UINT message, UINT_PTR id, DWORD time);

}  // namespace velto::win32
