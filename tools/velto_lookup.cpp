// Shows the engine at work on Linux: loads the demo keyboard description into
// a shared region and prints what keys translate to, layout by layout.
#include <cstdio>
#include <string>

#include "delivery/macro.h"
#include "delivery/queues.h"
#include "intercept/lookup.h"
#include "intercept/modifiers.h"
#include "layoutkit/layout_builder.h"
#include "platform/sim/sim.h"
#include "shared/region.h"

using namespace velto;

namespace {

std::string Describe(int r) {
  if (r == 0) return "(none)";
  const int kind = r >> 8;
  const unsigned ch = r & 0xFF;
  char buf[48];
  const char* kindName = kind == kKindDeadKey ? "dead key" : kind == kKindMacro ? "macro" : "char";
  if (kind == kKindMacro) {
    std::snprintf(buf, sizeof buf, "%s #%u", kindName, ch);
  } else if (ch >= 0x20 && ch < 0x7F) {
    std::snprintf(buf, sizeof buf, "%s '%c'", kindName, static_cast<char>(ch));
  } else {
    std::snprintf(buf, sizeof buf, "%s 0x%02X", kindName, ch);
  }
  return buf;
}

void ShowWord(const Region& region, const char* label, const char* usKeys, std::uint16_t mods) {
  region.control().modifiers = mods;
  std::printf("  %-28s", label);
  for (const char* p = usKeys; *p; ++p) {
    // Find the scan code of the US key that types *p.
    std::uint16_t scan = 0;
    for (auto* row : {layoutkit::kTopRow, layoutkit::kHomeRow, layoutkit::kBottomRow}) {
      const char* letters = row == layoutkit::kTopRow ? "qwertyuiop"
                            : row == layoutkit::kHomeRow ? "asdfghjkl"
                                                         : "zxcvbnm";
      for (int i = 0; letters[i]; ++i) {
        if (letters[i] == *p) scan = row[i];
      }
    }
    const int r = TranslateKey(region, scan);
    std::putchar((r >> 8) == 0 && (r & 0xFF) >= 0x20 && (r & 0xFF) < 0x7F ? r & 0xFF : '?');
  }
  std::putchar('\n');
}

}  // namespace

int main() {
  sim::SetSharedMemoryPrefix("velto-demo-");
  if (!AttachRegion()) {
    std::fprintf(stderr, "cannot map the shared region\n");
    return 1;
  }
  const Region& region = TheRegion();
  ResetState(region);
  const layoutkit::KeyboardDescription demo = layoutkit::DemoDescription();
  demo.LoadInto(region);
  std::printf("Shared region \"%s\": %zu bytes mapped\n\n", kRegionName, kRegionSize);

  for (std::uint8_t layout = 0; layout < 2; ++layout) {
    region.control().currentLayout = layout;
    std::printf("Layout %u (%.20s): typing the US keys \"hello world\"\n", layout,
                region.layoutRecords()[layout].name);
    ShowWord(region, "no modifiers:", "helloworld", 0);
    ShowWord(region, "left Shift:", "helloworld", 1u << kModLeftShift);
    region.control().leds = 1u << kLedCapsLock;
    ShowWord(region, "Caps Lock on:", "helloworld", 0);
    region.control().leds = 0;
  }

  std::printf("\nSingle keys on layout 1:\n");
  region.control().currentLayout = 1;
  const struct {
    const char* what;
    std::uint16_t scan;
    std::uint16_t mods;
  } keys[] = {
      {"` (dead key)", 0x29, 0},
      {"q key (dead key)", 0x10, 0},
      {"right Alt + e", 0x12, 1u << kModRightAlt},
      {"right Alt + m (macro)", 0x32, 1u << kModRightAlt},
      {"F1 (unmapped)", 0x3B, 0},
  };
  for (const auto& k : keys) {
    region.control().modifiers = k.mods;
    std::printf("  %-28s scan %3u -> %s\n", k.what, k.scan, Describe(TranslateKey(region, k.scan)).c_str());
  }

  region.control().modifiers = 1u << kModRightAlt;
  ExpandMacro(region, 1, MacroMode::kTable);
  std::printf("\nMacro #1 with right Alt held expands to:\n ");
  ActionReader reader(region);
  while (!reader.empty()) {
    const std::uint16_t op = reader.Next();
    if (op == kOpPostChar) {
      const std::uint16_t ch = reader.Next();
      reader.Next();
      std::printf(" '%c'", static_cast<char>(ch));
    } else {
      const std::uint16_t vk = reader.Next();
      std::printf(" %s(0x%X)", op == kOpKeyDown ? "down" : "up", vk);
    }
    reader.Finish();
  }
  std::printf("\n");

  DetachRegion();
  sim::RemoveSharedMemory(kRegionName);
  return 0;
}
