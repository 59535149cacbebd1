// The library's own keys: every key it puts into the input stream around a
// macro, and how the keyboard hook knows them again when they come back
// through it. Sent, played and recognised here alone, in one vocabulary:
//
// - Marker keys, private virtual keys sent as key-ups only, bracket the
//   player's keys. 0xC1 .. 0xC2 enclose the modifiers a macro lets go of
//   before its chords, 0xC3 .. 0xC4 those it presses again after them; 0xC5
//   ends every run of the player's keys (and starts a run of plain
//   characters), 0xC6 starts a run that begins with a chord key.
// - While `passThrough` is set the keys the library sends reach no window:
//   `passThroughKeys` says which (the modifiers, Scroll Lock), and with
//   kPassMarked the player has marked each modifier it sent in
//   `sentUp`/`sentDown`, so that the user's own press or release of the same
//   key in that moment stays the user's.
// - Scroll Lock, while its light shows the layout, is pressed again by the
//   library when the user lets go of it, and ends with the marker 0xC2.
//
// The lock keys whose lights the library changes otherwise (TapKey, from
// intercept/modifiers) are plain presses that come back like the user's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "shared/key_event.h"
#include "shared/keys.h"
#include "shared/region.h"

namespace velto {

// Marker keys.
constexpr std::uint8_t kMarkReleaseStart = 0xC1;       // the player lets go of held modifiers
constexpr std::uint8_t kMarkReleaseEnd = 0xC2;         // ... and is done (also after Scroll Lock is put back)
constexpr std::uint8_t kMarkRepressStart = 0xC3;       // the player presses held modifiers again
constexpr std::uint8_t kMarkRepressEnd = 0xC4;         // ... and is done
constexpr std::uint8_t kMarkPlainStart = 0xC5;         // the end of every run of the player's keys
constexpr std::uint8_t kMarkPlainAfterRelease = 0xC6;  // a run that starts with a chord key

constexpr bool IsMarker(std::uint16_t vk) { return vk >= kMarkReleaseStart && vk <= kMarkPlainAfterRelease; }

// ControlBlock::passThroughKeys bits: the keys the library sends while
// `passThrough` is set. Other keys are the user's.
constexpr std::uint8_t kPassModifiers = 1;
constexpr std::uint8_t kPassScrollLock = 2;
// The player sent the window's modifiers and marked each in sentUp/sentDown:
// a modifier key not marked there is the user's.
constexpr std::uint8_t kPassMarked = 4;

// --- Sending -------------------------------------------------------------

// One key event; `flags` as platform::KeybdEvent takes them.
void SendOwnKey(std::uint8_t vk, std::uint8_t scan, std::uint32_t flags);
void SendMarker(std::uint8_t marker);

// A macro's plan, as ActionQueue entries the player sends in order: the
// held modifiers `mods` let go of before its chords (and, unless a chord
// comes first, the marker of a run that starts with text), pressed again
// after them, and the marker that ends a run of keys before plain
// characters and at the end.
constexpr std::size_t kModifierBlockWords = 2 + 2 * kHeldKeyBits + 2 + 2;  // markers, 8 keys, plain marker
void PushReleaseBlock(const Region& region, std::uint8_t mods, bool chordFirst);
void PushRepressBlock(const Region& region, std::uint8_t mods);
void PushPlainStart(const Region& region);

// The `modifiers` bit of a modifier key as macros press and release it (vk
// word with the 0x100 extended flag: 16 left Shift, 272 right Shift, ...), or -1.
int ModifierBitOfVkWord(std::uint16_t vkWord);

// --- Playing ---------------------------------------------------------------

// Where one run of the player stands among the markers.
struct OwnKeyRun {
  bool releasing = false;      // between 0xC1 and 0xC2
  bool pressingAgain = false;  // between 0xC3 and 0xC4
  bool marked = false;         // a marker tells the keyboard hook that keys of this run are on their way
};

// Sends one key entry of the ActionQueue (kOpKeyUp or kOpKeyDown with its
// vk word). Returns true after the release of 0xC5: the rest waits until it
// has come back through the keyboard hook.
bool PlayOwnKey(const Region& region, OwnKeyRun& run, std::uint16_t op, std::uint16_t vkWord);

// Sends a key-up for every modifier key whose release was counted while a
// macro played.
void ReleaseHeldModifiers(const Region& region);

// Puts the Scroll Lock light back, to show the layout, after the user let
// go of Scroll Lock.
void PutScrollLockLightBack(const Region& region);

// --- Recognising -----------------------------------------------------------

// A marker coming back: the state it ends or starts. Returns whether the key
// was one.
bool TakeMarker(const Region& region, const KeyEvent& e);

// Whether a key that arrives while `passThrough` is set is one the library
// sent itself.
bool SentByTheLibrary(ControlBlock& cb, const KeyEvent& e);

// The user let go of a modifier that a macro's player has just pressed again
// for them, before that press came back through the keyboard hook.
bool ReleasedBeforePressedAgain(const ControlBlock& cb, const KeyEvent& e);

// A key of a macro's chord that meets an Alt the user pressed meanwhile;
// posted as the key press the macro meant. Returns whether it was.
bool MacroKeyMeetsTheUsersAlt(const Region& region, const KeyEvent& e, platform::LParam lParam);

// A key the user types with Alt held while a macro has let go of Alt for its
// chords; posted as the Alt combination it is. Returns whether it was.
bool TypedWhileAMacroLetGoOfAlt(const Region& region, const KeyEvent& e, platform::LParam lParam);

}  // namespace velto
