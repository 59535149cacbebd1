// The US keyboard layout of the simulated system: virtual keys, scan codes
// and the characters they type.
#pragma once

#include <cstdint>

namespace velto::sim {

struct UsKey {
  std::uint8_t vk;
  std::uint16_t scan;  // 9-bit: 256 added for extended keys
  char normal;         // character without Shift (0: none)
  char shifted;        // character with Shift (0: none)
};

// The key for a virtual key, or null.
const UsKey* UsKeyByVk(std::uint8_t vk);
// The key for a 9-bit scan code, or null.
const UsKey* UsKeyByScan(std::uint16_t scan);

// The virtual key a hardware key gives (0xFF for none). The keypad's digit
// and decimal keys give navigation keys (and VK_CLEAR) while Num Lock is off.
std::uint8_t UsVkOfScan(std::uint16_t scan, bool numLock);

// VkKeyScan: low byte vk, high byte shift state (1 Shift, 2 Ctrl); -1 if no key types ch.
std::int16_t UsVkKeyScan(char ch);

// The character a key types with the given Shift, Ctrl and Caps Lock state
// (0 when none), as TranslateMessage and ToAscii make it.
char UsCharOf(std::uint8_t vk, bool shift, bool ctrl, bool capsLock);

constexpr std::uint32_t kUsLayoutHandle = 0x04090409;

}  // namespace velto::sim
