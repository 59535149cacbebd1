// veltoc import-xkb against libxkbcommon: every layout and variant of the
// installed xkb-data imported, printed, compiled and typed key by key over
// the simulated system, beside what libxkbcommon's xkb_state and compose
// state make of the same keymap and keys.
#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "layoutkit/keysyms.h"
#include "layoutkit/text.h"
#include "layoutkit/vkb.h"
#include "layoutkit/vkl.h"
#include "layoutkit/vkl_print.h"
#include "layoutkit/xkb_import.h"
#include "simrun/simrun.h"
#include "veltoc/commands.h"

namespace velto {
namespace {

using layoutkit::Diagnostics;
using simrun::KeyAction;

constexpr const char* kRoot = "/usr/share/X11/xkb";
constexpr std::uint16_t kLeftShift = 0x2A, kSpace = 0x39;

struct LayoutName {
  std::string layout, variant;
  std::string Text() const { return variant.empty() ? layout : layout + "(" + variant + ")"; }
};

// Every layout and variant rules/evdev.lst lists.
std::vector<LayoutName> AllLayouts() {
  std::ifstream in(std::string(kRoot) + "/rules/evdev.lst");
  std::vector<LayoutName> out;
  std::string section;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("! ", 0) == 0) section = line.substr(2);
    std::istringstream words(line);
    std::string name, layout;
    if (line.rfind("  ", 0) != 0 || !(words >> name)) continue;
    if (section == "layout") out.push_back({name, ""});
    if (section == "variant" && words >> layout && layout.back() == ':') {
      out.push_back({layout.substr(0, layout.size() - 1), name});
    }
  }
  return out;
}

// The test's own map from X keycodes to set-1 scan codes: the evdev code
// (the X keycode less 8) on the main block, the extended keys by table.
std::uint16_t ScanOf(xkb_keycode_t kc) {
  static const std::map<xkb_keycode_t, std::uint16_t> kOthers = {
      {97, 0x73},   {132, 0x7D},  {108, 0x138}, {105, 0x11D},
      {133, 0x15B}, {134, 0x15C}, {135, 0x15D},
  };
  if (kc >= 9 && kc <= 96) return static_cast<std::uint16_t>(kc - 8);
  const auto it = kOthers.find(kc);
  return it == kOthers.end() ? 0 : it->second;
}

constexpr const char* kMainKeys[] = {
    "TLDE", "AE01", "AE02", "AE03", "AE04", "AE05", "AE06", "AE07", "AE08", "AE09", "AE10", "AE11", "AE12",
    "AE13", "AD01", "AD02", "AD03", "AD04", "AD05", "AD06", "AD07", "AD08", "AD09", "AD10", "AD11", "AD12",
    "AC01", "AC02", "AC03", "AC04", "AC05", "AC06", "AC07", "AC08", "AC09", "AC10", "AC11", "BKSL", "LSGT",
    "AB01", "AB02", "AB03", "AB04", "AB05", "AB06", "AB07", "AB08", "AB09", "AB10", "AB11", "SPCE"};
// The keys whose modifier Velto gives a slot of its own.
constexpr const char* kModifierKeys[] = {"RALT", "RCTL", "LALT", "LCTL", "LWIN", "RWIN"};

std::string SymName(xkb_keysym_t sym) {
  char name[64];
  xkb_keysym_get_name(sym, name, sizeof name);
  return name;
}
bool IsDead(xkb_keysym_t sym) { return SymName(sym).rfind("dead_", 0) == 0; }

// One state of the keys: Shift, the level-3 key, Caps Lock.
struct Mods {
  bool shift = false, level3 = false, caps = false;
  std::string Text() const {
    std::string s = caps ? "Caps Lock on, " : "";
    if (shift) s += "Shift+";
    if (level3) s += "AltGr+";
    return s;
  }
};

// libxkbcommon for one keymap.
class Oracle {
 public:
  Oracle(xkb_context* ctx, xkb_compose_table* compose, const LayoutName& name, const std::string& options)
      : compose_(compose) {
    const xkb_rule_names names{"evdev", "pc105", name.layout.c_str(), name.variant.c_str(), options.c_str()};
    keymap_.reset(xkb_keymap_new_from_names(ctx, &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap_) return;
    shift_ = xkb_keymap_key_by_name(keymap_.get(), "LFSH");
    // The level-3 key, where it is a modifier key Velto has a slot for.
    for (xkb_keycode_t kc = xkb_keymap_min_keycode(keymap_.get()); kc <= xkb_keymap_max_keycode(keymap_.get());
         ++kc) {
      const char* keyName = xkb_keymap_key_get_name(keymap_.get(), kc);
      if (keyName == nullptr || Level1(kc) == 0) continue;
      const std::string sym = SymName(Level1(kc));
      const bool modifier = std::any_of(std::begin(kModifierKeys), std::end(kModifierKeys),
                                        [&](const char* k) { return std::string(keyName) == k; });
      if (sym == "ISO_Level3_Shift" && modifier && level3_ == 0) level3_ = kc;
      if (sym == "ISO_Level3_Shift" && !modifier && std::string(keyName) != "LVL3") level3Elsewhere_ = keyName;
      if (sym == "Caps_Lock" && caps_ == 0) caps_ = kc;
    }
    // Shift and the level-3 key as each other's modifier.
    if (level3_ != 0) {
      const xkb_keysym_t shiftWith3 = Type(shift_, {false, true, false}).first;
      const xkb_keysym_t level3WithShift = Type(level3_, {true, false, false}).first;
      if (shiftWith3 != Level1(shift_) || level3WithShift != Level1(level3_)) {
        shiftAndLevel3_ = SymName(shiftWith3 != Level1(shift_) ? shiftWith3 : level3WithShift);
      }
    }
  }
  bool ok() const { return keymap_ != nullptr; }
  xkb_keymap* keymap() const { return keymap_.get(); }
  xkb_keycode_t level3() const { return level3_; }
  xkb_keycode_t caps() const { return caps_; }
  const std::string& level3Elsewhere() const { return level3Elsewhere_; }
  // What Shift or the level-3 key types with the other held, where that is
  // not what it types alone: ISO_Level5_Latch in de(T3).
  const std::string& shiftAndLevel3() const { return shiftAndLevel3_; }

  xkb_keysym_t Level1(xkb_keycode_t kc) const {
    const xkb_keysym_t* syms = nullptr;
    return xkb_keymap_key_get_syms_by_level(keymap_.get(), kc, 0, 0, &syms) == 1 ? syms[0] : 0;
  }

  // What a key types in a state: its keysym and its text.
  std::pair<xkb_keysym_t, std::string> Type(xkb_keycode_t kc, const Mods& m) const {
    std::unique_ptr<xkb_state, decltype(&xkb_state_unref)> s(xkb_state_new(keymap_.get()), xkb_state_unref);
    if (m.caps && caps_ != 0) {
      xkb_state_update_key(s.get(), caps_, XKB_KEY_DOWN);
      xkb_state_update_key(s.get(), caps_, XKB_KEY_UP);
    } else if (m.caps) {  // no key locks Caps Lock: the Lock modifier itself
      const xkb_mod_mask_t lock = 1u << xkb_keymap_mod_get_index(keymap_.get(), XKB_MOD_NAME_CAPS);
      xkb_state_update_mask(s.get(), 0, 0, lock, 0, 0, 0);
    }
    // The level-3 key first: on some layouts it selects level 5 while
    // Shift is held (de(T3)), as the importer warns.
    if (m.level3) xkb_state_update_key(s.get(), level3_, XKB_KEY_DOWN);
    if (m.shift) xkb_state_update_key(s.get(), shift_, XKB_KEY_DOWN);
    char text[64] = "";
    xkb_state_key_get_utf8(s.get(), kc, text, sizeof text);
    return {xkb_state_key_get_one_sym(s.get(), kc), text};
  }

  // What the Compose file makes of keysyms fed in turn: where they are
  // composed, the text.
  enum Status { kNothing, kComposing, kComposed, kCancelled };
  Status Feed(const std::vector<xkb_keysym_t>& syms, std::string& text) const {
    std::unique_ptr<xkb_compose_state, decltype(&xkb_compose_state_unref)> s(
        xkb_compose_state_new(compose_, XKB_COMPOSE_STATE_NO_FLAGS), xkb_compose_state_unref);
    for (const xkb_keysym_t sym : syms) xkb_compose_state_feed(s.get(), sym);
    char buffer[256] = "";
    switch (xkb_compose_state_get_status(s.get())) {
      case XKB_COMPOSE_COMPOSING:
        return kComposing;
      case XKB_COMPOSE_COMPOSED:
        xkb_compose_state_get_utf8(s.get(), buffer, sizeof buffer);
        text = buffer;
        return kComposed;
      case XKB_COMPOSE_CANCELLED:
        return kCancelled;
      default:
        return kNothing;
    }
  }

 private:
  std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap_{nullptr, xkb_keymap_unref};
  xkb_compose_table* compose_;
  xkb_keycode_t shift_ = 0, level3_ = 0, caps_ = 0;
  std::string level3Elsewhere_, shiftAndLevel3_;
};

// One case: keys to press on Velto, what libxkbcommon types for them, and
// where they differ by design, why.
struct Case {
  std::string what;
  std::vector<KeyAction> keys;
  std::string expected;
  bool caps = false;
  // libxkbcommon types nothing, or a control character: Velto leaves such
  // a key to the system, and must type what the system types.
  bool toSystem = false;
  std::string cause;  // of a known difference; empty: they must agree
};

void Tap(std::vector<KeyAction>& keys, std::uint16_t scan, const Mods& m, std::uint16_t level3Scan) {
  if (m.level3) keys.push_back({level3Scan, false});
  if (m.shift) keys.push_back({kLeftShift, false});
  keys.push_back({scan, false});
  keys.push_back({scan, true});
  if (m.shift) keys.push_back({kLeftShift, true});
  if (m.level3) keys.push_back({level3Scan, true});
}

std::string Typed(const layoutkit::KeyboardDescription& d, const std::vector<KeyAction>& keys, bool caps) {
  simrun::SimOptions options;
  options.layout = 1;
  options.capsLock = caps;
  options.keys = keys;
  const simrun::SimOutput out = simrun::Run(d, options);
  EXPECT_EQ(out.error, "");
  return out.text;
}

// The figures of a run over many layouts.
struct Tally {
  long cases = 0, agreeing = 0, layouts = 0, whollyRight = 0;
  long toSystem = 0;  // states libxkbcommon types nothing in, left to the system
  long compositions = 0;  // of the cases: dead keys and the keys after them
  long composeKey = 0;    // of those: the compose key's
  std::map<std::string, long> byCause;           // differences by design, by cause
  std::map<std::string, std::vector<std::string>> examples;
  std::map<std::string, long> notCompared;       // states libxkbcommon cannot reach on Velto's keys
  std::vector<std::string> failures;             // differences with no cause
  double importSeconds = 0, compileSeconds = 0, typeSeconds = 0;
};

// What the system types for keys that no layout translates.
std::string SystemTyped(const std::vector<KeyAction>& keys, bool caps) {
  static std::map<std::pair<std::vector<std::uint16_t>, bool>, std::string> cache;
  static layoutkit::KeyboardDescription system = [] {
    layoutkit::KeyboardDescription d;
    Diagnostics diags;
    EXPECT_TRUE(layoutkit::CompileVklText("layout 1 \"System\" {\n}\n", "system.vkl", d, diags)) << diags.Text();
    return d;
  }();
  std::vector<std::uint16_t> key;
  for (const KeyAction& k : keys) key.push_back(static_cast<std::uint16_t>(k.scan | (k.up ? 0x8000 : 0)));
  auto it = cache.find({key, caps});
  if (it == cache.end()) it = cache.emplace(std::make_pair(key, caps), Typed(system, keys, caps)).first;
  return it->second;
}

// Types the cases in one run per Caps Lock state; where the whole text
// differs, case by case, to tell which differ.
bool Check(const LayoutName& name, const layoutkit::KeyboardDescription& d, std::vector<Case>& cases, Tally& t) {
  for (Case& c : cases) {
    if (c.toSystem) c.expected = SystemTyped(c.keys, c.caps), ++t.toSystem;
  }
  bool whole = true;
  for (const bool caps : {false, true}) {
    std::vector<KeyAction> keys;
    std::string expected;
    std::vector<const Case*> these;
    for (const Case& c : cases) {
      if (c.caps != caps) continue;
      these.push_back(&c);
      keys.insert(keys.end(), c.keys.begin(), c.keys.end());
      expected += c.expected;
    }
    if (these.empty()) continue;
    const long compared = std::count_if(these.begin(), these.end(), [](const Case* c) { return !c->toSystem; });
    t.cases += compared;
    if (Typed(d, keys, caps) == expected) {
      t.agreeing += compared;
      continue;
    }
    for (const Case* c : these) {
      const std::string got = Typed(d, c->keys, caps);
      if (got == c->expected) {
        if (!c->toSystem) ++t.agreeing;
        continue;
      }
      whole = false;
      const std::string line = name.Text() + ": " + c->what + (c->toSystem ? ": the system \"" : ": libxkbcommon \"") +
                               c->expected + "\", Velto \"" + got + "\"";
      if (c->cause.empty()) {
        t.failures.push_back(line);
      } else {
        ++t.byCause[c->cause];
        if (t.examples[c->cause].size() < 3) t.examples[c->cause].push_back(line);
      }
    }
  }
  return whole;
}

class XkbOracle : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ctx_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    compose_ = xkb_compose_table_new_from_locale(ctx_, "en_US.UTF-8", XKB_COMPOSE_COMPILE_NO_FLAGS);
  }
  static void TearDownTestSuite() {
    xkb_compose_table_unref(compose_);
    xkb_context_unref(ctx_);
  }

  // Imports, prints and compiles one layout.
  bool Import(const LayoutName& name, const std::vector<std::string>& options, layoutkit::KeyboardDescription& d,
              Tally& t, std::string* vkl = nullptr) {
    layoutkit::XkbImportOptions o;
    o.layout = name.layout;
    o.variant = name.variant;
    o.options = options;
    Diagnostics diags;
    layoutkit::compiler::Model model;
    const auto start = std::chrono::steady_clock::now();
    const bool ok = importer_.Import(o, model, diags);
    const std::string text = ok ? layoutkit::PrintModel(model) : "";
    const auto printed = std::chrono::steady_clock::now();
    t.importSeconds += std::chrono::duration<double>(printed - start).count();
    EXPECT_TRUE(ok) << name.Text() << ":\n" << diags.Text();
    if (!ok) return false;
    Diagnostics compile;
    const bool compiled = layoutkit::CompileVklText(text, name.Text() + ".vkl", d, compile);
    t.compileSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - printed).count();
    EXPECT_TRUE(compiled) << name.Text() << ":\n" << compile.Text();
    if (vkl != nullptr) *vkl = text;
    return compiled;
  }

  void Compare(const std::vector<LayoutName>& layouts, const std::vector<std::string>& options, Tally& t);

  static xkb_context* ctx_;
  static xkb_compose_table* compose_;
  layoutkit::XkbImporter importer_;
};
xkb_context* XkbOracle::ctx_ = nullptr;
xkb_compose_table* XkbOracle::compose_ = nullptr;

// The main block's keys in the eight states, each dead key then Space, and
// each compose key then Space twice.
std::vector<Case> KeyCases(const Oracle& o, Tally& t) {
  std::vector<Case> cases;
  const bool level3 = o.level3() != 0;
  if (!level3) ++t.notCompared[o.level3Elsewhere().empty() ? "no level-3 key: the four states with AltGr"
                                                          : "the level-3 key is no modifier key Velto has a slot "
                                                            "for (<" + o.level3Elsewhere() + ">): the four "
                                                            "states with AltGr"];
  if (o.caps() == 0) ++t.notCompared["no key locks Caps Lock: the Lock modifier locked directly"];
  // A state of Ctrl or Alt that types nothing, Velto swallows; one of Win
  // it leaves to the system.
  const std::string level3Name = level3 ? xkb_keymap_key_get_name(o.keymap(), o.level3()) : "";
  const bool winLevel3 = level3Name == "LWIN" || level3Name == "RWIN";
  for (const char* keyName : kMainKeys) {
    const xkb_keycode_t kc = xkb_keymap_key_by_name(o.keymap(), keyName);
    if (kc == XKB_KEYCODE_INVALID || ScanOf(kc) == 0) continue;
    for (int state = 0; state < 8; ++state) {
      const Mods m{(state & 1) != 0, (state & 2) != 0, (state & 4) != 0};
      if (m.level3 && !level3) continue;
      const auto [sym, text] = o.Type(kc, m);
      Case c;
      c.caps = m.caps;
      c.what = m.Text() + "<" + keyName + "> (" + SymName(sym) + ")";
      if (m.level3) c.what += " with <" + std::string(xkb_keymap_key_get_name(o.keymap(), o.level3())) + ">";
      Tap(c.keys, ScanOf(kc), m, ScanOf(o.level3()));
      c.expected = text;
      if (IsDead(sym)) {
        c.keys.push_back({kSpace, false});
        c.keys.push_back({kSpace, true});
        c.what += " then Space";
        if (o.Feed({sym, XKB_KEY_space}, c.expected) != Oracle::kComposed) {
          // The Compose file has no such sequence; the engine's rule: the
          // dead key's own character.
          c.expected.clear();
          layoutkit::AppendUtf8(c.expected, layoutkit::KeysymByName(SymName(sym)).ch);
          c.cause = "the Compose file has no <dead_X> <space>";
          ++t.notCompared["dead key then Space that the Compose file lacks: Velto types the dead key's mark"];
        }
      } else if (sym == XKB_KEY_Multi_key) {
        for (int i = 0; i < 2; ++i) c.keys.push_back({kSpace, false}), c.keys.push_back({kSpace, true});
        c.what += " then Space twice";
        EXPECT_EQ(o.Feed({sym, XKB_KEY_space, XKB_KEY_space}, c.expected), Oracle::kComposed);
      }
      if (m.shift && m.level3 && !o.shiftAndLevel3().empty()) {
        c.cause = "Shift and the level-3 key together type " + o.shiftAndLevel3() +
                  ", which selects levels 5 and up; Velto's Shift + level 3 is level 4";
      } else if ((!m.level3 || winLevel3) && !IsDead(sym) && sym != XKB_KEY_Multi_key && (text.empty() || static_cast<unsigned char>(text[0]) < 0x20 || text == "\x7f")) {
        c.toSystem = true;
        c.what += ", which libxkbcommon types " + std::string(text.empty() ? "nothing" : "a control character") +
                  " for; left to the system";
      }
      cases.push_back(std::move(c));
    }
  }
  return cases;
}

// A keysym the layout types without Caps Lock, on its first key and state.
struct Typing {
  xkb_keycode_t kc;
  Mods mods;
};
std::vector<std::pair<xkb_keysym_t, Typing>> Typeable(const Oracle& o) {
  std::vector<std::pair<xkb_keysym_t, Typing>> out;
  std::map<xkb_keysym_t, bool> seen;
  for (int state = 0; state < 4; ++state) {
    const Mods m{(state & 1) != 0, (state & 2) != 0, false};
    if (m.level3 && (o.level3() == 0 || (m.shift && !o.shiftAndLevel3().empty()))) continue;
    for (const char* keyName : kMainKeys) {
      const xkb_keycode_t kc = xkb_keymap_key_by_name(o.keymap(), keyName);
      if (kc == XKB_KEYCODE_INVALID || ScanOf(kc) == 0) continue;
      const xkb_keysym_t sym = o.Type(kc, m).first;
      // Keys that type a character, dead keys and the compose key: the
      // keysyms of modifiers and functions are no part of a composition.
      const std::uint32_t ch = xkb_keysym_to_utf32(sym);
      const bool composes = IsDead(sym) || sym == XKB_KEY_Multi_key || (ch >= 0x20 && ch != 0x7F);
      if (composes && !seen[sym]) seen[sym] = true, out.push_back({sym, {kc, m}});
    }
  }
  return out;
}

// Every sequence of the Compose file that starts with `first` and that the
// layout can type, of up to four keys after it: for each, the keys and the
// text.
void Sequences(const Oracle& o, const std::vector<std::pair<xkb_keysym_t, Typing>>& typeable,
               std::vector<xkb_keysym_t> prefix, std::vector<Typing> keys, std::vector<Case>& out) {
  for (const auto& [sym, typing] : typeable) {
    if (prefix.size() == 1 && sym == XKB_KEY_space) continue;  // KeyCases has those
    std::vector<xkb_keysym_t> seq = prefix;
    seq.push_back(sym);
    std::vector<Typing> k = keys;
    k.push_back(typing);
    std::string text;
    const Oracle::Status status = o.Feed(seq, text);
    if (status == Oracle::kComposing && seq.size() < 5) Sequences(o, typeable, seq, k, out);
    if (status != Oracle::kComposed || text.empty()) continue;
    Case c;
    for (std::size_t i = 0; i < seq.size(); ++i) {
      c.what += (i == 0 ? "" : " ") + k[i].mods.Text() + "<" + xkb_keymap_key_get_name(o.keymap(), k[i].kc) + "> (" +
                SymName(seq[i]) + ")";
      Tap(c.keys, ScanOf(k[i].kc), k[i].mods, ScanOf(o.level3()));
    }
    c.expected = text;
    out.push_back(std::move(c));
  }
}

// Each dead key followed by every key, and on by the Compose file's chains;
// the compose key's sequences.
std::vector<Case> CompositionCases(const Oracle& o, Tally& t) {
  const auto typeable = Typeable(o);
  std::vector<Case> cases;
  for (const auto& [sym, typing] : typeable) {
    if (IsDead(sym)) Sequences(o, typeable, {sym}, {typing}, cases);
  }
  for (xkb_keycode_t kc = xkb_keymap_min_keycode(o.keymap()); kc <= xkb_keymap_max_keycode(o.keymap()); ++kc) {
    if (o.Level1(kc) != XKB_KEY_Multi_key || ScanOf(kc) == 0) continue;
    const std::string keyName = xkb_keymap_key_get_name(o.keymap(), kc);
    if (std::any_of(std::begin(kModifierKeys), std::end(kModifierKeys), [&](const char* k) { return keyName == k; })) {
      ++t.notCompared["layouts whose compose key is a modifier key, which Velto cannot make a compose key: its "
                      "sequences"];
    } else {
      const std::size_t before = cases.size();
      Sequences(o, typeable, {XKB_KEY_Multi_key}, {{kc, Mods{}}}, cases);
      t.composeKey += static_cast<long>(cases.size() - before);
    }
    break;
  }
  return cases;
}

// Imports and types each layout with the options given, into the figures.
void XkbOracle::Compare(const std::vector<LayoutName>& layouts, const std::vector<std::string>& options, Tally& t) {
  std::string joined;
  for (const std::string& o : options) joined += (joined.empty() ? "" : ",") + o;
  for (const LayoutName& name : layouts) {
    const Oracle o(ctx_, compose_, name, joined);
    if (!o.ok()) {
      ++t.notCompared["libxkbcommon cannot compile it: " + name.Text()];
      continue;
    }
    layoutkit::KeyboardDescription d;
    ++t.layouts;
    if (!Import(name, options, d, t)) continue;
    const auto typing = std::chrono::steady_clock::now();
    const LayoutName shown{name.layout, name.variant + (joined.empty() ? "" : ") with (" + joined)};
    std::vector<Case> cases = KeyCases(o, t);
    bool whole = Check(shown, d, cases, t);
    std::vector<Case> compositions = CompositionCases(o, t);
    t.compositions += static_cast<long>(compositions.size());
    whole = Check(shown, d, compositions, t) && whole;
    t.typeSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - typing).count();
    if (whole) ++t.whollyRight;
  }
}

void Print(const Tally& t) {
  std::printf("%ld layouts compared; %ld cases, %ld agree (%.3f%%); %ld layouts wholly right\n", t.layouts, t.cases,
              t.agreeing, 100.0 * t.agreeing / std::max(t.cases, 1L), t.whollyRight);
  std::printf("of the cases, %ld compositions, %ld of them after the compose key\n", t.compositions, t.composeKey);
  std::printf("besides, %ld states where libxkbcommon types nothing or a control character: Velto leaves the key "
              "to the system, and types what the system types\n", t.toSystem);
  std::printf("import (with printing) %.1f s, compile %.1f s, typing %.1f s\n", t.importSeconds, t.compileSeconds,
              t.typeSeconds);
  for (const auto& [cause, n] : t.byCause) {
    std::printf("differ by design, %ld: %s\n", n, cause.c_str());
    for (const std::string& e : t.examples.at(cause)) std::printf("    %s\n", e.c_str());
  }
  for (const auto& [why, n] : t.notCompared) std::printf("not compared or by Velto's own rule, %ld: %s\n", n, why.c_str());
  for (std::size_t i = 0; i < t.failures.size() && i < 40; ++i) std::printf("DIFFER %s\n", t.failures[i].c_str());
}

TEST_F(XkbOracle, EveryLayoutTypesWhatLibxkbcommonTypes) {
  ASSERT_NE(ctx_, nullptr);
  ASSERT_NE(compose_, nullptr) << "no en_US.UTF-8 Compose file";
  const std::vector<LayoutName> layouts = AllLayouts();
  ASSERT_GE(layouts.size(), 570u);
  Tally t;
  const auto start = std::chrono::steady_clock::now();
  Compare(layouts, {}, t);
  std::printf("%zu layouts and variants listed, in %.1f s\n", layouts.size(),
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  Print(t);
  EXPECT_TRUE(t.failures.empty()) << t.failures.size() << " differences without a cause";
  EXPECT_GE(t.agreeing * 1000, t.cases * 999);
  EXPECT_GE(t.whollyRight, 570);
}

// setxkbmap's options: the compose key with the Compose file's sequences,
// the level-3 key moved to another modifier or taken away, Caps Lock by
// the types of caps:*.
TEST_F(XkbOracle, OptionsTypeWhatLibxkbcommonTypes) {
  const std::vector<LayoutName> layouts = {{"us", ""}, {"de", ""}, {"fr", "bepo"}, {"ru", ""}};
  const std::vector<std::vector<std::string>> optionSets = {
      {"compose:menu"}, {"compose:102", "lv3:switch"}, {"lv3:lwin_switch"}, {"lv3:ralt_alt"},
      {"caps:internal"}, {"caps:shift_nocancel"}};
  Tally t;
  for (const auto& options : optionSets) Compare(layouts, options, t);
  Print(t);
  EXPECT_EQ(t.layouts, 24);
  EXPECT_GT(t.composeKey, 4000);
  EXPECT_TRUE(t.failures.empty()) << t.failures.size() << " differences without a cause";
  EXPECT_EQ(t.whollyRight, t.layouts);
}

// A small XKB root of its own, for the importer's messages.
class XkbFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = ::testing::TempDir() + "xkb_test_root";
    for (const char* dir : {"", "/rules", "/keycodes", "/types", "/symbols"}) {
      std::filesystem::create_directories(root_ + dir);
    }
    Write("rules/evdev",
          "! model = keycodes\n  * = evdev\n! model = types\n  * = complete\n"
          "! model layout = symbols\n  * * = pc+%l%(v)\n! option = symbols\n  lv3:switch = +level3(switch)\n");
    std::string keycodes = "default xkb_keycodes \"evdev\" {\n  <SPCE> = 65; <RALT> = 108;\n"
                           "  <RCTL> = 105; <LVL3> = 92; <LFSH> = 50;\n  alias <AC12> = <AE01>;\n";
    for (int i = 1; i <= 11; ++i) {  // the rows AE, AD, AC and AB, as evdev numbers them
      char row[96];
      std::snprintf(row, sizeof row, "  <AE%02d> = %d; <AD%02d> = %d; <AC%02d> = %d; <AB%02d> = %d;\n", i, 9 + i, i,
                    23 + i, i, 37 + i, i, 51 + i);
      keycodes += row;
    }
    Write("keycodes/evdev", keycodes + "};\n");
    Write("types/complete",
          "default xkb_types \"complete\" {\n  virtual_modifiers LevelThree;\n"
          "  type \"ONE_LEVEL\" { modifiers = None; map[None] = Level1; };\n"
          "  type \"TWO_LEVEL\" { modifiers = Shift; map[Shift] = Level2; };\n"
          "  type \"ALPHABETIC\" { modifiers = Shift+Lock; map[Shift] = Level2; map[Lock] = Level2; };\n"
          "  type \"FOUR_LEVEL\" { modifiers = Shift+LevelThree; map[Shift] = Level2;\n"
          "    map[LevelThree] = Level3; map[Shift+LevelThree] = Level4; };\n};\n");
    Write("symbols/pc",
          "default xkb_symbols \"pc105\" {\n  key <SPCE> { [ space ] };\n  key <LFSH> { [ Shift_L ] };\n"
          "  key <LVL3> { [ ISO_Level3_Shift ] };\n  modifier_map Shift { Shift_L };\n"
          "  modifier_map Mod5 { <LVL3> };\n};\n");
    Write("symbols/level3", "xkb_symbols \"switch\" {\n  key <RCTL> { [ ISO_Level3_Shift ] };\n};\n");
    Write("symbols/t",
          "default xkb_symbols \"basic\" {\n  name[Group1] = \"Test, a layout with a long name\";\n"
          "  key <AC12> { [ 1, exclam, onesuperior, dead_acute ] };\n"
          "  key <AD01> { [ q, Q, at, Greek_OMEGA ] };\n  key <RALT> { [ ISO_Level3_Shift ] };\n};\n"
          "xkb_symbols \"missing\" {\n  include \"t(basic)\"\n  include \"nothere\"\n};\n"
          "xkb_symbols \"brave\" {\n  include \"t(basic)\"\n  augment key <AD01> { type = \"FOUR_LEVEL\", [ w, W, NoSymbol, any ] };\n"
          "  replace key <AC12> { [ 2 ] };\n};\n");
    Write("symbols/u", "default xkb_symbols \"basic\" {\n  key <AD01> { [ q, Q ;\n};\n");
    // 40 keys of four small letters each, which Caps Lock makes capitals:
    // 320 characters.
    std::vector<char32_t> letters;
    for (char32_t c = 0x1E01; c <= 0x1E95; c += 2) letters.push_back(c);
    for (char32_t c = 0x430; c <= 0x45F; ++c) letters.push_back(c);
    for (char32_t c = 0x561; c <= 0x586; ++c) letters.push_back(c);
    std::string big = "default xkb_symbols \"basic\" {\n  key.type = \"FOUR_LEVEL\";\n";
    for (int i = 0; i < 40; ++i) {
      char line[128];
      std::snprintf(line, sizeof line, "  key <A%c%02d> { [ U%04X, U%04X, U%04X, U%04X ] };\n", "EDCB"[i / 11], i % 11 + 1,
                    static_cast<unsigned>(letters[4 * i]), static_cast<unsigned>(letters[4 * i + 1]),
                    static_cast<unsigned>(letters[4 * i + 2]), static_cast<unsigned>(letters[4 * i + 3]));
      big += line;
    }
    Write("symbols/big", big + "  key <RALT> { [ ISO_Level3_Shift ] };\n};\n");
  }
  void Write(const std::string& name, const std::string& text) { std::ofstream(root_ + "/" + name) << text; }

  // The diagnostics and the source of one import.
  std::pair<std::string, std::string> Import(const std::string& layout, const std::string& variant,
                                             std::vector<std::string> options = {}) {
    layoutkit::XkbImportOptions o;
    o.root = root_;
    o.layout = layout;
    o.variant = variant;
    o.options = std::move(options);
    Diagnostics diags;
    std::string text;
    const bool ok = layoutkit::XkbToVkl(o, text, diags);
    EXPECT_EQ(ok, !diags.HasErrors());
    if (!ok) {
      EXPECT_EQ(text, "");
    }
    return {diags.Text(), text};
  }

  std::string root_;
};

TEST_F(XkbFiles, IncludesMergesAndOptions) {
  const auto [diags, vkl] = Import("t", "brave", {"lv3:switch", "frob:nicate"});
  EXPECT_EQ(diags, root_ + "/rules/evdev: warning: no rule knows the option \"frob:nicate\"; it is left out\n");
  for (const char* part : {"layout 1 \"Test, a layout with\" {\n  unicode\n  claims rctrl ralt\n  badge \"T\"\n",
                           "  key 1      2 2      rctrl: 2 2 ralt: 2 2\n",  // replaced, through its alias
                           // augmented: the type added, the levels kept; Caps Lock upper-cases them all
                           "  key Q      q Q      rctrl: @ Ω ralt: @ Ω  caps: Q Q rctrl: @ Ω ralt: @ Ω\n",
                           "#   symbols pc+t(brave)+level3(switch), types complete\n",
                           "#   the level-3 key: right Ctrl, right Alt\n"}) {
    EXPECT_NE(vkl.find(part), std::string::npos) << part << "\nnot in:\n" << vkl;
  }
  layoutkit::KeyboardDescription d;
  Diagnostics compile;
  EXPECT_TRUE(layoutkit::CompileVklText(vkl, "t.vkl", d, compile)) << compile.Text();
  EXPECT_EQ(Typed(d, {{0x11D, false}, {0x10, false}, {0x10, true}, {0x11D, true}}, false), "@");
}

TEST_F(XkbFiles, BadFilesAreErrorsAtTheirPlace) {
  EXPECT_EQ(Import("u", "").first, root_ + "/symbols/u:2:23: error: expected \"]\" here\n");
  EXPECT_EQ(Import("t", "missing").first, root_ + "/symbols/t:9:3: error: cannot read " + root_ + "/symbols/nothere\n");
  EXPECT_EQ(Import("t", "nosuch").first, root_ + "/symbols/t: error: this file has no section \"nosuch\"\n");
  EXPECT_EQ(Import("v", "").first, root_ + "/symbols/v: error: cannot read this file\n");
  std::filesystem::remove(root_ + "/rules/evdev");
  EXPECT_EQ(Import("t", "").first, root_ + "/rules/evdev: error: cannot read this rules file\n");
}

// A Unicode layout holds 255 characters: level 3 goes, from the last keys
// on, until the rest fits.
TEST_F(XkbFiles, TooManyCharactersLeaveLevelThreeOut) {
  const auto [diags, vkl] = Import("big", "");
  EXPECT_EQ(diags, root_ + "/symbols/big: warning: the layout types more than 255 different characters, which a "
                           "Unicode layout holds: level 3 with Shift, then level 3, is left out of the last keys "
                           "until it fits\n");
  layoutkit::KeyboardDescription d;
  Diagnostics compile;
  ASSERT_TRUE(layoutkit::CompileVklText(vkl, "big.vkl", d, compile)) << compile.Text();
  EXPECT_NE(vkl.find("# left out: Shift + level 3 (more than 255 characters)"), std::string::npos) << vkl;
  // The first key keeps its four levels, with and without Caps Lock.
  const std::vector<KeyAction> keys = {{0x02, false}, {0x02, true}, {0x2A, false}, {0x02, false}, {0x02, true},
                                       {0x2A, true}, {0x138, false}, {0x2A, false}, {0x02, false}, {0x02, true},
                                       {0x2A, true}, {0x138, true}};
  EXPECT_EQ(Typed(d, keys, false), "ḁḃḇ");
  EXPECT_EQ(Typed(d, keys, true), "ḀḂḆ");
}

// veltoc import-xkb: its exit statuses, messages, and nothing written on error.
TEST(XkbImport, Command) {
  const std::string out = ::testing::TempDir() + "xkb_test_out.vkl";
  std::remove(out.c_str());
  const auto run = [](std::vector<std::string> args, std::string& err) {
    ::testing::internal::CaptureStderr();
    const int status = veltoc::ImportXkb(args, "USAGE\n");
    err = ::testing::internal::GetCapturedStderr();
    return status;
  };
  std::string err;
  EXPECT_EQ(run({"fr(bepo)", "--options", "compose:menu,lv3:ralt_switch", "-o", out}, err), 0);
  EXPECT_EQ(err, "");
  std::ifstream written(out);
  std::stringstream text;
  text << written.rdbuf();
  layoutkit::XkbImportOptions o;
  o.layout = "fr";
  o.variant = "bepo";
  o.options = {"compose:menu", "lv3:ralt_switch"};
  std::string expected;
  Diagnostics diags;
  ASSERT_TRUE(layoutkit::XkbToVkl(o, expected, diags));
  EXPECT_EQ(text.str(), expected);
  for (const char* part : {"#   \"French (BEPO)\": layout fr, variant bepo, options compose:menu,lv3:ralt_switch, "
                           "model pc105\n",
                           "  key APP        compose", "\ncompose o c   ©\n", "\ndeadkey circumflex "}) {
    EXPECT_NE(expected.find(part), std::string::npos) << part;
  }

  std::remove(out.c_str());
  EXPECT_EQ(run({"fr(bogus)", "-o", out}, err), 1);
  EXPECT_EQ(err, std::string(kRoot) + "/symbols/fr: error: this file has no section \"bogus\"\n");
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(run({"fr(bepo", "-o", out}, err), 2);
  EXPECT_EQ(err, "veltoc: import-xkb: bad layout 'fr(bepo': LAYOUT or 'LAYOUT(VARIANT)', such as 'fr(bepo)'\nUSAGE\n");
  EXPECT_EQ(run({"fr"}, err), 2);
  EXPECT_EQ(err, "veltoc: import-xkb: no output file given (-o FILE)\nUSAGE\n");
  EXPECT_EQ(run({"-o", out}, err), 2);
  EXPECT_EQ(err, "veltoc: import-xkb: no layout given: LAYOUT or 'LAYOUT(VARIANT)', such as 'fr(bepo)'\nUSAGE\n");
  EXPECT_EQ(run({"fr", "-o", out, "--options", "a", "--options", "b"}, err), 2);
  EXPECT_EQ(err, "veltoc: import-xkb: --options given twice\nUSAGE\n");
  EXPECT_EQ(run({"fr", "-o", out, "--frob"}, err), 2);
  EXPECT_EQ(err, "veltoc: import-xkb: unknown option '--frob'\nUSAGE\n");
  EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
}  // namespace velto
