#include "testing/typing_model.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "layoutkit/scan_names.h"
#include "layoutkit/text.h"
#include "layoutkit/vkb.h"
#include "layoutkit/vkl.h"
#include "shared/charset.h"
#include "shared/compositions.h"
#include "sim/us_layout.h"

namespace velto::testing {

using layoutkit::KeyboardDescription;

namespace {

constexpr std::uint16_t kJ = 0x24, kTab = 0x0F, kBack = 0x0E, kSix = 0x07, kQuote = 0x28;

std::string Name(std::uint16_t s) { return layoutkit::KeyNameOfScan(s); }

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

}  // namespace

// --- Model ---------------------------------------------------------------------

void Model::Tap(std::uint16_t scan, Mods m) {
  if (enabled && layout == 1 && FromTable(scan, m)) return;
  if (m.ralt) return;  // Alt combinations reach the window as WM_SYSCHAR, if at all
  const char c = sim::UsCharOf(sim::UsVkOfScan(scan, false), m.lshift || m.rshift, false, caps);
  if (c != 0) text += c;  // a pending dead key does not see it
}

// False when the cell is empty: the key goes to the system.
bool Model::FromTable(std::uint16_t scan, Mods m) {
  const KeySlot& slot =
      d_.keys.planes[caps ? 3 : 1][d_.options.scanMap[scan]].slots[m.ralt ? kSlotRightAlt : kSlotPlain];
  const unsigned column = m.lshift ? 1 : m.rshift ? 2 : 0;
  const std::uint8_t ch = slot.ch[column];
  if (ch == 0) return false;
  if (slot.flags & 1u << (column + 3)) {
    dead_ = 0;
    state_ = 0;
    const MacroEntry& macro = d_.macros.entries[ch];
    const std::string s(macro.text, macro.length);
    for (std::size_t i = 0; i < s.size(); ++i) {
      if (s[i] == '{') {  // the only chord the typist types
        EXPECT_EQ(s.compare(i, 7, "{ENTER}"), 0) << s;
        text += '\r';
        i += 6;
      } else if (s[i] != '\r' && s[i] != '\n') {
        Add(static_cast<std::uint8_t>(s[i]));
      }
    }
  } else if (ComposesThroughTable(d_.layouts[1])) {
    if (!Walk(ch, (slot.flags & 1u << column) != 0)) Add(ch);
  } else if (slot.flags & 1u << column) {
    dead_ = ch;
  } else {
    Add(Compose(ch));
  }
  return true;
}

bool Model::Walk(std::uint8_t byte, bool deadKey) {
  if (!deadKey && state_ == 0) return false;
  const Compositions table(d_.compositions.data(), d_.compositions.size());
  const ComposeStep step = table.Walk(state_, InputOfByte(d_.layouts[1], d_.macros, byte), deadKey);
  state_ = step.kind == ComposeStep::kState ? step.state : 0;
  for (std::uint32_t i = 0; step.kind == ComposeStep::kText && i < step.length; ++i) {
    layoutkit::AppendUtf8(text, step.text[i]);
  }
  return deadKey || step.kind != ComposeStep::kNone;
}

void Model::Add(std::uint8_t byte) { layoutkit::AppendUtf8(text, layoutkit::LayoutChar(d_, 1, byte)); }

std::uint8_t Model::Compose(std::uint8_t ch) {
  const std::uint8_t dead = dead_;
  dead_ = 0;
  if (dead == 0) return ch;
  if (ch == ' ') return dead;
  for (const DeadKeyRow& row : d_.deadKeys.rows) {
    if (row.dead == dead && row.next == ch) return row.composed;
  }
  return ch;
}

// --- Typist --------------------------------------------------------------------

Typist::Typist(const KeyboardDescription& d, std::uint32_t seed, bool plain)
    : model_(d), seed_(seed), plain_(plain), rng_(seed) {
  auto add = [this](const auto& row) { keys_.insert(keys_.end(), std::begin(row), std::end(row)); };
  add(layoutkit::kNumberRow);
  add(layoutkit::kTopRow);
  add(layoutkit::kHomeRow);
  add(layoutkit::kBottomRow);
  keys_.insert(keys_.end(), {0x2B, scan::kSpace, scan::kSpace, scan::kSpace, scan::kSpace});
  if (plain_) {
    std::erase_if(keys_, [](std::uint16_t s) { return s == scan::kGrave || s == kQuote || s == kSix; });
  }
}

// Right Alt + J's macro has chords the model does not follow.
std::uint16_t Typist::NotJ() {
  std::uint16_t s = Any();
  while (s == kJ) s = Any();
  return s;
}

Mods Typist::Shift(double p) {
  Mods m;
  if (!held_.lshift && !held_.rshift && Chance(p)) (Chance(0.6) ? m.lshift : m.rshift) = true;
  return m;
}

// One keystroke: `s` with `extra` modifiers pressed around it, now and then
// let go before it.
void Typist::Tap(std::uint16_t s, Mods extra, std::vector<KeyEvent>& out) {
  std::vector<std::uint16_t> mods;
  if (extra.ralt) mods.push_back(scan::kRightAlt);
  if (extra.lshift) mods.push_back(scan::kLeftShift);
  if (extra.rshift) mods.push_back(scan::kRightShift);
  if (mods.size() == 2 && Chance(0.5)) std::swap(mods[0], mods[1]);
  std::string n = holdLeft_ > 0 ? "[" + Name(heldKey_) + " held] " : "";
  for (const std::uint16_t m : mods) {
    n += Name(m) + "+";
    out.push_back({m, false});
  }
  model_.Tap(s, {held_.lshift || extra.lshift, held_.rshift || extra.rshift, held_.ralt || extra.ralt});
  out.push_back({s, false});
  const bool early = !mods.empty() && Chance(0.2);
  for (std::size_t i = mods.size(); early && i-- > 0;) out.push_back({mods[i], true});
  out.push_back({s, true});
  for (std::size_t i = mods.size(); !early && i-- > 0;) out.push_back({mods[i], true});
  Log(n + Name(s));
}

std::vector<KeyEvent> Typist::Next() {
  // What dead keys take: a e i o u y c n, and Space.
  static const std::uint16_t kBases[] = {scan::kA, scan::kE, 0x17, scan::kO, 0x16,
                                         0x15,     0x2E,     0x31, scan::kSpace};
  static const std::uint16_t kOthers[] = {scan::kEnter, kTab, kBack};
  lastNext_ = log_.size();
  std::vector<KeyEvent> out;
  if (holdLeft_ > 0) {
    Mods m = Shift(0.3);
    m.ralt = !plain_ && !held_.ralt && Chance(0.3);
    Tap(held_.ralt || m.ralt ? NotJ() : Any(), m, out);
    if (--holdLeft_ == 0) {
      out.push_back({heldKey_, true});
      held_ = {};
    }
    return out;
  }
  while (out.empty()) {
    const double r = std::uniform_real_distribution<double>(0, 1)(rng_);
    const double toggle = model_.layout == 0 ? 0.10 : 0.015, enable = model_.enabled ? 0.008 : 0.10;
    if (r < 0.40 || (plain_ && r < 0.62)) {
      Tap(Any(), Shift(0.2), out);
    } else if (r < 0.52) {  // a dead key, then what it may take
      static const std::pair<std::uint16_t, Mods> kDead[] = {
          {scan::kGrave, {}}, {scan::kGrave, {false, true, false}}, {kQuote, {}},
          {kQuote, {true, false, false}}, {kSix, {true, false, false}}};
      const auto& [dead, m] = kDead[Between(0, 4)];
      Tap(dead, m, out);
      Tap(Chance(0.8) ? kBases[Between(0, static_cast<int>(std::size(kBases)) - 1)] : Any(), Shift(0.3), out);
    } else if (r < 0.62) {
      Mods m = Shift(0.3);
      m.ralt = true;
      Tap(NotJ(), m, out);
    } else if (r < 0.70) {
      static const std::uint16_t kHeld[] = {scan::kLeftShift, scan::kRightShift, scan::kRightAlt};
      heldKey_ = kHeld[Between(0, plain_ ? 1 : 2)];
      held_ = {heldKey_ == scan::kLeftShift, heldKey_ == scan::kRightShift, heldKey_ == scan::kRightAlt};
      holdLeft_ = Between(2, 6);
      out.push_back({heldKey_, false});
    } else if (r < 0.75) {  // rollover: the second key goes down before the first comes up
      const std::uint16_t a = Any(), b = Any();
      if (a == b) continue;
      model_.Tap(a, {});
      Log(Name(a) + " (down until the next is down)");
      model_.Tap(b, {});
      Log(Name(b));
      out = {{a, false}, {b, false}, {a, true}, {b, true}};
    } else if (r < 0.79) {
      Tap(kOthers[Between(0, 2)], Shift(0.2), out);
    } else if (r < 0.81) {
      model_.caps = !model_.caps;
      Tap(scan::kCapsLock, {}, out);
    } else if (r < 0.81 + toggle) {
      const bool rightFirst = Chance(0.3), rightUpFirst = Chance(0.5);
      out = {{rightFirst ? scan::kRightShift : scan::kLeftShift, false},
             {rightFirst ? scan::kLeftShift : scan::kRightShift, false},
             {rightUpFirst ? scan::kRightShift : scan::kLeftShift, true},
             {rightUpFirst ? scan::kLeftShift : scan::kRightShift, true}};
      model_.ToggleLayout();
      Log("LSHIFT+RSHIFT, " + Name(out[2].scan) + " let go first");
    } else if (r < 0.81 + toggle + enable) {
      out = {{scan::kLeftCtrl, false}, {scan::kF12, false}, {scan::kF12, true}, {scan::kLeftCtrl, true}};
      model_.enabled = !model_.enabled;
      Log("LCTRL+F12");
    } else {
      Tap(Any(), Shift(0.2), out);
    }
  }
  return out;
}

std::vector<KeyEvent> Typist::Finish() {
  if (holdLeft_ == 0) return {};
  holdLeft_ = 0;
  held_ = {};
  return {{heldKey_, true}};
}

void Typist::Note(const std::string& note) {
  for (std::size_t i = lastNext_; i < log_.size(); ++i) log_[i].first += note;
}

std::string Typist::Difference(const std::string& received) const {
  const std::string& want = model_.text;
  if (received == want) return "";
  const std::size_t at =
      std::mismatch(received.begin(), received.end(), want.begin(), want.end()).first - received.begin();
  std::size_t k = 0;
  while (k + 1 < log_.size() && log_[k].second <= at) ++k;
  std::ostringstream out;
  const std::size_t from = at >= 30 ? at - 30 : 0;
  out << "seed " << seed_ << ": the window received " << received.size() << " bytes of UTF-8, the model says "
      << want.size() << "; first difference at byte " << at << " (keystroke #" << k << ")\n"
      << "  received: ..." << Shown(received.substr(from, 50)) << "\n"
      << "  expected: ..." << Shown(want.substr(from, 50)) << "\nthe keystrokes around it:";
  for (std::size_t i = k >= 20 ? k - 20 : 0; i <= k + 3 && i < log_.size(); ++i) {
    out << "\n  #" << i << " " << log_[i].first;
  }
  return out.str();
}

// --- The system on the international layout ---------------------------------------

KeyboardDescription IntlSystemTest::Description() const {
  KeyboardDescription d;
  layoutkit::Diagnostics diags;
  EXPECT_TRUE(layoutkit::CompileVklFile(VELTO_SOURCE_DIR "/layouts/intl.vkl", d, diags)) << diags.Text();
  return d;
}

void IntlSystemTest::SetUp() {
  SystemTest::SetUp();
  AsController([] { SelectLayout(1); });
}

void IntlSystemTest::Queue(const std::vector<KeyEvent>& events) {
  for (const KeyEvent& e : events) e.up ? sim::KeyUp(e.scan) : sim::KeyDown(e.scan);
}

void IntlSystemTest::ExpectTyped(const Typist& typist) const {
  const std::string difference = typist.Difference(Typed());
  if (!difference.empty()) ADD_FAILURE() << difference;
}

}  // namespace velto::testing
