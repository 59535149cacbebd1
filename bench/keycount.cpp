// Fixed streams for counting the engine's instructions under callgrind
// (bench/instructions.sh). Each stream runs once to warm up, then once
// counted: callgrind's counts are zeroed in between, and only the engine's
// hook and timer procedures (with the platform calls they make) are
// collected. Prints the number of units the count is to be divided by.
// Built with VELTO_COUNT_CALLS (the program callcount), it also prints how
// often the counted run called each function of the platform.
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_ZERO_STATS  // without valgrind's headers there is nothing to count with
#endif

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <cstring>
#include <string>

#include "hooks/hook_thread.h"
#include "hooks/procs.h"
#include "intercept/lookup.h"
#include "key_path.h"
#include "null_platform.h"
#include "shared/region.h"

namespace {

using namespace velto::bench;

using velto::platform::kWmTimer;

struct Run {
  const char* name;
  const char* unit;
  const char* what;
  std::size_t (*run)(bool check);
};

std::size_t TypeChecked(const Stream& stream, bool check) {
  RecordText(check);
  Type(stream);
  RecordText(false);
  if (check && Latin1ToUtf8(ReceivedText()) != stream.text) {
    std::fprintf(stderr, "keycount: the stream typed \"%s\"\n", Latin1ToUtf8(ReceivedText()).c_str());
    std::exit(1);
  }
  return stream.keys;
}

std::size_t German(bool check) { return TypeChecked(GermanStream(1000), check); }
std::size_t Plain(bool check) { return TypeChecked(PlainStream(1000), check); }
std::size_t DeadKeys(bool check) { return TypeChecked(DeadKeyStream(500), check); }
std::size_t Compose(bool check) {
  const Stream stream = ComposeStream(400);
  TypeChecked(stream, check);
  return 400;
}

std::size_t Passed(bool check) {
  const Stream stream = PassedStream(1000);
  Type(stream);
  if (check && CharsReceived() != 0) {
    std::fputs("keycount: a function key typed something\n", stderr);
    std::exit(1);
  }
  return stream.keys;
}

// The macro of 255 characters and the one of ten chords, each by its key,
// played to the end by the timer.
std::size_t Macros(bool check) {
  const Stream stream = [] {
    Stream s;
    for (std::uint16_t scan : {0x22, 0x23}) s.events.insert(s.events.end(), {{scan, false}, {scan, true}});
    return s;
  }();
  for (const KeyEvent& e : stream.events) {
    UserKey(e.scan, e.up);
    Pump();
    TickUntilPlayed();
  }
  if (check && CharsReceived() != 255) {
    std::fprintf(stderr, "keycount: the macro typed %zu characters, not 255\n", CharsReceived());
    std::exit(1);
  }
  return 2;
}

std::size_t Messages(bool) {
  for (int i = 0; i < 1000; ++i) PostToApplication(kWmTimer);
  Pump();
  return 1000;
}

std::size_t Ticks(bool) {
  void (*volatile timer)() = velto::TimerProc;
  for (int i = 0; i < 1000; ++i) timer();
  return 1000;
}

constexpr Run kRuns[] = {
    {"german", "key", "German text: capitals, umlauts, acute accents by the dead key", German},
    {"plain", "key", "lower-case letters and spaces", Plain},
    {"deadkey", "key", "the dead acute accent and a vowel", DeadKeys},
    {"compose", "composition", "compositions through the whole en_US Compose file: compose key or dead key, then the keys after it", Compose},
    {"passed", "key", "function keys, passed on untranslated", Passed},
    {"macro", "macro", "a macro of 255 characters and one of ten chords", Macros},
    {"message", "message", "messages other than keyboard input", Messages},
    {"tick", "tick", "timer ticks with nothing to play", Ticks},
};

void Usage() {
  std::fputs("usage: keycount STREAM [--hook-thread]\n\nstreams:\n", stderr);
  for (const Run& r : kRuns) std::fprintf(stderr, "  %-8s per %-7s %s\n", r.name, r.unit, r.what);
}

}  // namespace

int main(int argc, char** argv) {
  // --hook-thread: the application's thread is the one that installed the
  // hooks, which the system also calls for the other architecture's input.
  const bool hookThread = argc == 3 && std::strcmp(argv[2], "--hook-thread") == 0;
  if (argc != 2 && !hookThread) {
    Usage();
    return 2;
  }
  for (const Run& r : kRuns) {
    if (std::strcmp(argv[1], r.name) != 0) continue;
    const char* description = std::strcmp(r.name, "macro") == 0     ? "bench/macros"
                              : std::strcmp(r.name, "compose") == 0 ? "bench/compose"
                                                                    : "layouts/de";
    SetUpEngine(description, 1);
    if (hookThread) velto::SetHookThread(kApplicationThread);
    r.run(true);
    SetUpEngine(description, 1);
    if (hookThread) velto::SetHookThread(kApplicationThread);
    CALLGRIND_ZERO_STATS;
    std::fill(std::begin(g_calls), std::end(g_calls), 0);
    const std::size_t units = r.run(false);
    std::printf("%zu %s\n", units, r.unit);
#ifdef VELTO_COUNT_CALLS
#define VELTO_PRINT_CALLS(name) \
  std::printf("%s %zu\n", #name, g_calls[static_cast<std::size_t>(velto::bench::PlatformCall::k##name)]);
    VELTO_PLATFORM_CALLS(VELTO_PRINT_CALLS)
#undef VELTO_PRINT_CALLS
#endif
    return 0;
  }
  Usage();
  return 2;
}
