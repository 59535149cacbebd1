// Random typing on the shipped international layout (layouts/intl.vkl) and
// what it must type: a Typist draws the user's keystrokes from a seed, and a
// small model that reads the compiled description, not the engine, follows
// them. The tests drive the system with the keystrokes as they like and
// compare what the window received with the model.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "layoutkit/layout_builder.h"
#include "testing/system_fixture.h"

namespace velto::testing {

struct Mods {
  bool lshift = false, rshift = false, ralt = false;
};

// What the keystrokes type, in UTF-8: layout 1 from its planes (each byte
// read in the layout's character set), layout 0 and the keys a layout leaves
// alone by the US layout, dead keys by the 256-row table or, for a layout
// that composes through it, the table of compositions.
class Model {
 public:
  explicit Model(const layoutkit::KeyboardDescription& d) : d_(d) {}

  std::string text;
  unsigned layout = 1;
  bool enabled = true;
  bool caps = false;

  void Tap(std::uint16_t scan, Mods m);
  void ToggleLayout() { layout ^= enabled ? 1 : 0; }

 private:
  bool FromTable(std::uint16_t scan, Mods m);
  void Add(std::uint8_t byte);
  std::uint8_t Compose(std::uint8_t ch);
  // A key of a layout that composes through the table of compositions;
  // false when it is typed as itself.
  bool Walk(std::uint8_t byte, bool deadKey);

  const layoutkit::KeyboardDescription& d_;
  std::uint8_t dead_ = 0;
  std::uint32_t state_ = 0;  // of a composition through the table
};

struct KeyEvent {
  std::uint16_t scan;
  bool up;
};

class Typist {
 public:
  // `plain` leaves out the dead keys and right Alt, and so the right-Alt
  // characters and the macros.
  Typist(const layoutkit::KeyboardDescription& d, std::uint32_t seed, bool plain = false);

  // The key events of what the user does next, which the model has typed:
  // a keystroke with or without Shift or right Alt, two keys rolled over, a
  // dead key and what it may take, Caps Lock, either hotkey, or pressing or
  // letting go of a modifier held over several keystrokes.
  std::vector<KeyEvent> Next();
  // Lets go of the modifier still held, if any.
  std::vector<KeyEvent> Finish();
  // Adds `note` to the log of what the last Next() typed.
  void Note(const std::string& note);
  std::size_t Keystrokes() const { return log_.size(); }

  // Empty when the window received what the model typed; else the seed,
  // the first difference and the keystrokes that led to it.
  std::string Difference(const std::string& received) const;

 private:
  int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
  bool Chance(double p) { return std::bernoulli_distribution(p)(rng_); }
  std::uint16_t Any() { return keys_[Between(0, static_cast<int>(keys_.size()) - 1)]; }
  std::uint16_t NotJ();
  Mods Shift(double p);
  void Tap(std::uint16_t s, Mods extra, std::vector<KeyEvent>& out);
  void Log(const std::string& what) { log_.emplace_back(what, model_.text.size()); }

  Model model_;
  std::uint32_t seed_;
  bool plain_;
  std::mt19937 rng_;
  std::vector<std::uint16_t> keys_;
  std::vector<std::pair<std::string, std::size_t>> log_;  // keystroke, the model's text length after it
  std::size_t lastNext_ = 0;                              // the first log entry of the last Next()
  Mods held_;                                             // for several keystrokes
  std::uint16_t heldKey_ = 0;
  int holdLeft_ = 0;
};

// The system with layouts/intl.vkl loaded and its layout 1 selected.
class IntlSystemTest : public SystemTest {
 protected:
  layoutkit::KeyboardDescription Description() const override;
  void SetUp() override;

  // Queues the events for the system, to be processed later.
  static void Queue(const std::vector<KeyEvent>& events);
  // Fails the test with the typist's report unless the window received what it typed.
  void ExpectTyped(const Typist& typist) const;
};

}  // namespace velto::testing
