#include "controller/win32_system.h"

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>

#include "controller/controller_core.h"
#include "layoutkit/text.h"

namespace velto::controller {
namespace {

constexpr const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* kRunValue = L"Velto";

struct Handle {
  HANDLE h = nullptr;
  ~Handle() {
    if (h != nullptr) CloseHandle(h);
  }
};

// Whether a process runs elevated. One whose token Velto may not even read
// has more rights than Velto, which is what matters here.
bool Elevated(HANDLE process) {
  Handle token;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token.h)) return GetLastError() == ERROR_ACCESS_DENIED;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  return GetTokenInformation(token.h, TokenElevation, &elevation, sizeof elevation, &size) &&
         elevation.TokenIsElevated != 0;
}

// Whether a process runs in an AppContainer, as Store apps do: Windows loads
// no global hook's library into those.
bool InAppContainer(HANDLE process) {
  Handle token;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token.h)) return false;
  DWORD contained = 0, size = 0;
  return GetTokenInformation(token.h, TokenIsAppContainer, &contained, sizeof contained, &size) && contained != 0;
}

}  // namespace

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(std::max(n, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::vector<std::string> Arguments() {
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(Utf8(args[i]));
  LocalFree(args);
  return out;
}

std::string ThisProgram() {
  wchar_t path[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  return Utf8(std::wstring(path, n));
}

std::string FullPath(const std::string& path) {
  wchar_t full[MAX_PATH * 4];
  const DWORD n = GetFullPathNameW(Wide(path).c_str(), static_cast<DWORD>(std::size(full)), full, nullptr);
  return n > 0 && n < std::size(full) ? Utf8(std::wstring(full, n)) : path;
}

std::string ProfileFolder() {
  wchar_t appData[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, appData))) return "";
  const std::wstring folder = std::wstring(appData) + L"\\Velto";
  CreateDirectoryW(folder.c_str(), nullptr);
  return Utf8(folder) + "\\";
}

WindowInFront ReadWindowInFront() {
  WindowInFront fg;
  const HWND window = GetForegroundWindow();
  fg.window = reinterpret_cast<std::uintptr_t>(window);
  if (window == nullptr) return fg;
  wchar_t name[256];
  if (GetClassNameW(window, name, static_cast<int>(std::size(name))) > 0) fg.windowClass = Utf8(name);
  DWORD id = 0;
  GetWindowThreadProcessId(window, &id);
  fg.ours = id == GetCurrentProcessId();
  Handle process;
  process.h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (process.h == nullptr) {
    fg.elevated = GetLastError() == ERROR_ACCESS_DENIED;
    return fg;
  }
  wchar_t path[MAX_PATH * 4];
  DWORD size = static_cast<DWORD>(std::size(path));
  if (QueryFullProcessImageNameW(process.h, 0, path, &size)) {
    fg.program = layoutkit::Lower(FileNameOf(Utf8(std::wstring(path, size))));
  }
  fg.elevated = Elevated(process.h);
  fg.appContainer = InAppContainer(process.h);
  return fg;
}

namespace {

bool SystemIs64Bit() {
#ifdef _WIN64
  return true;
#else
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
#endif
}

}  // namespace

ForegroundFacts ReadForegroundFacts(std::uint32_t& keyboardLayout) {
  ForegroundFacts f;
  const WindowInFront fg = ReadWindowInFront();
  const HWND window = reinterpret_cast<HWND>(fg.window);
  keyboardLayout = 0;
  if (window == nullptr) return f;
  f.known = true;
  f.program = fg.program;
  f.windowClass = fg.windowClass;
  f.elevated = fg.elevated;
  f.unicodeWindow = IsWindowUnicode(window) != FALSE;
  DWORD id = 0;
  const DWORD thread = GetWindowThreadProcessId(window, &id);
  keyboardLayout = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(GetKeyboardLayout(thread)));
  Handle process;
  process.h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (process.h == nullptr) return f;
  BOOL wow64 = FALSE;
  if (IsWow64Process(process.h, &wow64)) f.bits = SystemIs64Bit() && !wow64 ? 64 : 32;
  f.appContainer = InAppContainer(process.h);
  return f;
}

bool ThisProcessElevated() {
  return Elevated(GetCurrentProcess());
}

FileStamp StampOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return {};
  FileStamp s;
  s.exists = true;
  s.written =
      static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
  s.size = static_cast<ULONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  return s;
}

std::vector<std::string> LayoutFilesIn(const std::string& folder) {
  std::vector<std::string> files;
  for (const wchar_t* pattern : {L"*.vkl", L"*.vkb"}) {
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((Wide(folder) + pattern).c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) continue;
    do {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        files.push_back(folder + Utf8(found.cFileName));
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
  std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
    return layoutkit::Lower(a) < layoutkit::Lower(b);
  });
  return files;
}

namespace {

std::string RunValue(HKEY root) {
  wchar_t value[MAX_PATH * 4];
  DWORD size = sizeof value;
  if (RegGetValueW(root, kRunKey, kRunValue, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
    return "";
  return Utf8(value);
}

}  // namespace

std::string SignInCommand() {
  return RunValue(HKEY_CURRENT_USER);
}

std::string MachineSignInCommand() {
  return RunValue(HKEY_LOCAL_MACHINE);
}

bool SetSignInCommand(const std::string& command, std::string& error) {
  HKEY key;
  LSTATUS status =
      RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) {
    if (command.empty()) {
      status = RegDeleteValueW(key, kRunValue);
      if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
    } else {
      const std::wstring value = Wide(command);
      status = RegSetValueExW(key, kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
  }
  if (status != ERROR_SUCCESS) error = WindowsError(static_cast<DWORD>(status));
  return status == ERROR_SUCCESS;
}

void OpenForEditing(const std::string& path) {
  const std::wstring file = Wide(path);
  if (reinterpret_cast<INT_PTR>(
          ShellExecuteW(nullptr, L"edit", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL)) > 32) {
    return;
  }
  const std::wstring quoted = L"\"" + file + L"\"";
  ShellExecuteW(nullptr, L"open", L"notepad.exe", quoted.c_str(), nullptr, SW_SHOWNORMAL);
}

bool StartAsAdministrator(const std::string& arguments) {
  const std::wstring program = Wide(ThisProgram()), args = Wide(arguments);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.lpVerb = L"runas";
  info.lpFile = program.c_str();
  info.lpParameters = args.c_str();
  info.nShow = SW_SHOWNORMAL;
  return ShellExecuteExW(&info) != FALSE;
}

std::string WindowsError(DWORD code) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::string words = text != nullptr ? Utf8(text) : "";
  LocalFree(text);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' '))
    words.pop_back();
  return "error " + std::to_string(code) + (words.empty() ? "" : ": " + words);
}

}  // namespace velto::controller
