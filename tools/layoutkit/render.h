// Pictures of a keyboard description: an SVG drawing of the keyboard that
// shows what each key types in one or more states, as the library looks it up.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "layoutkit/keyboard_geometry.h"
#include "layoutkit/layout_builder.h"

namespace velto::layoutkit {

// One state of the keyboard: the modifiers held (`modifiers` bits 0 to 5;
// Shift is shown in each key anyway) and the Caps Lock light.
struct KeyboardState {
  std::uint16_t modifiers = 0;
  bool capsLock = false;
};

// Where a run of dead keys leaves a layout: the keyboard is then drawn as it
// types next. A layout of the composing kind (shared/charset.h) walks the
// composition table, any other the rows of one dead key in the DeadKeyTable.
struct Composition {
  bool table = false;
  std::uint32_t state = 0;    // table: where the steps lead
  std::uint8_t deadByte = 0;  // DeadKeyTable: the dead key's byte
  std::string caption;        // the steps as the picture names them: "◌^ then ◌̣"
};

struct RenderOptions {
  unsigned layout = 1;  // 0 to 3
  bool ansi = false;    // the US keyboard (no key between left Shift and Z) instead of the ISO one
  std::vector<KeyboardState> states{KeyboardState{}};  // one keyboard each, two to a row
  std::optional<Composition> after;                    // draw what the keys type after these dead keys
  std::vector<std::uint16_t> down;                     // scan codes of keys drawn as pressed, as typed live
};

// Follows steps joined by ',' through the layout's dead keys:
//   CHAR or U+XXXX  first, the dead key that shows it (what it types with
//                   Space); later, the character typed
//   dead:CHAR       the dead key that shows CHAR (dead:U+XXXX too)
//   compose         the compose key
// as in "^", "compose,o" or "^,dead:U+0323". False with the reason when a
// step is no dead key of the layout, or leads nowhere further.
bool FindComposition(const KeyboardDescription& d, unsigned layout, std::string_view steps, Composition& out,
                     std::string& error);

// No modifier, Caps Lock, right Alt, right Alt with Caps Lock.
std::vector<KeyboardState> MainStates();

// Reads modifier names joined by '+' (lctrl rctrl lalt ralt lwin rwin, in
// any case) into `modifiers` bits; false for an unknown or empty name.
bool ParseModifierNames(std::string_view text, std::uint16_t& modifiers);

// "No modifier", "Caps Lock", "Left Ctrl + Left Alt", "Right Alt (AltGr) + Caps Lock", ...
std::string StateCaption(const KeyboardState& state);

// What each key of KeyboardKeys(options.ansi) shows in `state`, in that
// order: the picture's keys (RenderSvg draws them), and the controller's
// on-screen keyboard. Of the options, `layout`, `ansi`, `after` and `down`.
std::vector<KeyFace> KeyFaces(const KeyboardDescription& d, const RenderOptions& options,
                              const KeyboardState& state);

// The whole SVG document: the layout's name, a keyboard for each state and
// a key to the colours and marks.
std::string RenderSvg(const KeyboardDescription& d, const RenderOptions& options);

}  // namespace velto::layoutkit
