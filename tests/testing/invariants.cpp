#include "testing/invariants.h"

#include <cstdio>

#include "delivery/macro.h"
#include "intercept/modifiers.h"
#include "sim/sim.h"
#include "shared/bits.h"
#include "shared/keys.h"

namespace velto::testing {

namespace {

constexpr std::uint16_t kKnownModifierBits = kModifierKeysMask;  // bits 0..7 and Caps Lock held (10)
constexpr std::uint8_t kVkLeftShiftKey = 0xA0;        // VK_LSHIFT; VK_RSHIFT, VK_LCONTROL, ... follow

std::string Hex(unsigned value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", value);
  return buf;
}

// The hotkeys as KeyStep compares them when the key `scan` goes down now.
bool MatchesHotkey(const Region& region, std::uint16_t scan) {
  const ControlBlock& cb = region.control();
  const OptionBlock& opt = region.options();
  // While a macro plays, keys pass as scan code 0; the modifiers still follow them.
  const std::uint16_t s = cb.playbackWait != 0 ? 0 : scan;
  std::uint16_t mods = cb.modifiers;
  const int bit = ModifierBitOf(scan);
  if (bit >= 0) mods = static_cast<std::uint16_t>(mods | 1u << bit);
  const std::uint16_t chord = IsModifierKey(s) != 0 ? mods : cb.modsChord;
  auto matches = [&](std::uint16_t hotkeyScan, std::uint16_t hotkeyMods) {
    return (s == hotkeyScan && mods == hotkeyMods) ||
           (hotkeyScan == kModifierOnlyHotkey && chord == hotkeyMods && hotkeyMods != 0);
  };
  if (cb.enabled == 0) return matches(opt.enableHotkeyScan, opt.enableHotkeyMods);
  return (matches(opt.layoutHotkeyScan, opt.layoutHotkeyMods) && opt.layoutHotkeyScan != kScrollLockScan) ||
         matches(opt.disableHotkeyScan, opt.disableHotkeyMods);
}

// VK_SHIFT, VK_CONTROL or VK_MENU for their left and right keys; else the key.
unsigned GenericKey(unsigned vk) {
  return vk >= kVkLeftShiftKey && vk < kVkLeftShiftKey + 6u ? kVkShift + (vk - kVkLeftShiftKey) / 2 : vk;
}

bool IsKeyDownMessage(std::uint32_t message) {
  return message == sim::kWmKeyDown || message == sim::kWmSysKeyDown || message == sim::kWmNull;
}

}  // namespace

std::vector<std::string> StateInvariants(const ControlBlock& cb) {
  std::vector<std::string> broken;
  if (cb.keyQWrite >= kKeySlots || cb.keyQRead >= kKeySlots) {
    broken.push_back("key queue index out of range: write " + std::to_string(cb.keyQWrite) + ", read " +
                     std::to_string(cb.keyQRead));
  }
  if (cb.actQWrite >= kActionSlots || cb.actQRead >= kActionSlots) {
    broken.push_back("action queue index out of range: write " + std::to_string(cb.actQWrite) + ", read " +
                     std::to_string(cb.actQRead));
  }
  if (cb.keyQEmpty != 0 && cb.keyQRead != cb.keyQWrite) {
    broken.push_back("key queue empty, yet read " + std::to_string(cb.keyQRead) + " is not write " +
                     std::to_string(cb.keyQWrite));
  }
  if (cb.actQEmpty != 0 && cb.actQRead != cb.actQWrite) {
    broken.push_back("action queue empty, yet read " + std::to_string(cb.actQRead) + " is not write " +
                     std::to_string(cb.actQWrite));
  }
  if ((cb.modifiers & ~kKnownModifierBits) != 0) {
    broken.push_back("modifiers " + Hex(cb.modifiers) + " has bits other than 0..7 and 10");
  }
  return broken;
}

bool Idle(const Region& region) {
  const ControlBlock& cb = region.control();
  return sim::PendingInput() == 0 && sim::PendingMessages() == 0 && cb.actQEmpty != 0 && !MacroPending(region) &&
         cb.playbackWait == 0 && cb.playerBusy == 0;
}

void InvariantChecker::Hardware(const Region& region, std::uint16_t scan, bool up) {
  pending_ = false;
  // Behind input that is still pending, the key may meet another Num Lock
  // state, and its key-down is not the next one the hooks see.
  const bool alone = sim::PendingInput() == 0;
  if (!alone) heldKnown_ = false;
  held_[sim::HardwareKeyOf(scan)] = !up;
  const std::size_t key = scan & 0x1FF;
  if (up) hotkeyHeld_[key] = false;
  if (!up && !alone) hotkeyHeld_[key] = true;
  if (up || !alone || !region.valid()) return;
  if (MatchesHotkey(region, scan)) hotkeyHeld_[key] = true;
  const platform::Handle window = sim::Focus();
  const platform::Handle thread = sim::ThreadOf(window);
  if (thread == 0) return;  // no one receives it
  const ControlBlock& cb = region.control();
  down_ = {scan, window, sim::Dispatched(thread).size(), cb.keyQWrite, cb.keyQEmpty, cb.currentLayout,
           cb.enabled, hotkeyHeld_[key]};
  pending_ = true;
}

// A key-down of the user's that no window received was swallowed by the
// keyboard hook. It must have done something: a translation queued, a layout
// switched or translation turned on or off, the press of a hotkey (which acts
// on its release), a Ctrl or Alt combination that types nothing, or the Apps
// key of a layout that claims it.
void InvariantChecker::JudgeKeyDown(const Region& region, std::vector<std::string>& broken) {
  // A system that runs step by step may not have taken the key yet.
  if (!pending_ || sim::PendingInput() != 0) return;
  pending_ = false;
  const std::vector<sim::Message>& dispatched = sim::Dispatched(sim::ThreadOf(down_.window));
  if (dispatched.size() < down_.dispatchedBefore) return;  // the record was cleared: nothing to judge by
  for (std::size_t i = down_.dispatchedBefore; i < dispatched.size(); ++i) {
    const sim::Message& m = dispatched[i];
    const auto bits = static_cast<std::uint32_t>(m.lParam);
    if (m.window == down_.window && IsKeyDownMessage(m.message) && ((bits >> 16) & 0x1FF) == down_.scan &&
        (bits >> 31) == 0) {
      return;  // received
    }
  }
  const ControlBlock& cb = region.control();
  const bool queued = cb.keyQWrite != down_.keyQWrite || cb.keyQEmpty != down_.keyQEmpty;
  const bool switched = cb.currentLayout != down_.currentLayout || cb.enabled != down_.enabled;
  const bool combination = (cb.modifiers & (kCtrlMask | kAltMask)) != 0;
  const bool apps =
      down_.scan == kScanApps && TestBit(region.currentLayoutRecord().modMask, kLayoutMaskAppsKeyEats) != 0;
  if (queued || switched || down_.hotkey || combination || apps) return;
  broken.push_back("the key-down of scan code " + Hex(down_.scan) +
                   " was swallowed without an effect (modifiers " + Hex(cb.modifiers) + ", passThrough " +
                   std::to_string(cb.passThrough) + ", playbackWait " + std::to_string(cb.playbackWait) + ")");
}

std::vector<std::string> InvariantChecker::Check(const Region& region) {
  if (!region.valid()) return {};
  const ControlBlock& cb = region.control();
  std::vector<std::string> broken = StateInvariants(cb);
  JudgeKeyDown(region, broken);
  if (!Idle(region)) return broken;

  // Every key swallowed and queued, held back behind earlier output too, and
  // also if translation was turned off meanwhile, has been delivered.
  if (cb.keyQEmpty == 0) {
    broken.push_back("idle, yet the key queue holds results (read " + std::to_string(cb.keyQRead) + ", write " +
                     std::to_string(cb.keyQWrite) + ")");
  }
  const QueueArea& q = region.queues();
  if (q.postedPress != 0 || q.ownKeys != 0) {
    broken.push_back("idle, yet a posted key press (" + Hex(q.postedPress) + ") or keys of the player (" +
                     Hex(q.ownKeys) + ") are awaited");
  }
  if (heldKnown_) {
    std::bitset<256> sent;
    if (onlySent_) {
      for (const sim::KeyEventCall& e : sim::KeyEvents()) sent[GenericKey(e.vk)] = true;
    }
    for (unsigned vk = 0; vk < 256; ++vk) {
      // The generic Shift, Ctrl and Alt keys are down while a side is: the sides tell.
      if (vk >= kVkShift && vk <= kVkMenu) continue;
      if (!sim::AsyncKeyDown(static_cast<std::uint8_t>(vk)) || held_[vk]) continue;
      if (onlySent_ && !sent[GenericKey(vk)]) continue;
      broken.push_back("idle, yet key " + Hex(vk) + " is down though the user does not hold it");
    }
  }
  return broken;
}

}  // namespace velto::testing
