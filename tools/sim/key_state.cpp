// Key state arrays: the asynchronous one of the system and one per thread.
#include "sim/state.h"

namespace velto::sim {

namespace detail {

namespace {

constexpr std::uint8_t kVkLeftShift = 0xA0;
constexpr std::uint8_t kScanRightShift = 0x36;

bool IsGenericModifier(std::uint8_t vk) { return vk >= kVkShift && vk <= kVkMenu; }
bool IsSideModifier(std::uint8_t vk) { return vk >= kVkLeftShift && vk <= kVkLeftShift + 5; }
bool IsLockKey(std::uint8_t vk) { return vk == kVkCapital || vk == kVkNumLock || vk == kVkScroll; }

// VK_LSHIFT, VK_LCONTROL, VK_LMENU; the right keys follow each.
std::uint8_t LeftOf(std::uint8_t generic) {
  return static_cast<std::uint8_t>(kVkLeftShift + 2 * (generic - kVkShift));
}

void SetBits(std::uint8_t& value, std::uint8_t bits, bool on) {
  value = static_cast<std::uint8_t>(on ? (value | bits) : (value & ~bits));
}

// Sets the key's down bit; a generic key is down while either side is.
void SetDown(KeyState& keys, KeySides sides, bool down) {
  SetBits(keys[sides.key], 0x80, down);
  if (sides.generic == sides.key) return;
  const std::uint8_t left = LeftOf(sides.generic);
  const auto right = static_cast<std::uint8_t>(left + 1);
  SetBits(keys[sides.generic], 0x80, IsDown(keys, left) || IsDown(keys, right));
}

// Holds or releases a key by its virtual key alone: a generic modifier is
// held as its left key and released on both sides.
void SetHeld(KeyState& keys, std::uint8_t vk, bool down) {
  const KeySides sides = SidesOf(vk, 0);
  SetDown(keys, sides, down);
  if (!down && sides.key != vk) {
    SetDown(keys, {sides.generic, static_cast<std::uint8_t>(sides.key + 1)}, false);
  }
}

template <typename Fn>
void ForEachState(Fn fn) {
  fn(Sys().asyncKeys);
  fn(Sys().defaultKeys);
  for (auto& [handle, thread] : Sys().threads) fn(thread.keys);
}

}  // namespace

KeySides SidesOf(std::uint8_t vk, std::uint16_t scan) {
  if (IsSideModifier(vk)) {
    return {static_cast<std::uint8_t>(kVkShift + (vk - kVkLeftShift) / 2), vk};
  }
  if (!IsGenericModifier(vk)) return {vk, vk};
  const bool right = vk == kVkShift ? (scan & 0xFF) == kScanRightShift : (scan & 0x100) != 0;
  return {vk, static_cast<std::uint8_t>(LeftOf(vk) + (right ? 1 : 0))};
}

bool ApplyKey(KeyState& keys, KeySides sides, bool up) {
  const bool wasDown = IsDown(keys, sides.key);
  if (!up && !wasDown && IsLockKey(sides.generic)) keys[sides.generic] ^= 1;
  SetDown(keys, sides, !up);
  return wasDown;
}

bool IsDown(const KeyState& keys, std::uint8_t vk) { return (keys[vk] & 0x80) != 0; }

const KeyState& CurrentKeys() {
  const Thread* thread = FindThread(Sys().current);
  return thread == nullptr ? Sys().defaultKeys : thread->keys;
}

}  // namespace detail

void SetKeyDown(std::uint8_t vk, bool down) {
  detail::ForEachState([&](detail::KeyState& keys) { detail::SetHeld(keys, vk, down); });
}

void SetToggled(std::uint8_t vk, bool on) {
  detail::ForEachState([&](detail::KeyState& keys) { detail::SetBits(keys[vk], 1, on); });
}

bool AsyncKeyDown(std::uint8_t vk) { return detail::IsDown(detail::Sys().asyncKeys, vk); }

bool Toggled(std::uint8_t vk) { return (detail::Sys().asyncKeys[vk] & 1) != 0; }

}  // namespace velto::sim
