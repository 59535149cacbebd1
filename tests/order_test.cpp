// Keys typed faster than the system takes them, on the shipped international
// layout: a few keystrokes at a time queued at once (as within one
// millisecond), while the system input stream, the application's thread and
// the controller's thread with its timer run in an order drawn at random
// (sim::Scheduler). Whatever the order, the window must receive what the
// typist's model says, every character in the order typed.
#include "testing/typing_model.h"

namespace velto::testing {
namespace {

constexpr int kKeystrokes = 10000;
constexpr int kSettleTicks = 1000;

// The seed draws the keystrokes, how many are queued at once, how far the
// system gets before the next ones and the order it runs in.
class Order : public IntlSystemTest, public ::testing::WithParamInterface<std::uint32_t> {
 protected:
  void TypeUnderLoad(bool plain) {
    const std::uint32_t seed = GetParam();
    const layoutkit::KeyboardDescription d = Description();
    Typist typist(d, seed, plain);
    sim::Scheduler scheduler(seed);
    std::mt19937 rng(seed);
    auto between = [&rng](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };
    while (typist.Keystrokes() < kKeystrokes) {
      for (int n = between(1, 4); n > 0; --n) Queue(typist.Next());
      const int steps = between(0, 60), ticks = between(0, 3);
      typist.Note(" | " + std::to_string(steps) + " steps, " + std::to_string(ticks) + " ticks");
      scheduler.AddTicks(ticks);
      scheduler.Run(steps);
    }
    Queue(typist.Finish());
    scheduler.AddTicks(kSettleTicks);
    scheduler.Run();
    CheckInvariants();
    ExpectTyped(typist);
  }
};

TEST_P(Order, EveryCharacterArrivesInTheOrderTyped) { TypeUnderLoad(false); }

// Without dead keys and right Alt, and so without macros.
TEST_P(Order, PlainTypingArrivesInTheOrderTyped) { TypeUnderLoad(true); }

INSTANTIATE_TEST_SUITE_P(Seeds, Order, ::testing::Range(1u, 16u));

}  // namespace
}  // namespace velto::testing
