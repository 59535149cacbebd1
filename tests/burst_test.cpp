// 10,000 keystrokes on the shipped international layout through the whole
// simulated system: text, dead keys, right-Alt characters and macros, held
// and rolled-over keys, Caps Lock and the hotkeys. Now fast, the events of a
// keystroke queued back to back and processed after, with at most a few
// timer ticks before the next; now slow, the system settling after every
// event. The typist's model says what the window must receive.
#include "testing/typing_model.h"

namespace velto::testing {
namespace {

constexpr unsigned kSeed = 20250611;
constexpr int kKeystrokes = 10000;

using Burst = IntlSystemTest;

TEST_F(Burst, TenThousandKeystrokesTypeWhatTheDescriptionSays) {
  const layoutkit::KeyboardDescription d = Description();
  Typist typist(d, kSeed);
  std::mt19937 rng(kSeed);
  auto between = [&rng](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };
  bool fast = true;
  while (typist.Keystrokes() < kKeystrokes) {
    if (std::bernoulli_distribution(0.02)(rng)) fast = !fast;
    const std::vector<KeyEvent> events = typist.Next();
    if (fast) {
      Queue(events);
      sim::Pump();
      sim::TickTimers(between(0, 3));
      continue;
    }
    typist.Note(" (slow)");
    for (const KeyEvent& e : events) {
      Queue({e});
      sim::Pump();
      sim::TickTimers(between(15, 90));
    }
  }
  Queue(typist.Finish());
  sim::TickTimers(500);
  CheckInvariants();
  ExpectTyped(typist);
}

}  // namespace
}  // namespace velto::testing
