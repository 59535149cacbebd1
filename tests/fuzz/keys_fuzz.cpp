// Fuzzes whole keystrokes: a keyboard description, handed over through the
// exports as a controller does, then the user's keys (any scan code), timer
// ticks, focus changes between an application and a console window, and
// calls of the exports, with the invariants checked after every one. Keys
// may also come back to back, faster than the system takes them, and run in
// an order drawn from the input (sim::Scheduler).
//
// The input:
//   byte 0      the description: 0 us, 1 intl, 2 ru-phonetic (layouts/*.vkl),
//               3 the 81,528 bytes that follow (a .vkb as it stands)
//   byte 1      for a shipped layout: how many of its bytes to change (0..15),
//               then 4 bytes each: a 17-bit offset and the new byte
//   the rest    events of 2 bytes (see Event)
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_system.h"
#include "layoutkit/vkb.h"
#include "layoutkit/vkl.h"

namespace {

using velto::layoutkit::KeyboardDescription;
using velto::layoutkit::kVkbSize;

const KeyboardDescription& Shipped(unsigned which) {
  static const KeyboardDescription* const layouts = [] {
    static KeyboardDescription d[3];
    const char* const names[3] = {"us", "intl", "ru-phonetic"};
    for (int i = 0; i < 3; ++i) {
      velto::layoutkit::Diagnostics diags;
      const std::string path = std::string(VELTO_SOURCE_DIR "/layouts/") + names[i] + ".vkl";
      if (!velto::layoutkit::CompileVklFile(path, d[i], diags)) {
        std::fprintf(stderr, "keys_fuzz: %s", diags.Text().c_str());
        std::abort();
      }
    }
    return d;
  }();
  return layouts[which];
}

// Takes the description from the front of the input; false if there is none.
bool TakeDescription(const std::uint8_t*& p, std::size_t& n, KeyboardDescription& d) {
  if (n < 2) return false;
  const unsigned which = p[0] & 3;
  if (which == 3) {
    if (n < 1 + kVkbSize) return false;
    velto::layoutkit::FromVkb(std::vector<std::uint8_t>(p + 1, p + 1 + kVkbSize), d);
    p += 1 + kVkbSize;
    n -= 1 + kVkbSize;
    return true;
  }
  std::vector<std::uint8_t> bytes = velto::layoutkit::ToVkb(Shipped(which));
  unsigned changes = p[1] & 15;
  p += 2;
  n -= 2;
  for (; changes > 0 && n >= 4; --changes, p += 4, n -= 4) {
    const std::size_t at = (p[0] | std::size_t{p[1]} << 8 | std::size_t{p[2] & 1u} << 16) % kVkbSize;
    bytes[at] = p[3];
  }
  velto::layoutkit::FromVkb(bytes, d);
  return true;
}

// Keys worth reaching often: the modifiers, the lock keys, Apps, the keypad.
constexpr std::uint16_t kNamedKeys[16] = {29, 285, 56, 312, 347, 348, 42, 54, 58, 325, 70, 349, 0x47, 0x4F, 0x1E, 0x39};

// An event: the top 3 bits of the first byte say what, the rest is its operand.
void Event(velto::fuzzing::FuzzSystem& sys, const KeyboardDescription& d, std::uint8_t a, std::uint8_t b) {
  const auto scan = static_cast<std::uint16_t>((a & 1u) << 8 | b);
  switch (a >> 5) {
    case 0:
      sys.Press(scan);
      break;
    case 1:
      sys.Release(scan);
      break;
    case 2:
      sys.Press(scan);
      sys.Release(scan);
      break;
    case 3:  // a named key, down (bit 4 of b clear) or up
      if ((b & 16) == 0) {
        sys.Press(kNamedKeys[b & 15]);
      } else {
        sys.Release(kNamedKeys[b & 15]);
      }
      break;
    case 4:
      for (int i = 0; i <= (b & 15); ++i) sys.Tick();
      break;
    case 5:  // bit 4 of a: the keys that follow are queued back to back and run in a random order
      if ((a & 16) != 0) {
        sys.QueueKeys(b, a & 15);
      } else {
        sys.Focus((b & 1) != 0);
      }
      break;
    case 6:
      switch (b % 6) {
        case 0: sys.AsController([] { Enable(0); }); break;
        case 1: sys.AsController([] { Enable(1); }); break;
        case 2: sys.AsController([] { ToggleLayout(); }); break;
        case 3: sys.AsController([a] { SelectLayout(a & 31u); }); break;
        case 4: sys.Load(d); break;
        case 5: sys.AsController([b] { Enable(b); }); break;
      }
      break;
    case 7:
      sys.Settle();
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static velto::fuzzing::FuzzSystem sys;
  static KeyboardDescription d;
  const std::uint8_t* p = data;
  std::size_t n = size;
  if (!TakeDescription(p, n, d)) return 0;
  sys.Start(d);
  for (; n >= 2; p += 2, n -= 2) {
    Event(sys, d, p[0], p[1]);
    sys.Forget();
  }
  sys.Settle();
  return 0;
}
