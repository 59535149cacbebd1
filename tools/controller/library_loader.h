// The library as a controlling application reaches it: loaded by name, its
// thirteen exports found by their underscore names.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <string>
#include <type_traits>

#include "shared/library_api.h"

namespace velto::controller {

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

// A file in the folder of this program, which may be one whose name the
// ANSI code page cannot hold.
inline std::wstring BesideThisProgram(const char* name) {
  wchar_t exe[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH * 4);
  std::wstring path(exe, n);
  const std::size_t slash = path.find_last_of(L"\\/");
  path.resize(slash == std::wstring::npos ? 0 : slash + 1);
  for (const char* c = name; *c != '\0'; ++c) path += static_cast<wchar_t>(*c);  // the names are ASCII
  return path;
}

// A wide text, such as a path, in UTF-8.
inline std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, out.data(), n, nullptr, nullptr);
  return out;
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

}  // namespace velto::controller
