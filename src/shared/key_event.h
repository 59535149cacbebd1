// A key event as the keyboard hook receives it: the virtual key in wParam,
// the rest in the bits of lParam.
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

inline KeyEvent Decode(platform::WParam wParam, platform::LParam lParam) {
  const std::uint32_t bits = static_cast<std::uint32_t>(lParam);
  return {static_cast<std::uint16_t>(wParam & 0xFFFF), static_cast<std::uint16_t>((bits >> 16) & 0x1FF),
          (bits >> 31) != 0, ((bits >> 30) & 1) != 0, ((bits >> 29) & 1) != 0};
}

}  // namespace velto
