// Pictures of a keyboard description: an SVG drawing of the keyboard that
// shows what each key types in one or more states, as the library looks it up.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "layoutkit/layout_builder.h"

namespace velto::layoutkit {

// One state of the keyboard: the modifiers held (`modifiers` bits 0 to 5;
// Shift is shown in each key anyway) and the Caps Lock light.
struct KeyboardState {
  std::uint16_t modifiers = 0;
  bool capsLock = false;
};

struct RenderOptions {
  unsigned layout = 1;  // 0 to 3
  bool ansi = false;    // the US keyboard (no key between left Shift and Z) instead of the ISO one
  std::vector<KeyboardState> states{KeyboardState{}};  // one keyboard each, two to a row
};

// No modifier, Caps Lock, right Alt, right Alt with Caps Lock.
std::vector<KeyboardState> MainStates();

// Reads modifier names joined by '+' (lctrl rctrl lalt ralt lwin rwin, in
// any case) into `modifiers` bits; false for an unknown or empty name.
bool ParseModifierNames(std::string_view text, std::uint16_t& modifiers);

// "No modifier", "Caps Lock", "Left Ctrl + Left Alt", "Right Alt (AltGr) + Caps Lock", ...
std::string StateCaption(const KeyboardState& state);

// The whole SVG document: the layout's name, a keyboard for each state and
// a key to the colours and marks.
std::string RenderSvg(const KeyboardDescription& d, const RenderOptions& options);

}  // namespace velto::layoutkit
