// The keyboard as `veltoc render` draws it and the controller's on-screen
// keyboard shows it: where each key sits, its outline, where its labels go,
// and what a key shows (render.h's KeyFaces fills that in for a layout).
// Sizes are in drawing units, kKeyUnit to a key unit (the SVG's pixels); a
// drawing of another size scales them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velto::layoutkit {

constexpr double kKeyUnit = 48;  // drawing units to a key unit, the width of a letter key
constexpr double kKeyGap = 2;    // free around each key
// The face inside the key's side, from its edges.
constexpr double kFaceLeft = 3, kFaceTop = 2, kFaceRight = 3, kFaceBottom = 6;
constexpr double kFunctionRowGap = 0.35;  // below the function row, in key units
constexpr double kKeyboardWidth = 15;     // key units
constexpr double kKeyboardHeight = 6 + kFunctionRowGap;

struct KeyCap {
  std::uint16_t scan;
  double x, y, w;         // key units
  bool isoEnter = false;  // two rows high, the lower row a quarter unit narrower on the left
};

// The keys of the ISO keyboard, or of the US one (no key between left Shift
// and Z, a wide Enter in one row): Esc and F1 to F12, then five rows.
std::vector<KeyCap> KeyboardKeys(bool ansi);

struct KeyBox {
  double x, y, w, h;
};

// A key of `w` key units at x, y (drawing units): its side, and the face
// its labels sit on (for the ISO Enter, the upper row of the face).
KeyBox KeySide(double x, double y, double w);
KeyBox KeyFaceBox(double x, double y, double w, bool isoEnter);
// The ISO Enter's outline, inset by l, t, r, b from its full two rows:
// (0, 0, 0, 0) its side, (kFaceLeft, kFaceTop, kFaceRight, kFaceBottom) its
// face. Six corners, clockwise from the top left.
std::vector<std::pair<double, double>> IsoEnterOutline(double x, double y, double w, double l, double t,
                                                       double r, double b);

enum class LabelPlace { kTopLeft, kBottomLeft, kTopRight };  // with Shift, without, with right Shift

// How a label is drawn: a character the layout types, a dead key, the
// compose key, a macro's first characters, a legend in grey (the US legend
// of a key left to the system, or what has no composition), or a key's name.
enum class LabelKind { kChar, kDead, kCompose, kMacro, kGrey, kName };

struct KeyLabel {
  std::string text;  // UTF-8
  LabelKind kind = LabelKind::kChar;
  LabelPlace place = LabelPlace::kBottomLeft;
  bool small = false;  // a word or a hex value, in the small font
};

// What a key shows in one state of the keyboard.
struct KeyFace {
  bool system = false;   // left to the system: its labels are the US legend
  bool dead = false;     // one of its labels is a dead key
  bool compose = false;  // ... the compose key
  bool macro = false;    // ... a macro
  bool none = false;     // it types nothing of the layout here (after a dead key: no composition)
  bool held = false;     // held down, or the Caps Lock light is on
  std::vector<KeyLabel> labels;
};

// Where a label goes on a face: its baseline's start (or end, for
// alignRight) and its font size, in drawing units.
struct LabelSpot {
  double x, y, size;
  bool alignRight = false;
};
LabelSpot SpotOf(const KeyBox& face, const KeyLabel& label);

// The label that types with the Shift keys held: without Shift the one below,
// with left Shift the one above, with right Shift alone the right one where
// the key has one. Null when the key has no such label.
const KeyLabel* TypingLabel(const KeyFace& face, bool leftShift, bool rightShift);

}  // namespace velto::layoutkit
