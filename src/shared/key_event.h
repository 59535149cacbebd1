// A key event as the keyboard hook receives it: the virtual key in wParam,
// the rest in the bits of lParam; and a key tapped into the input stream.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace velto {

struct KeyEvent {
  std::uint16_t vk;
  std::uint16_t scan;
  bool keyUp;
  bool prevDown;
  bool altDown;  // the system takes the key with Alt down (lParam bit 29)
};

// A press and release of a key, sent into the input stream, as of a lock key
// whose light is to change.
inline void TapKey(std::uint8_t vk) {
  platform::KeybdEvent(vk, 0, 0);
  platform::KeybdEvent(vk, 0, platform::kKeyEventKeyUp);
}

inline KeyEvent Decode(platform::WParam wParam, platform::LParam lParam) {
  const std::uint32_t bits = static_cast<std::uint32_t>(lParam);
  return {static_cast<std::uint16_t>(wParam & 0xFFFF), static_cast<std::uint16_t>((bits >> 16) & 0x1FF),
          (bits >> 31) != 0, ((bits >> 30) & 1) != 0, ((bits >> 29) & 1) != 0};
}

}  // namespace velto
