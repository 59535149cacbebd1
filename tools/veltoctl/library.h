// The library as a controlling application reaches it: loaded by name, its
// thirteen exports found by their underscore names.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <string>
#include <type_traits>

namespace velto::control {

// The library of this program's architecture.
#ifdef _WIN64
constexpr const char* kLibraryName = "velto64.dll";
#else
constexpr const char* kLibraryName = "velto.dll";
#endif

struct Library {
  HMODULE module = nullptr;
  void (*InstallHook)(std::uintptr_t) = nullptr;
  void (*SetupKeyboard)(const void*, const void*, const void*, const void*, const void*) = nullptr;
  void (*Enable)(std::uint32_t) = nullptr;
  void (*SelectLayout)(std::uint32_t) = nullptr;
  void (*ToggleLayout)() = nullptr;
  void (*SetCurrentKR)(std::uintptr_t) = nullptr;
  void (*RemoveHook)(std::uintptr_t) = nullptr;
  std::uint32_t (*DLLHooked)() = nullptr;
  std::uint32_t (*DLLEnabled)() = nullptr;
  std::uint32_t (*Leds)() = nullptr;
  std::uint32_t (*CurrentLayout)() = nullptr;
  void (*CurrentLayoutName)(char*) = nullptr;
  std::uint32_t (*MMFileSize)() = nullptr;
};

// A file in the folder of this program.
inline std::string BesideThisProgram(const char* name) {
  char exe[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string dir(exe, n);
  const std::size_t slash = dir.find_last_of("\\/");
  return (slash == std::string::npos ? "" : dir.substr(0, slash + 1)) + name;
}

// Resolves every export of a loaded library. Returns the name of the first
// one missing, or null when all are there.
inline const char* ResolveExports(HMODULE module, Library& lib) {
  lib.module = module;
  const char* missing = nullptr;
  auto resolve = [&](const char* name, auto& fn) {
    const FARPROC p = GetProcAddress(module, name);
    if (p == nullptr && missing == nullptr) missing = name;
    fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(reinterpret_cast<void*>(p));
  };
  resolve("_InstallHook", lib.InstallHook);
  resolve("_SetupKeyboard", lib.SetupKeyboard);
  resolve("_Enable", lib.Enable);
  resolve("_SelectLayout", lib.SelectLayout);
  resolve("_ToggleLayout", lib.ToggleLayout);
  resolve("_SetCurrentKR", lib.SetCurrentKR);
  resolve("_RemoveHook", lib.RemoveHook);
  resolve("_DLLHooked", lib.DLLHooked);
  resolve("_DLLEnabled", lib.DLLEnabled);
  resolve("_Leds", lib.Leds);
  resolve("_CurrentLayout", lib.CurrentLayout);
  resolve("_CurrentLayoutName", lib.CurrentLayoutName);
  resolve("_MMFileSize", lib.MMFileSize);
  return missing;
}

}  // namespace velto::control
