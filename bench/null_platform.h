// A Windows that costs next to nothing, for the benchmarks: one application
// thread whose window has the focus, its key input and posted messages in two
// small rings, and every other call of the platform answered at once. Only
// the engine's own work is left to measure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace velto::bench {

constexpr platform::Handle kFocusWindow = 0x200;
constexpr platform::Handle kControllerWindow = 0x100;
constexpr std::uint32_t kApplicationThread = 1;  // the focus window's

// Empties the rings, lets go of every key and forgets what was typed.
void ResetNullSystem();
// How many WM_CHAR reached the focus window since.
std::size_t CharsReceived();
// What the focus window received as WM_CHAR (bytes in the layout's code
// page), when recording is on; for checks outside the measured loops.
void RecordText(bool on);
const std::string& ReceivedText();

// A key of the user, by its 9-bit scan code: the system takes it at once.
void UserKey(std::uint16_t scan, bool up);
// A message posted to the application's thread, as a timer or another
// program would.
void PostToApplication(std::uint32_t message);
// The application retrieves everything queued, posted messages before key
// input, with the hooks running on each.
void Pump();
// Whether anything waits for the application.
bool Pending();
// Forgets the messages posted to the application without retrieving them.
void DropPosted();

// Every call of the platform seam, for the stand-in that counts them
// (built with VELTO_COUNT_CALLS: the program callcount).
#define VELTO_PLATFORM_CALLS(X)                                                                             \
  X(OpenSharedMemory)                                                                                       \
  X(CloseSharedMemory) X(GetKeyState) X(GetAsyncKeyState) X(GetKeyboardState) X(KeybdEvent)                 \
      X(GetKeyboardLayout) X(ToAsciiEx) X(MapVirtualKey) X(MapVirtualKeyEx) X(VkKeyScanEx) X(ToUnicodeEx)   \
          X(VkKeyScanExW) X(GetFocus) X(GetForegroundWindow) X(GetCurrentThreadId) X(GetWindowThreadId)     \
              X(GetClassName) X(PostMessage) X(PostUnicodeMessage) X(RegisterWindowMessage)                 \
                  X(ReadHookedMessage) X(ReplaceHookedMessage) X(InstallHook) X(RemoveHook) X(CallNextHook) \
                      X(StartTimer) X(StopTimer) X(Sleep) X(OfThisArchitecture) X(ThreadStartTime)          \
                          X(WatchFocus)

#define VELTO_CALL_KIND(name) k##name,
enum class PlatformCall : std::size_t { VELTO_PLATFORM_CALLS(VELTO_CALL_KIND) };
#undef VELTO_CALL_KIND
#define VELTO_CALL_ONE(name) +1
constexpr std::size_t kPlatformCallKinds = 0 VELTO_PLATFORM_CALLS(VELTO_CALL_ONE);
#undef VELTO_CALL_ONE

// Calls so far, by kind (always zero without VELTO_COUNT_CALLS).
extern std::size_t g_calls[kPlatformCallKinds];

}  // namespace velto::bench
