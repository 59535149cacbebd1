// The library's interface to a controlling application: its thirteen
// exports, each with its return type and parameters, written once. The
// library declares them from this list (control/exports.h) and a controller
// that loads the library by name finds them from it: each is exported under
// its name with one leading underscore, with the plain C calling convention.
// Window handles arrive pointer-sized and are kept as their low 32 bits.
#pragma once

#include <cstdint>

// X(return type, name, parameter list) for every export, in the order of the
// module definition.
#define VELTO_LIBRARY_EXPORTS(X)                                                                            \
  X(void, InstallHook, (std::uintptr_t window))                                                             \
  X(void, SetupKeyboard,                                                                                    \
    (const void* options, const void* keyTable, const void* layouts, const void* deadKeys, const void* macros)) \
  X(void, Enable, (std::uint32_t flag))                                                                     \
  X(void, SelectLayout, (std::uint32_t layout))                                                             \
  X(void, ToggleLayout, ())                                                                                 \
  X(void, SetCurrentKR, (std::uintptr_t window))                                                            \
  X(void, RemoveHook, (std::uintptr_t window))                                                              \
  X(std::uint32_t, DLLHooked, ())                                                                           \
  X(std::uint32_t, DLLEnabled, ())                                                                          \
  X(std::uint32_t, Leds, ())                                                                                \
  X(std::uint32_t, CurrentLayout, ())                                                                       \
  X(void, CurrentLayoutName, (char* name))                                                                  \
  X(std::uint32_t, MMFileSize, ())

namespace velto {

// The window class of a companion: on 64-bit Windows a hook DLL is loaded
// only into processes of its own architecture, so the controller starts a
// process of the other architecture that loads that architecture's library
// and calls InstallHook with a window of this class. For such a window
// InstallHook hooks the threads of this architecture as the keyboard focus
// reaches them, keeping the hooks in the calling process (they die with it),
// and registers no client; RemoveHook takes them down again. Region, clients
// and timer stay the controller's: its timer plays the actions of both.
inline constexpr char kCompanionClass[] = "VeltoCompanion";

}  // namespace velto
