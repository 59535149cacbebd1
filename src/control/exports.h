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
