// The engine's time per key in the browser: the German text of side_by_side
// through both hooks on the null platform, built as WebAssembly with the
// playground. de.vkl is compiled in the module's own files first, from the
// copy the playground carries. Prints the best time of ROUNDS rounds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "key_path.h"
#include "layoutkit/diagnostics.h"
#include "layoutkit/vkb.h"
#include "layoutkit/vkl.h"
#include "null_platform.h"

int main(int argc, char** argv) {
  const int rounds = argc == 2 ? std::atoi(argv[1]) : 15;
  if (argc > 2 || rounds < 1) {
    std::fputs("usage: engine_speed [ROUNDS]\n", stderr);
    return 2;
  }
  namespace layoutkit = velto::layoutkit;
  layoutkit::KeyboardDescription d;
  layoutkit::Diagnostics diags;
  std::filesystem::create_directories(VELTO_BENCH_DATA_DIR "/layouts");
  if (!layoutkit::CompileVklFile("/layouts/de.vkl", d, diags) ||
      !layoutkit::WriteFile(VELTO_BENCH_DATA_DIR "/layouts/de.vkb", layoutkit::ToVkb(d), diags)) {
    std::fputs(diags.Text().c_str(), stderr);
    return 1;
  }
  velto::bench::SetUpEngine("layouts/de", 1);
  const velto::bench::Stream stream = velto::bench::GermanStream(10000);
  velto::bench::RecordText(true);
  velto::bench::Type(stream);
  velto::bench::RecordText(false);
  if (velto::bench::Latin1ToUtf8(velto::bench::ReceivedText()) != stream.text) {
    std::fputs("engine_speed: the text typed is not the stream's\n", stderr);
    return 1;
  }
  using Clock = std::chrono::steady_clock;
  double best = 1e30;
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    velto::bench::Type(stream);
    const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    best = std::min(best, ns / static_cast<double>(stream.keys));
  }
  std::printf("German text, %zu keys, best of %d rounds: %.1f ns per key\n", stream.keys, rounds, best);
  return 0;
}
