// The exported control functions, plain C calling convention. The module
// definition exports each under its name with one leading underscore.
// Window handles arrive pointer-sized and are kept as their low 32 bits.
#pragma once

#include <cstdint>

extern "C" {

void InstallHook(std::uintptr_t window);
void SetupKeyboard(const void* options, const void* keyTable, const void* layouts,
                   const void* deadKeys, const void* macros);
void Enable(std::uint32_t flag);
void SelectLayout(std::uint32_t layout);
void ToggleLayout();
void SetCurrentKR(std::uintptr_t window);
void RemoveHook(std::uintptr_t window);
std::uint32_t DLLHooked();
std::uint32_t DLLEnabled();
std::uint32_t Leds();
std::uint32_t CurrentLayout();
void CurrentLayoutName(char* name);
std::uint32_t MMFileSize();

}  // extern "C"

namespace velto {

// The window class of a companion: on 64-bit Windows a hook DLL is loaded
// only into processes of its own architecture, so the controller starts a
// process of the other architecture that loads that architecture's library
// and calls InstallHook with a window of this class. For such a window
// InstallHook hooks the threads of this architecture as the keyboard focus
// reaches them (control/companion.h), keeping the hooks in the calling
// process (they die with it), and registers no client; RemoveHook takes them
// down again. Region, clients and timer stay the controller's: its timer
// plays the actions of both.
inline constexpr char kCompanionClass[] = "VeltoCompanion";

}  // namespace velto
