// What Win32Host and the tray ask of Windows beyond the library: folders,
// the window in front and its program, the Run key, files and their changes.
// Every name and path here is UTF-8.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>
#include <vector>

#include "controller/diagnostics_report.h"
#include "controller/host.h"
#include "controller/library_loader.h"

namespace velto::controller {

std::wstring Wide(const std::string& utf8);

// The program's arguments, in UTF-8 (the narrow argv is in the ANSI code
// page, which cannot hold every file name).
std::vector<std::string> Arguments();

std::string ThisProgram();  // its full path
// The path made absolute from the current folder.
std::string FullPath(const std::string& path);
// %APPDATA%\Velto\, made if it is missing; empty if there is no profile.
std::string ProfileFolder();

WindowInFront ReadWindowInFront();
// The window in front for the diagnostics report, and the keyboard layout
// of its thread (0 when there is none).
ForegroundFacts ReadForegroundFacts(std::uint32_t& keyboardLayout);
bool ThisProcessElevated();
FileStamp StampOf(const std::string& path);

// The .vkl and .vkb files of a folder, sorted by name.
std::vector<std::string> LayoutFilesIn(const std::string& folder);

// The command that the Run key of the user starts at sign-in, under the name
// "Velto", or empty.
std::string SignInCommand();
// The same for every user (an all-users install's), which only an
// administrator changes.
std::string MachineSignInCommand();
// Writes (or with an empty command, removes) it; false with Windows' words in `error`.
bool SetSignInCommand(const std::string& command, std::string& error);

// Opens a file in the user's editor for its kind (Notepad where there is none).
void OpenForEditing(const std::string& path);
// Starts this program again with `arguments`, asking for administrator
// rights; false if the user said no or it could not start.
bool StartAsAdministrator(const std::string& arguments);

// "error 5: Access is denied."
std::string WindowsError(DWORD code);

}  // namespace velto::controller
