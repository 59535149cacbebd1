// The library as a controlling application reaches it: loaded by name, its
// thirteen exports found by their underscore names.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <string>
#include <type_traits>

#include "shared/library_api.h"

namespace velto::control {

// The library of this program's architecture.
#ifdef _WIN64
constexpr const char* kLibraryName = "velto64.dll";
#else
constexpr const char* kLibraryName = "velto.dll";
#endif

struct Library {
  HMODULE module = nullptr;
#define VELTO_EXPORT_POINTER(type, name, parameters) type(*name) parameters = nullptr;
  VELTO_LIBRARY_EXPORTS(VELTO_EXPORT_POINTER)
#undef VELTO_EXPORT_POINTER
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
#define VELTO_RESOLVE_EXPORT(type, name, parameters) resolve("_" #name, lib.name);
  VELTO_LIBRARY_EXPORTS(VELTO_RESOLVE_EXPORT)
#undef VELTO_RESOLVE_EXPORT
  return missing;
}

}  // namespace velto::control
