// What must hold of the library's shared state after every event that a test
// or a fuzzer drives through the simulated system: the queues stay in range,
// `modifiers` holds only the bits it has, and once nothing is left to happen
// no key the library pressed stays down, no translated key waits in the key
// queue, and no key-down of the user's was swallowed without an effect.
//
// The checker follows the user's (hardware) keys: tell it of every one, just
// before it is queued, with Press and Release; then Check after each step.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "shared/region.h"

namespace velto::testing {

// The broken invariants of the queues and of `modifiers`, one line each.
std::vector<std::string> StateInvariants(const ControlBlock& cb);

// Nothing is left to happen: the input and the posted messages are
// processed, the action queue is empty, no macro waits for room and the
// player neither runs nor waits.
bool Idle(const Region& region);

class InvariantChecker {
 public:
  // A hardware key event of the user's, to be queued right after this call.
  void Press(const Region& region, std::uint16_t scan) { Hardware(region, scan, false); }
  void Release(const Region& region, std::uint16_t scan) { Hardware(region, scan, true); }

  // Every broken invariant since the last Check, one line each; empty when
  // all hold. Call after the system has been pumped, or after each step of
  // a sim::Scheduler: a key-down is judged once no input is pending.
  std::vector<std::string> Check(const Region& region);

  // For tests that also queue keys of their own (sim::KeyDown), which the
  // checker never hears of: once idle, only keys the library itself sent
  // (sim::KeyEvents) are judged.
  void JudgeOnlyKeysSent() { onlySent_ = true; }

  // Forgets the keys held and anything waiting to be checked.
  void Reset() { *this = InvariantChecker{}; }

 private:
  // What the keyboard hook's verdict on a key-down is judged by.
  struct KeyDown {
    std::uint16_t scan = 0;
    platform::Handle window = 0;
    std::size_t dispatchedBefore = 0;
    std::uint16_t keyQWrite = 0;
    std::int32_t keyQEmpty = 0;
    std::uint8_t currentLayout = 0;
    std::int32_t enabled = 0;
    bool hotkey = false;  // the keys match a hotkey, which acts on the release
  };

  void Hardware(const Region& region, std::uint16_t scan, bool up);
  void JudgeKeyDown(const Region& region, std::vector<std::string>& broken);

  std::bitset<256> held_;  // the keys the user holds, as the asynchronous key state has them
  // The scan codes held since a key-down of theirs matched a hotkey (or may
  // have): their repeats belong to that hotkey, whatever is held by then.
  std::bitset<512> hotkeyHeld_;
  bool heldKnown_ = true;  // false once a key was queued behind input still pending
  bool onlySent_ = false;
  bool pending_ = false;   // a key-down waits for its verdict
  KeyDown down_;
};

}  // namespace velto::testing
