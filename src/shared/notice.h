// Notices to the controlling application's windows: the registered message
// `notifyMsg` (kNotifyMessageName), posted with
// - wParam `changeFlags` (kChangeLayoutOrEnable, kChangeLeds) when the layout,
//   translation or a light changed, or
// - wParam kKeyNoticeWParam and lParam `lastKeyInfo` for a key the library
//   translated: the 9-bit scan code, with kKeyInfoUp for a key-up.
// The library encodes them here, and a controller decodes them here.
#pragma once

#include <cstdint>

#include "shared/region.h"

namespace velto {

constexpr std::uint32_t kKeyInfoUp = 1u << kKeyNoticeKeyUpBit;

constexpr std::uint32_t KeyInfo(std::uint16_t scan, bool keyUp) {
  return static_cast<std::uint32_t>(keyUp) << kKeyNoticeKeyUpBit | scan;
}

struct KeyNotice {
  std::uint16_t scan;
  bool keyUp;
};

constexpr bool IsKeyNotice(std::uintptr_t wParam) { return wParam == kKeyNoticeWParam; }

constexpr KeyNotice DecodeKeyInfo(std::uintptr_t lParam) {
  return {static_cast<std::uint16_t>(lParam & 0x1FF), (lParam & kKeyInfoUp) != 0};
}

// Posts `notifyMsg` (wParam `changeFlags`, lParam `lastKeyInfo`) to every
// client window in slot order, then clears the change flags.
void PostChangeNotices(const Region& region);

// PostChangeNotices when any change flag is set: the hooks ask on every key
// and message, and as good as always there is nothing to tell.
inline void NotifyClients(const Region& region) {
  if (region.control().changeFlags != 0) PostChangeNotices(region);
}

// Posts the key notice (wParam 4, lParam `lastKeyInfo`) to `currentKR`, or
// to the first client when no window was set. Nothing is posted when there is
// neither.
void PostKeyNotice(const Region& region);

}  // namespace velto
