// The controller's notification-area icon: the badge of the active layout
// drawn at the size the system asks for, so that it stays sharp at every
// display scale instead of being a bitmap stretched by the shell.
#pragma once

#include <windows.h>

#include <string>

namespace velto::controller {

// The badge of the active layout (1 to 3 characters, UTF-16) drawn at `size`
// pixels square (clamped to 8..256) as a 32-bit icon with alpha. On: a blue
// rounded square with the badge in white. Off (translation off): no fill, a
// grey outline, the badge in grey and a diagonal stroke. An empty badge draws
// the square alone. The caller destroys the icon with DestroyIcon; nullptr
// only when GDI runs out of resources.
HICON MakeTrayIcon(const std::wstring& badge, bool on, int size);

// The size Windows asks for a small icon now, GetSystemMetrics(SM_CXSMICON)
// clamped to 16..32. It follows the display scale only in a process that
// declares itself DPI aware; otherwise it stays 16 and the shell stretches.
int TrayIconSize();

}  // namespace velto::controller
