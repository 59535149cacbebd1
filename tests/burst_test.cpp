// 10,000 keystrokes on the shipped international layout through the whole
// simulated system: text, dead keys, right-Alt characters and macros, held
// and rolled-over keys, Caps Lock and the hotkeys, now fast (a few timer ticks
// between key events) and now slow. A small model that reads the compiled
// description, not the engine, says what the window must receive.
#include <algorithm>
#include <cstdio>
#include <random>
#include <sstream>

#include "layoutkit/codepage.h"
#include "layoutkit/keys.h"
#include "layoutkit/vkb.h"
#include "layoutkit/vkl.h"
#include "platform/sim/us_layout.h"
#include "testing/system_fixture.h"

namespace velto::testing {
namespace {

using layoutkit::KeyboardDescription;

constexpr unsigned kSeed = 20250611;
constexpr int kKeystrokes = 10000;

struct Mods {
  bool lshift = false, rshift = false, ralt = false;
};

// What the keystrokes type, in UTF-8: layout 1 from its planes (each byte
// read in the layout's character set), layout 0 and the keys a layout leaves
// alone by the US layout, dead keys by the table.
class Model {
 public:
  explicit Model(const KeyboardDescription& d) : d_(d) {}

  std::string text;
  unsigned layout = 1;
  bool enabled = true;
  bool caps = false;

  void Tap(std::uint16_t scan, Mods m) {
    if (enabled && layout == 1 && FromTable(scan, m)) return;
    if (m.ralt) return;  // Alt combinations reach the window as WM_SYSCHAR, if at all
    const char c = sim::UsCharOf(sim::UsVkOfScan(scan, false), m.lshift || m.rshift, false, caps);
    if (c != 0) text += c;  // a pending dead key does not see it
  }
  void ToggleLayout() { layout ^= enabled ? 1 : 0; }

 private:
  // False when the cell is empty: the key goes to the system.
  bool FromTable(std::uint16_t scan, Mods m) {
    const KeySlot& slot = d_.keys.planes[caps ? 3 : 1][d_.options.scanMap[scan]]
                              .slots[m.ralt ? kSlotRightAlt : kSlotPlain];
    const unsigned column = m.lshift ? 1 : m.rshift ? 2 : 0;
    const std::uint8_t ch = slot.ch[column];
    if (ch == 0) return false;
    if (slot.flags & 1u << (column + 3)) {
      dead_ = 0;
      const MacroEntry& macro = d_.macros.entries[ch];
      const std::string s(macro.text, macro.length);
      for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '{') {  // the only chord the burst types
          EXPECT_EQ(s.compare(i, 7, "{ENTER}"), 0) << s;
          text += '\r';
          i += 6;
        } else if (s[i] != '\r' && s[i] != '\n') {
          Add(static_cast<std::uint8_t>(s[i]));
        }
      }
    } else if (slot.flags & 1u << column) {
      dead_ = ch;
    } else {
      Add(Compose(ch));
    }
    return true;
  }

  void Add(std::uint8_t byte) { layoutkit::AppendUtf8(text, layoutkit::LayoutChar(d_, 1, byte)); }

  std::uint8_t Compose(std::uint8_t ch) {
    const std::uint8_t dead = dead_;
    dead_ = 0;
    if (dead == 0) return ch;
    if (ch == ' ') return dead;
    for (const DeadKeyRow& row : d_.deadKeys.rows) {
      if (row.dead == dead && row.next == ch) return row.composed;
    }
    return ch;
  }

  const KeyboardDescription& d_;
  std::uint8_t dead_ = 0;
};

// UTF-8 with its control characters escaped.
std::string Shown(const std::string& utf8) {
  std::string out;
  for (const char c : utf8) {
    const auto b = static_cast<std::uint8_t>(c);
    if (b < 32) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

class Burst : public SystemTest {
 protected:
  KeyboardDescription Description() const override {
    KeyboardDescription d;
    layoutkit::Diagnostics diags;
    EXPECT_TRUE(layoutkit::CompileVklFile(VELTO_SOURCE_DIR "/layouts/intl.vkl", d, diags)) << diags.Text();
    return d;
  }
  void SetUp() override {
    SystemTest::SetUp();
    AsController([] { SelectLayout(1); });
  }

  // A hardware key event, then the ticks of a 1 ms timer until the next one.
  void Event(std::uint16_t s, bool up) {
    up ? sim::KeyUp(s) : sim::KeyDown(s);
    sim::Pump();
    sim::TickTimers(fast_ ? Between(1, 4) : Between(15, 90));
  }
  int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
  bool Chance(double p) { return std::bernoulli_distribution(p)(rng_); }

  std::mt19937 rng_{kSeed};
  bool fast_ = true;
};

TEST_F(Burst, TenThousandKeystrokesTypeWhatTheDescriptionSays) {
  const KeyboardDescription d = Description();
  Model model(d);
  std::vector<std::uint16_t> keys(std::begin(layoutkit::kNumberRow), std::end(layoutkit::kNumberRow));
  keys.insert(keys.end(), std::begin(layoutkit::kTopRow), std::end(layoutkit::kTopRow));
  keys.insert(keys.end(), std::begin(layoutkit::kHomeRow), std::end(layoutkit::kHomeRow));
  keys.insert(keys.end(), std::begin(layoutkit::kBottomRow), std::end(layoutkit::kBottomRow));
  keys.insert(keys.end(), {0x2B, scan::kSpace, scan::kSpace, scan::kSpace, scan::kSpace});
  constexpr std::uint16_t kJ = 0x24, kTab = 0x0F, kBack = 0x0E, kSix = 0x07, kQuote = 0x28;
  // What dead keys take: a e i o u y c n, and Space.
  const std::vector<std::uint16_t> bases = {scan::kA, scan::kE, 0x17, scan::kO, 0x16, 0x15, 0x2E, 0x31, scan::kSpace};
  const std::uint16_t others[] = {scan::kEnter, kTab, kBack};

  std::vector<std::pair<std::string, std::size_t>> log;  // keystroke, the model's text length after it
  Mods held;                                              // for several keystrokes
  std::uint16_t heldKey = 0;
  int holdLeft = 0;
  auto name = [](std::uint16_t s) { return layoutkit::KeyNameOfScan(s); };
  auto any = [&] { return keys[Between(0, static_cast<int>(keys.size()) - 1)]; };
  auto notJ = [&] {  // right Alt + J's macro has chords the model does not follow
    std::uint16_t s = any();
    while (s == kJ) s = any();
    return s;
  };
  auto shift = [&](double p) {
    Mods m;
    if (!held.lshift && !held.rshift && Chance(p)) (Chance(0.6) ? m.lshift : m.rshift) = true;
    return m;
  };
  // One keystroke: `s` with `extra` modifiers pressed around it, now and then
  // let go before it.
  auto tap = [&](std::uint16_t s, Mods extra) {
    std::vector<std::uint16_t> mods;
    if (extra.ralt) mods.push_back(scan::kRightAlt);
    if (extra.lshift) mods.push_back(scan::kLeftShift);
    if (extra.rshift) mods.push_back(scan::kRightShift);
    if (mods.size() == 2 && Chance(0.5)) std::swap(mods[0], mods[1]);
    std::string n = holdLeft > 0 ? "[" + name(heldKey) + " held] " : "";
    for (const std::uint16_t m : mods) {
      n += name(m) + "+";
      Event(m, false);
    }
    model.Tap(s, {held.lshift || extra.lshift, held.rshift || extra.rshift, held.ralt || extra.ralt});
    Event(s, false);
    const bool early = !mods.empty() && Chance(0.2);
    for (std::size_t i = mods.size(); early && i-- > 0;) Event(mods[i], true);
    Event(s, true);
    for (std::size_t i = mods.size(); !early && i-- > 0;) Event(mods[i], true);
    log.emplace_back(n + name(s) + (fast_ ? "" : " (slow)"), model.text.size());
  };

  while (static_cast<int>(log.size()) < kKeystrokes) {
    if (Chance(0.02)) fast_ = !fast_;
    if (holdLeft > 0) {
      Mods m = shift(0.3);
      m.ralt = !held.ralt && Chance(0.3);
      tap(held.ralt || m.ralt ? notJ() : any(), m);
      if (--holdLeft == 0) {
        Event(heldKey, true);
        held = {};
      }
      continue;
    }
    const double r = std::uniform_real_distribution<double>(0, 1)(rng_);
    const double toggle = model.layout == 0 ? 0.10 : 0.015, enable = model.enabled ? 0.008 : 0.10;
    if (r < 0.40) {
      tap(any(), shift(0.2));
    } else if (r < 0.52) {  // a dead key, then what it may take
      static const std::pair<std::uint16_t, Mods> kDead[] = {
          {scan::kGrave, {}}, {scan::kGrave, {false, true, false}}, {kQuote, {}},
          {kQuote, {true, false, false}}, {kSix, {true, false, false}}};
      const auto& [dead, m] = kDead[Between(0, 4)];
      tap(dead, m);
      tap(Chance(0.8) ? bases[Between(0, static_cast<int>(bases.size()) - 1)] : any(), shift(0.3));
    } else if (r < 0.62) {
      Mods m = shift(0.3);
      m.ralt = true;
      tap(notJ(), m);
    } else if (r < 0.70) {
      static const std::uint16_t kHeld[] = {scan::kLeftShift, scan::kRightShift, scan::kRightAlt};
      heldKey = kHeld[Between(0, 2)];
      held = {heldKey == scan::kLeftShift, heldKey == scan::kRightShift, heldKey == scan::kRightAlt};
      holdLeft = Between(2, 6);
      Event(heldKey, false);
    } else if (r < 0.75) {  // rollover: the second key goes down before the first comes up
      const std::uint16_t a = any(), b = any();
      if (a == b) continue;
      model.Tap(a, {});
      log.emplace_back(name(a) + " (down until the next is down)", model.text.size());
      Event(a, false);
      model.Tap(b, {});
      log.emplace_back(name(b), model.text.size());
      Event(b, false);
      Event(a, true);
      Event(b, true);
    } else if (r < 0.79) {
      tap(others[Between(0, 2)], shift(0.2));
    } else if (r < 0.81) {
      model.caps = !model.caps;
      tap(scan::kCapsLock, {});
    } else if (r < 0.81 + toggle) {
      const bool rightFirst = Chance(0.3), rightUpFirst = Chance(0.5);
      Event(rightFirst ? scan::kRightShift : scan::kLeftShift, false);
      Event(rightFirst ? scan::kLeftShift : scan::kRightShift, false);
      Event(rightUpFirst ? scan::kRightShift : scan::kLeftShift, true);
      Event(rightUpFirst ? scan::kLeftShift : scan::kRightShift, true);
      model.ToggleLayout();
      log.emplace_back("LSHIFT+RSHIFT, " + name(rightUpFirst ? scan::kRightShift : scan::kLeftShift) +
                           " let go first",
                       model.text.size());
    } else if (r < 0.81 + toggle + enable) {
      Event(scan::kLeftCtrl, false);
      Event(scan::kF12, false);
      Event(scan::kF12, true);
      Event(scan::kLeftCtrl, true);
      model.enabled = !model.enabled;
      log.emplace_back("LCTRL+F12", model.text.size());
    } else {
      tap(any(), shift(0.2));
    }
  }
  if (holdLeft > 0) Event(heldKey, true);
  sim::TickTimers(500);

  const std::string typed = Typed();
  const std::string& want = model.text;
  if (typed == want) return;
  const std::size_t at =
      std::mismatch(typed.begin(), typed.end(), want.begin(), want.end()).first - typed.begin();
  std::size_t k = 0;
  while (k + 1 < log.size() && log[k].second <= at) ++k;
  std::ostringstream keystrokes;
  for (std::size_t i = k >= 20 ? k - 20 : 0; i <= k; ++i) keystrokes << "\n  #" << i << " " << log[i].first;
  const std::size_t from = at >= 30 ? at - 30 : 0;
  FAIL() << "seed " << kSeed << ": the window received " << typed.size() << " characters, the model says "
         << want.size() << "; first difference at " << at << " (keystroke #" << k << ")\n"
         << "  received: ..." << Shown(typed.substr(from, 50)) << "\n"
         << "  expected: ..." << Shown(want.substr(from, 50)) << "\nthe keystrokes up to there:"
         << keystrokes.str();
}

}  // namespace
}  // namespace velto::testing
