// The same 10,000 keys of German text through the engine (both hooks, on the
// null platform) and through libxkbcommon (German layout, en_US compose: key
// state on press and release, keysym, compose, UTF-8), timed in one run.
// Prints nanoseconds per key for each and the ratio.
#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "key_path.h"
#include "null_platform.h"

namespace {

using velto::bench::Stream;

constexpr std::uint32_t kEvdevOffset = 8;  // X keycodes are the scan codes plus 8

struct Xkb {
  xkb_context* context = nullptr;
  xkb_keymap* keymap = nullptr;
  xkb_state* state = nullptr;
  xkb_compose_table* table = nullptr;
  xkb_compose_state* compose = nullptr;

  Xkb() {
    context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const xkb_rule_names names{"evdev", "pc105", "de", "", ""};
    if (context != nullptr) keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (keymap != nullptr) state = xkb_state_new(keymap);
    if (context != nullptr) {
      table = xkb_compose_table_new_from_locale(context, "en_US.UTF-8", XKB_COMPOSE_COMPILE_NO_FLAGS);
    }
    if (table != nullptr) compose = xkb_compose_state_new(table, XKB_COMPOSE_STATE_NO_FLAGS);
    if (state == nullptr || compose == nullptr) {
      std::fputs("side_by_side: no German keymap or en_US compose table (xkb-data, libx11-data)\n", stderr);
      std::exit(2);
    }
  }
  ~Xkb() {
    xkb_compose_state_unref(compose);
    xkb_compose_table_unref(table);
    xkb_state_unref(state);
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
  }

  // Types the stream the way a client of the library does; returns the UTF-8.
  std::size_t Type(const Stream& stream, std::string* text) {
    char buf[16];
    std::size_t bytes = 0;
    for (const velto::bench::KeyEvent& e : stream.events) {
      const xkb_keycode_t key = e.scan + kEvdevOffset;
      if (e.up) {
        xkb_state_update_key(state, key, XKB_KEY_UP);
        continue;
      }
      const xkb_keysym_t sym = xkb_state_key_get_one_sym(state, key);
      xkb_state_update_key(state, key, XKB_KEY_DOWN);
      int n = 0;
      xkb_compose_state_feed(compose, sym);
      switch (xkb_compose_state_get_status(compose)) {
        case XKB_COMPOSE_COMPOSED:
          n = xkb_compose_state_get_utf8(compose, buf, sizeof buf);
          xkb_compose_state_reset(compose);
          break;
        case XKB_COMPOSE_NOTHING:
          n = xkb_state_key_get_utf8(state, key, buf, sizeof buf);
          break;
        default:
          break;  // composing, or cancelled
      }
      // Shift alone types nothing.
      if (n > 0 && text != nullptr) text->append(buf, static_cast<std::size_t>(n));
      bytes += static_cast<std::size_t>(std::max(n, 0));
    }
    return bytes;
  }
};

template <typename F>
double NanosecondsPerKey(const Stream& stream, F&& type) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  type();
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count() /
         static_cast<double>(stream.keys);
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 15;
  if (argc == 2) rounds = std::atoi(argv[1]);
  if (argc > 2 || rounds < 1) {
    std::fputs("usage: side_by_side [ROUNDS]\n\n"
               "Types 10,000 keys of German text through the engine and through libxkbcommon,\n"
               "ROUNDS times each in turn (default 15), and prints the best time per key of each.\n",
               stderr);
    return 2;
  }
  velto::bench::SetUpEngine("layouts/de", 1);
  const Stream stream = velto::bench::GermanStream(10000);
  Xkb xkb;

  // Both must type the text, or the comparison means nothing.
  std::string xkbText;
  xkb.Type(stream, &xkbText);
  velto::bench::RecordText(true);
  velto::bench::Type(stream);
  velto::bench::RecordText(false);
  const std::string veltoText = velto::bench::Latin1ToUtf8(velto::bench::ReceivedText());
  if (xkbText != stream.text || veltoText != stream.text) {
    std::fprintf(stderr, "side_by_side: the text typed differs (velto %s, libxkbcommon %s)\n",
                 veltoText == stream.text ? "right" : "wrong", xkbText == stream.text ? "right" : "wrong");
    return 1;
  }

  double velto = 1e30, peer = 1e30;
  std::size_t sink = 0;
  for (int i = 0; i < rounds; ++i) {
    velto = std::min(velto, NanosecondsPerKey(stream, [&] { velto::bench::Type(stream); }));
    peer = std::min(peer, NanosecondsPerKey(stream, [&] { sink += xkb.Type(stream, nullptr); }));
  }
  std::printf("German text, %zu keys (%zu events), best of %d rounds each\n", stream.keys,
              stream.events.size(), rounds);
  std::printf("  velto         %7.1f ns per key\n", velto);
  std::printf("  libxkbcommon  %7.1f ns per key\n", peer);
  std::printf("  ratio         %7.2f (libxkbcommon / velto)\n", peer / velto);
  return sink == 0 ? 1 : 0;
}
