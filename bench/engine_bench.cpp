// The per-key work of the engine, which runs in whatever process receives
// the key: the lookup, the key step, and the expansion of the longest macro.
#include <benchmark/benchmark.h>

#include <vector>

#include "delivery/macro.h"
#include "delivery/queues.h"
#include "intercept/hotkeys.h"
#include "intercept/lookup.h"
#include "intercept/modifiers.h"
#include "layoutkit/layout_builder.h"
#include "shared/region.h"

namespace {

using namespace velto;

struct Fixture {
  std::vector<std::uint8_t> memory = std::vector<std::uint8_t>(kRegionSize);
  Region region{memory.data()};

  Fixture() {
    layoutkit::KeyboardDescription d = layoutkit::DemoDescription();
    d.SetMacro(9, std::string(255, 'x'));
    d.LoadInto(region);
    ResetState(region);
    region.control().enabled = 1;
    region.control().currentLayout = 1;
  }
};

void BM_TranslateKey(benchmark::State& state) {
  Fixture f;
  f.region.control().modifiers = 1u << kModLeftShift;
  std::uint16_t scan = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(TranslateKey(f.region, scan));
    scan = (scan + 1) & 0x1FF;
  }
}
BENCHMARK(BM_TranslateKey);

void BM_KeyStepPressAndRelease(benchmark::State& state) {
  Fixture f;
  for (auto _ : state) {
    f.region.control().keyIsModifier = 0;
    benchmark::DoNotOptimize(KeyStep(f.region, 0x1F, false, false));
    benchmark::DoNotOptimize(KeyStep(f.region, 0x1F, true, true));
  }
}
BENCHMARK(BM_KeyStepPressAndRelease);

void BM_ExpandLongestMacroWithModifiers(benchmark::State& state) {
  Fixture f;
  for (auto _ : state) {
    ResetState(f.region);
    f.region.control().modifiers = (1u << kModRightAlt) | (1u << kModLeftShift);
    ExpandMacro(f.region, 9, MacroMode::kTable);
    // Drain and resume until the whole macro has gone through the queue.
    while (true) {
      ActionReader reader(f.region);
      while (!reader.empty()) {
        const std::uint16_t op = reader.Next();
        reader.Next();
        if (op == kOpPostChar) reader.Next();
        reader.Finish();
      }
      if (!ResumeMacro(f.region)) break;
    }
  }
}
BENCHMARK(BM_ExpandLongestMacroWithModifiers);

}  // namespace

BENCHMARK_MAIN();
