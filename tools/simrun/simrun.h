// velto-sim: a keyboard description run on the real engine over the
// simulated input system (tools/sim), and what the focus window
// received. main.cpp only reads the files and prints; the run and its key
// events are declared here (session.cpp; the --keys syntax in
// command_line.cpp), its text in trace.h and the command line in
// command_line.h, where tests can reach them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "layoutkit/layout_builder.h"

namespace velto::simrun {

// One half of a keystroke: a hardware key event by 9-bit scan code (256
// added for extended keys).
struct KeyAction {
  std::uint16_t scan;
  bool up;
  bool operator==(const KeyAction&) const = default;
};

// Parses the --keys argument: space-separated `KEY` (press and release),
// `MOD+...+KEY` (modifiers pressed in order, the key tapped, the modifiers
// released in reverse), `down:KEY` and `up:KEY`. Appends to `out`; false with
// a one-line message in `error` (and `out` unchanged) on the first bad event.
bool ParseKeys(std::string_view keys, std::vector<KeyAction>& out, std::string& error);

// The key events that type `text` (UTF-8) on a US keyboard: each character on
// its US key, with left Shift where the character needs it (for letters the
// other way round while Caps Lock is on, as sim::TypeUs does); a newline types
// Enter. False with a message naming the first character no US key types.
bool TypeKeys(std::string_view text, bool capsLock, std::vector<KeyAction>& out, std::string& error);

struct SimOptions {
  unsigned layout = 0;  // selected after Enable(1)
  bool capsLock = false;
  bool numLock = false;
  // --type: `text` is typed (its keys are chosen once the system is set up,
  // by the Caps Lock state then); else `keys` are played.
  bool typeText = false;
  std::string text;
  std::vector<KeyAction> keys;
};

struct SimOutput {
  std::string text;   // what the focus window received, as it is printed (no final newline)
  std::string trace;  // lines ending in '\n'
  std::string error;  // not empty when the run could not be made
};

// Sets up a whole simulated system (controller and application threads and
// windows, the library installed, the description loaded, translation on),
// plays the events and takes it all down again, shared memory included. Owns
// the simulated system and the process's region while it runs: it refuses to
// run while the region is attached.
SimOutput Run(const layoutkit::KeyboardDescription& d, const SimOptions& options);

}  // namespace velto::simrun
