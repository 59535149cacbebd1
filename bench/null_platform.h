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

}  // namespace velto::bench
