// One run of velto-sim as an object: the whole simulated system set up with
// a description, key events played one at a time, and what each brought to
// the focus window. velto-sim plays a list of them (Run, simrun.h); the
// playground plays them as they are typed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "layoutkit/layout_builder.h"
#include "platform/platform.h"
#include "shared/region.h"
#include "simharness/system.h"
#include "simrun/simrun.h"

namespace velto::simrun {

// What the focus window received: characters (`text`, UTF-8, as the output
// shows them), or a key press (`vk`, from WM_KEYDOWN). `fromInput`: the
// system made it of the key typed (the key's own press, or the character
// TranslateMessage made of it), not the library.
struct Received {
  std::string text;
  std::uint8_t vk = 0;
  bool fromInput = false;
};

// What one key event did: whether the library's keyboard hook swallowed it,
// and what the focus window received until the system settled.
struct Played {
  bool swallowed = false;
  std::vector<Received> received;
};

// One run: sets the system up, follows what happens through test hooks at the
// head of the keyboard and message chains, and takes everything down when it
// goes.
class Session {
 public:
  Session(const layoutkit::KeyboardDescription& d, SimOutput& out) : d_(d), out_(out) {}
  ~Session() { Finish(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool Start(const SimOptions& options);
  Played Play(const KeyAction& action);
  // Takes the system down and writes the trace; once.
  void Finish();

 private:
  const ControlBlock& cb() const { return TheRegion().control(); }
  // An ANSI character as a system of the active layout's code page reads it.
  char32_t AnsiChar(std::uint8_t byte) const;
  // A byte of a layout as the library delivers it.
  std::string CharTextIn(int layout, std::uint8_t byte) const;

  platform::LParam OnKey(int code, platform::WParam wParam, platform::LParam lParam);
  platform::LParam OnMessage(int code, platform::WParam wParam, platform::LParam lParam);
  void Settle();
  bool Busy() const;
  void Note(const std::string& line) { lines_.push_back("  " + line); }
  // Notes the keys synthesized and the state changed since the last look.
  void CatchUp();

  const layoutkit::KeyboardDescription& d_;
  SimOutput& out_;
  simharness::SimSystem system_;
  bool finished_ = false;
  platform::Handle keyHook_ = 0, messageHook_ = 0;

  std::vector<std::string> lines_;
  bool awaitingEvent_ = false;  // the next keyboard hook call is the event's
  std::size_t eventLine_ = 0;
  std::size_t keyEventsSeen_ = 0;
  char16_t highHalf_ = 0;  // of a character beyond U+FFFF, until its low half comes
  Played played_;
  unsigned layout_ = 0;
  bool enabled_ = false;
  std::uint16_t leds_ = 0;
};

}  // namespace velto::simrun
