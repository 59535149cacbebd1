// The engine's work per key and per message, on the null platform: what runs
// in every process that receives a key or retrieves a message.
#include <benchmark/benchmark.h>

#include <cstring>

#include "hooks/procs.h"
#include "delivery/macro.h"
#include "delivery/deliver.h"
#include "delivery/player.h"
#include "delivery/queues.h"
#include "intercept/lookup.h"
#include "key_path.h"
#include "null_platform.h"
#include "shared/region.h"

namespace {

using namespace velto;
using velto::bench::Stream;

using platform::kWmKeyUp;
using platform::kWmTimer;
constexpr std::uint16_t kScanA = 0x1E;
constexpr std::uint16_t kScanF5 = 0x3F;

platform::LParam KeyLParam(std::uint16_t scan, bool up) {
  return static_cast<platform::LParam>(1u | (scan & 0xFFu) << 16 | (up ? 3u << 30 : 0));
}

platform::LParam RunMessageHook(std::uint32_t message, platform::WParam wParam, platform::LParam lParam) {
  platform::MessageFields m{bench::kFocusWindow, message, wParam, lParam};
  return GetMessageHookProc(0, 1, reinterpret_cast<platform::LParam>(&m));
}

void EmptyKeyQueue(ControlBlock& cb) {
  cb.keyQRead = cb.keyQWrite;
  cb.keyQEmpty = 1;
}

// The whole way of a key through both hooks, for 10,000 keys of German text.
void BM_GermanTextPerKey(benchmark::State& state) {
  bench::SetUpEngine("layouts/de", 1);
  const Stream stream = bench::GermanStream(10000);
  for (auto _ : state) bench::Type(stream);
  state.counters["per_key"] = benchmark::Counter(static_cast<double>(stream.keys),
                                                 benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
}
BENCHMARK(BM_GermanTextPerKey)->Unit(benchmark::kMicrosecond);

// The keyboard hook's decision on a key-down that translates: looked up,
// queued, swallowed.
void BM_KeyboardHookTranslated(benchmark::State& state) {
  bench::SetUpEngine("layouts/de", 1);
  ControlBlock& cb = TheRegion().control();
  const platform::LParam down = KeyLParam(kScanA, false);
  for (auto _ : state) {
    benchmark::DoNotOptimize(KeyboardHookProc(0, 'A', down));
    EmptyKeyQueue(cb);
  }
}
BENCHMARK(BM_KeyboardHookTranslated);

// A key that no layout translates goes on to the application.
void BM_KeyboardHookPassed(benchmark::State& state) {
  bench::SetUpEngine("layouts/de", 1);
  const platform::LParam down = KeyLParam(kScanF5, false);
  for (auto _ : state) benchmark::DoNotOptimize(KeyboardHookProc(0, 0x74, down));
}
BENCHMARK(BM_KeyboardHookPassed);

// The message hook on the key-up after a translated key: one result from the
// key queue to a posted WM_CHAR.
void BM_MessageHookResult(benchmark::State& state) {
  bench::SetUpEngine("layouts/de", 1);
  const Region& region = TheRegion();
  const std::uint32_t result = MakeResult(kScanA, kKindChar, 'a');
  const platform::LParam up = KeyLParam(kScanA, true);
  for (auto _ : state) {
    PushKeyResult(region, result);
    benchmark::DoNotOptimize(RunMessageHook(kWmKeyUp, 'A', up));
    bench::DropPosted();
  }
}
BENCHMARK(BM_MessageHookResult);

// Every message that any GUI thread retrieves passes the message hook.
void BM_MessageHookOtherMessage(benchmark::State& state) {
  bench::SetUpEngine("layouts/de", 1);
  for (auto _ : state) benchmark::DoNotOptimize(RunMessageHook(kWmTimer, 1, 0));
}
BENCHMARK(BM_MessageHookOtherMessage);

void BM_DeadKeyCombination(benchmark::State& state) {
  bench::SetUpEngine("layouts/de", 1);
  const Region& region = TheRegion();
  constexpr std::uint8_t kAcute = 0xB4;
  std::uint8_t next = 'u';
  for (auto _ : state) {
    benchmark::DoNotOptimize(CombineDeadKey(region, kAcute, next));
    benchmark::DoNotOptimize(next);
  }
}
BENCHMARK(BM_DeadKeyCombination);

void BM_TranslateKey(benchmark::State& state) {
  bench::SetUpEngine("layouts/de", 1);
  std::uint16_t scan = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(TranslateKey(TheRegion(), scan));
    scan = (scan + 1) & 0x7F;
  }
}
BENCHMARK(BM_TranslateKey);

// A whole macro expanded, part after part as the queue is read.
void ExpandWhole(benchmark::State& state, std::uint16_t key) {
  bench::SetUpEngine("bench/macros", 1);
  const Region& region = TheRegion();
  const std::uint8_t index = ResultChar(static_cast<std::uint32_t>(TranslateKey(region, key)));
  for (auto _ : state) {
    ResetState(region);
    ExpandMacro(region, index, MacroMode::kTable);
    do {
      ActionReader reader(region);
      while (!reader.empty()) {
        const std::uint16_t op = reader.Next();
        reader.Next();
        if (op == kOpPostChar) reader.Next();
        reader.Finish();
      }
    } while (ResumeMacro(region));
  }
}

void BM_ExpandMacro255Characters(benchmark::State& state) { ExpandWhole(state, 0x22); }
BENCHMARK(BM_ExpandMacro255Characters);

void BM_ExpandMacroTenChords(benchmark::State& state) { ExpandWhole(state, 0x23); }
BENCHMARK(BM_ExpandMacroTenChords);

// The player over an action queue full of characters to post.
void BM_PlayerFullQueue(benchmark::State& state) {
  bench::SetUpEngine("layouts/de", 1);
  const Region& region = TheRegion();
  ControlBlock& cb = region.control();
  std::size_t entries = 0;
  while (PushPostedMessage(region, kOpPostChar, 'a' + entries % 26, MakeResult(kScanA, 0, 'a'))) ++entries;
  QueueArea saved;
  std::memcpy(&saved, &region.queues(), sizeof saved);
  const std::uint16_t write = cb.actQWrite;
  for (auto _ : state) {
    std::memcpy(region.queues().actions, saved.actions, sizeof saved.actions);
    cb.actQRead = 0;
    cb.actQWrite = write;
    cb.actQEmpty = 0;
    PlayActions(region);
    bench::DropPosted();
  }
  state.counters["entries"] = static_cast<double>(entries);
}
BENCHMARK(BM_PlayerFullQueue);

// One tick of the 1 ms timer with nothing to play.
void BM_TimerTick(benchmark::State& state) {
  bench::SetUpEngine("layouts/de", 1);
  for (auto _ : state) TimerProc();
}
BENCHMARK(BM_TimerTick);

}  // namespace

BENCHMARK_MAIN();
