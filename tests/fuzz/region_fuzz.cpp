// Fuzzes the library against a shared region whose every byte may be wrong:
// any process can write the region, and none of its values may make a hooked
// process read or write outside it. The input is a region image followed by
// a few key events, messages and ticks that the hooks and exports handle.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "control/exports.h"
#include "hooks/procs.h"
#include "sim/sim.h"
#include "shared/region.h"
#include "simharness/system.h"

namespace {

using velto::platform::LParam;

// The system every input runs on, brought up once: a controller's window
// and an application's window with the focus; nothing installed but what the
// inputs install.
const velto::simharness::SimSystem& TheSystem() {
  static velto::simharness::SimSystem system;
  [[maybe_unused]] static const bool mapped = [] {
    if (!system.Up()) return false;
    velto::sim::SetFocus(system.app);
    return true;
  }();
  return system;
}

// The events at the end of the input: each 8 bytes say what to do.
void Drive(const velto::simharness::SimSystem& w, const std::uint8_t* p, std::size_t n) {
  for (; n >= 8; p += 8, n -= 8) {
    std::uint32_t a;
    std::uint32_t b;
    std::memcpy(&a, p, 4);
    std::memcpy(&b, p + 4, 4);
    velto::sim::RunAs(w.appThread);
    switch (a & 7) {
      case 0:
      case 1:  // a key event straight into the keyboard hook, any code
        velto::KeyboardHookProc(static_cast<int>(static_cast<std::int8_t>(a >> 8)) % 4, (a >> 16) & 0xFF,
                                static_cast<LParam>(b));
        break;
      case 2: {  // a retrieved message
        velto::sim::Message m{w.app, (a >> 8) & 0xFFFF, (a >> 24) | (b & 0xFF00), static_cast<LParam>(b)};
        if ((a & 8) != 0) m.message = 256 + ((a >> 8) & 15);
        velto::GetMessageHookProc(0, 1, reinterpret_cast<LParam>(&m));
        break;
      }
      case 3:
        velto::TimerProc();
        break;
      case 4:
        velto::CbtHookProc(static_cast<int>(b % 10), w.app, 0);
        break;
      case 5: {
        char name[20];
        CurrentLayoutName(name);
        SelectLayout(b);
        break;
      }
      case 6:
        velto::sim::KeyDown(static_cast<std::uint16_t>(b & 0x1FF));
        velto::sim::KeyUp(static_cast<std::uint16_t>(b & 0x1FF));
        break;
      case 7:
        RemoveHook(b);
        break;
    }
    velto::sim::Pump();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const velto::simharness::SimSystem& w = TheSystem();
  const velto::Region& region = velto::TheRegion();
  if (!region.valid()) return 0;
  // The first two bytes say how much of the input is the region image.
  if (size < 2) return 0;
  const std::size_t wanted = std::size_t{data[0]} | std::size_t{data[1]} << 8;
  const std::size_t image = std::min({size - 2, wanted * 2, velto::kRegionSize});
  std::memset(region.base(), 0, velto::kRegionSize);
  std::memcpy(region.base(), data + 2, image);
  Drive(w, data + 2 + image, size - 2 - image);
  velto::sim::ClearDispatched();
  velto::sim::ClearKeyEvents();
  return 0;
}
