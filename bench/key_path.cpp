#include "key_path.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>

#include "hooks/procs.h"
#include "control/exports.h"
#include "delivery/macro.h"
#include "null_platform.h"
#include "shared/region.h"

namespace velto::bench {

namespace {

constexpr std::uint16_t kLeftShift = 0x2A;
constexpr std::uint16_t kDeadAcute = 0x0D;  // the key right of ß

// Key positions of the German keyboard, by the US key at the same place.
constexpr std::uint16_t kLetterScan[26] = {
    0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32,  // a..m
    0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x2C, 0x15,  // n..z (y, z swapped)
};

struct Stroke {
  std::uint16_t scan;
  bool shift;
  bool acute;  // after the dead acute accent
};

// The stroke that types a Latin-1 character on the German keyboard.
bool StrokeOf(unsigned ch, Stroke& out) {
  const bool upper = (ch >= 'A' && ch <= 'Z') || (ch >= 0xC0 && ch <= 0xDE);
  const unsigned lower = upper ? ch + 0x20 : ch;
  if (lower >= 'a' && lower <= 'z') {
    out = {kLetterScan[lower - 'a'], upper, false};
    return true;
  }
  static constexpr struct {
    unsigned ch;
    std::uint16_t scan;
    bool acute;
  } kOthers[] = {
      {0xE4, 0x28, false}, {0xF6, 0x27, false}, {0xFC, 0x1A, false}, {0xDF, 0x0C, false},
      {0xE1, 0x1E, true},  {0xE9, 0x12, true},  {0xED, 0x17, true},  {0xF3, 0x18, true},
      {0xFA, 0x16, true},  {' ', 0x39, false},  {',', 0x33, false},  {'.', 0x34, false},
      {'-', 0x35, false},
  };
  for (const auto& other : kOthers) {
    if (other.ch == lower && (other.ch != 0xDF || !upper)) {
      out = {other.scan, upper, other.acute};
      return true;
    }
  }
  return false;
}

std::vector<unsigned> DecodeUtf8(const char* text) {
  std::vector<unsigned> out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
    if (*p < 0x80) {
      out.push_back(*p);
    } else {
      out.push_back((*p & 0x1Fu) << 6 | (p[1] & 0x3Fu));
      ++p;
    }
  }
  return out;
}

void Press(Stream& s, std::uint16_t scan) {
  s.events.push_back({scan, false});
  s.events.push_back({scan, true});
  ++s.keys;
}

// Appends the strokes of `ch`, unless they would make the stream longer than `keys`.
bool Append(Stream& s, unsigned ch, std::size_t keys) {
  Stroke stroke{};
  if (!StrokeOf(ch, stroke)) {
    std::fprintf(stderr, "key_path: no German key types U+%04X\n", ch);
    std::exit(2);
  }
  if (s.keys + (stroke.acute ? 2 : 1) > keys) return false;
  if (stroke.acute) Press(s, kDeadAcute);
  if (stroke.shift) s.events.push_back({kLeftShift, false});
  Press(s, stroke.scan);
  if (stroke.shift) s.events.push_back({kLeftShift, true});
  s.text += Latin1ToUtf8(std::string(1, static_cast<char>(ch)));
  return true;
}

Stream Repeat(const char* utf8, std::size_t keys) {
  const std::vector<unsigned> chars = DecodeUtf8(utf8);
  Stream s;
  for (std::size_t i = 0; Append(s, chars[i % chars.size()], keys); ++i) continue;
  return s;
}

// The timer procedure, called as the system calls it.
void (*volatile g_timer)() = TimerProc;

}  // namespace

std::string Latin1ToUtf8(const std::string& bytes) {
  std::string out;
  for (const char c : bytes) {
    const unsigned char ch = static_cast<unsigned char>(c);
    if (ch < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<char>(0xC0 | ch >> 6));
      out.push_back(static_cast<char>(0x80 | (ch & 0x3F)));
    }
  }
  return out;
}

void SetUpEngine(const std::string& vkbName, int layout) {
  const std::string path = std::string(VELTO_BENCH_DATA_DIR) + "/" + vkbName + ".vkb";
  std::ifstream file(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // The five blocks, and the composition table after them if it has one.
  if (bytes.size() < kRegionSize - kOptionOffset) {
    std::fprintf(stderr, "key_path: %s is not a compiled description (build the layouts first)\n",
                 path.c_str());
    std::exit(2);
  }
  ResetNullSystem();
  ProcessAttach();
  const Region& region = TheRegion();
  std::memset(region.base(), 0, kRegionSize);
  const char* b = bytes.data() - kOptionOffset;
  LoadDescription(region, b + kOptionOffset, b + kKeyTableOffset, b + kLayoutOffset, b + kDeadKeyOffset,
                  b + kMacroOffset);
  ResetState(region);
  ControlBlock& cb = region.control();
  cb.enabled = 1;
  cb.currentLayout = static_cast<std::uint8_t>(layout);
  cb.notifyMsg = platform::RegisterWindowMessage(kNotifyMessageName);
  cb.clientCount = 1;
  cb.clients[0] = kControllerWindow;
  // The light already shows the layout, as the controller's start leaves it.
  TimerProc();
  Pump();
}

Stream GermanStream(std::size_t keys) {
  return Repeat(
      "Im Café am Marktplatz öffnet Renée früh, während Jürgen Brötchen für die Gäste kauft. "
      "Über die Straße läuft José mit dem Hund, und André grüßt aus dem Fenster. Die Band aus "
      "Orléans spielt heute Abend im Klub, das Publikum äußert sich begeistert über die Qualität. "
      "Zwölf Boxkämpfer jagen Eva quer über den großen Sylter Deich, sagt Ángel. ",
      keys);
}

Stream PlainStream(std::size_t keys) { return Repeat("the quick brown fox jumps over a lazy dog ", keys); }

Stream DeadKeyStream(std::size_t pairs) { return Repeat("éáóúí", 2 * pairs); }

Stream ComposeStream(std::size_t compositions) {
  // Scan codes of bench/compose.vkl's layout 1.
  constexpr std::uint16_t kApps = 0x15D, kQuote = 0x28, kA = 0x1E, kC = 0x2E, kE = 0x12, kO = 0x18, kS = 0x1F;
  struct Composition {
    std::initializer_list<std::uint16_t> keys;
    const char* text;
  };
  static const Composition kCycle[] = {
      {{kApps, kO, kC}, "©"}, {{kQuote, kE}, "é"}, {{kApps, kA, kE}, "æ"}, {{kApps, kS, kS}, "ß"}};
  Stream s;
  for (std::size_t i = 0; i < compositions; ++i) {
    const Composition& c = kCycle[i % std::size(kCycle)];
    for (const std::uint16_t scan : c.keys) Press(s, scan);
    s.text += c.text;
  }
  return s;
}

Stream PassedStream(std::size_t keys) {
  Stream s;
  for (std::size_t i = 0; i < keys; ++i) Press(s, static_cast<std::uint16_t>(0x3B + i % 10));
  return s;
}

void Type(const Stream& stream) {
  for (const KeyEvent& e : stream.events) {
    UserKey(e.scan, e.up);
    Pump();
  }
}

std::size_t TickUntilPlayed() {
  const ControlBlock& cb = TheRegion().control();
  std::size_t ticks = 0;
  while (cb.actQEmpty == 0 || MacroPending(TheRegion()) || Pending()) {
    if (++ticks > 100000) {
      std::fputs("key_path: the macro never finished playing\n", stderr);
      std::exit(2);
    }
    g_timer();
    Pump();
  }
  return ticks;
}

}  // namespace velto::bench
