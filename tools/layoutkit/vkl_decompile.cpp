// The decompiler: any compiled description back to source that compiles to
// the same bytes. It writes the short forms where they give the same bytes,
// and falls back to explicit record numbers, raw bytes and raw hotkeys
// where the file holds what the short forms cannot say. Whether a Unicode
// table comes out of the compiler's own placement is found by compiling the
// source once: where it does not, the source pins the table.
#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <set>
#include <vector>

#include "layoutkit/badge.h"
#include "layoutkit/codepage.h"
#include "layoutkit/scan_names.h"
#include "layoutkit/text.h"
#include "layoutkit/vkb.h"
#include "layoutkit/vkl.h"
#include "layoutkit/vkl_model.h"
#include "layoutkit/vkl_print.h"
#include "layoutkit/vkl_syntax.h"
#include "shared/charset.h"
#include "shared/compositions.h"

namespace velto::layoutkit {

namespace {

using vkl::CapsMode;

// Whether a byte may be written as the character the set makes of it: the
// compiler must read that character back to this very byte.
bool Writable(std::uint8_t byte, const vkl::CharSet& set) {
  const char32_t c = set.Char(byte);
  return c >= 0x20 && set.Byte(c) == byte;
}

// A character cell as the compiler reads it back to the same byte.
std::string CharText(std::uint8_t byte, const vkl::CharSet& set, bool raw = false) {
  if (raw || !Writable(byte, set)) return "0x" + LowerHex(byte, 2);
  return vkl::CharText(set.Char(byte));
}

// A "string" with the bytes decoded in the set; `raw` bytes, and controls,
// as the bytes they are.
std::string StringText(const std::uint8_t* bytes, std::size_t n, const vkl::CharSet& set,
                       const std::function<bool(std::uint8_t)>& raw = {}) {
  std::vector<compiler::Char> chars;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = bytes[i];
    const char32_t c = set.Char(b);
    const bool ok = c != 0 && set.Byte(c) == b && !(raw && raw(b));
    const bool control = c < 0x20 && c != '\n' && c != '\r' && c != '\t';
    if (!ok || control || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
      chars.push_back({true, b, {}});
    } else {
      chars.push_back({false, c, {}});
    }
  }
  return vkl::StringText(chars);
}

std::string ModifierNames(std::uint16_t bits, std::span<const vkl::NamedBit> names,
                          std::span<const vkl::NamedBit> more, const char* joiner) {
  std::string out;
  std::uint16_t rest = bits;
  auto add = [&](const vkl::NamedBit& n) {
    if ((bits >> n.bit & 1) == 0) return;
    if (!out.empty()) out += joiner;
    out += n.name;
    rest = static_cast<std::uint16_t>(rest & ~(1u << n.bit));
  };
  for (const auto& n : names) add(n);
  for (const auto& n : more) add(n);
  if (rest != 0) out += (out.empty() ? "" : joiner) + ("0x" + LowerHex(rest, 4));
  return out;
}

// Names of dead keys by their characters.
constexpr struct {
  char32_t c;
  const char* name;
} kDeadKeyNames[] = {{0x60, "grave"},       {0xB4, "acute"},  {0x5E, "circumflex"}, {0xA8, "diaeresis"},
                  {0x7E, "tilde"},       {0xB8, "cedilla"}, {0x2C7, "caron"},    {0x2D8, "breve"},
                  {0xB0, "ring"},        {0x2DB, "ogonek"}, {0x2D9, "dot"},      {0x2DD, "double-acute"},
                  {0xAF, "macron"},      {0x27, "apostrophe"}, {0x22, "quote"},  {0x2DC, "small-tilde"},
                  {0x2C6, "modifier-circumflex"}, {0x384, "tonos"},             {0x385, "dialytika-tonos"},
                  {0x323, "belowdot"}, {0x309, "hook"}, {0x31B, "horn"}, {0x335, "stroke"}, {0x326, "belowcomma"},
                  {0x2DA, "abovering"}, {0xA4, "currency"}, {0xB5, "greek"}};

class Writer {
 public:
  explicit Writer(const KeyboardDescription& d) : d_(d) {}

  std::string Write() {
    Sets();
    Scan();
    // First the short forms; where the compiler would place a Unicode table
    // otherwise, pin that table; if that is not enough either, pin them all.
    Compositions();
    const bool tables = std::find(std::begin(mode_), std::end(mode_), Mode::kUnicode) != std::end(mode_);
    for (int attempt = 0; attempt < 4; ++attempt) {
      Compose();
      if (!(tables || composing_) || attempt == 3 || Settled(attempt == 0)) break;
      if (attempt >= 1) PinAll();
    }
    return out_;
  }

 private:
  enum class Mode : std::uint8_t { kAnsi, kCodePage, kUnicode };

  void PinAll() {
    pinTop_ = top_.unicode();
    explicitEntries_ = true;
    for (unsigned n = 0; n < kLayouts; ++n) pin_[n] = mode_[n] == Mode::kUnicode;
  }

  void Line(const std::string& s) { out_ += s + "\n"; }

  // How each layout's set is written. A record whose header the set
  // statements cannot say is written `ansi`, its header as raw bytes.
  void Sets() {
    for (unsigned n = 0; n < kLayouts; ++n) {
      const LayoutRecord& r = d_.layouts[n];
      const CharSetHeader h = HeaderOf(r);
      const CharSetKind kind = CharSetOf(r);
      sets_[n] = vkl::LayoutCharSet(d_, n);
      if (kind == CharSetKind::kUnicode) {
        mode_[n] = Mode::kUnicode;
        for (int e = 0; e < 3; ++e) tableEntries_.insert(h.tableEntry + e);
      } else if (kind == CharSetKind::kCodePage && h.tableEntry == 0 && h.count == 0) {
        mode_[n] = Mode::kCodePage;
      } else {
        mode_[n] = Mode::kAnsi;
        sets_[n] = vkl::CharSet::CodePage(LayoutCodePage(d_, n), vkl::CharSet::Kind::kAnsi);
      }
    }
    for (unsigned n = 2; n < kLayouts; ++n) {
      shares_[n] = mode_[n] == Mode::kUnicode && mode_[n - 2] == Mode::kUnicode &&
                   HeaderOf(d_.layouts[n]).tableEntry == HeaderOf(d_.layouts[n - 2]).tableEntry;
    }
    // The macros and dead keys are written in the set of layout 1, else 0.
    // A Unicode set of the top of the file has the characters U+0001..U+007F
    // on their own bytes wherever its table leaves them free.
    top_ = vkl::CharSet::CodePage(kDefaultCodePage);
    topMode_ = Mode::kCodePage;
    for (unsigned layout : {1u, 0u}) {
      if (LayoutUsed(layout)) {
        top_ = sets_[layout];
        topMode_ = mode_[layout];
        break;
      }
    }
    for (char32_t b = 1; b < 0x80 && top_.unicode(); ++b) {
      if (top_.table[b] == 0 && top_.Byte(b) < 0) top_.table[b] = b;
    }
  }

  std::string SetText(Mode mode, const vkl::CharSet& set) const {
    if (mode == Mode::kUnicode) return "unicode";
    return "codepage " + std::to_string(set.codePage) + (mode == Mode::kAnsi ? " ansi" : "");
  }

  // `table` lines: every slot that holds a value (one line at least, which
  // closes the table even where it is empty).
  void TableLines(const vkl::CharSet& set, const std::string& indent) {
    bool any = false;
    for (int b = 0; b < 256;) {
      if (set.table[b] == 0) {
        ++b;
        continue;
      }
      std::string line = indent + "table 0x" + LowerHex(static_cast<unsigned>(b), 2);
      for (int i = 0; b < 256 && set.table[b] != 0 && i < 16; ++b, ++i) line += " " + vkl::CharText(set.table[b]);
      Line(line);
      any = true;
    }
    if (!any) Line(indent + "table 0x00 U+0000");
  }

  void Compose() {
    out_.clear();
    keyLines_.clear();
    written_.clear();
    Line("# Keyboard description for Velto (veltoc decompile).");
    Line(SetText(topMode_, top_));
    if (pinTop_) TableLines(top_, "");
    Options();
    Hotkeys();
    Layouts();
    Mappings();
    DeadKeys();
    CompositionLines();
    Macros();
  }

  // Whether the source compiles to the file's tables and to its macros and
  // dead keys; the first time, which tables to pin if not.
  bool Settled(bool decide) {
    KeyboardDescription back;
    Diagnostics diags;
    if (!CompileVklText(out_, "decompiled.vkl", back, diags)) {
      if (decide) PinAll();
      return false;
    }
    bool same = true;
    for (unsigned n = 0; n < kLayouts; ++n) {
      if (mode_[n] != Mode::kUnicode) continue;
      const vkl::CharSet again = vkl::LayoutCharSet(back, n);
      const bool sameEntry = HeaderOf(back.layouts[n]).tableEntry == HeaderOf(d_.layouts[n]).tableEntry;
      const bool sameTable = again.unicode() && std::equal(std::begin(again.table), std::end(again.table),
                                                            std::begin(sets_[n].table));
      same = same && sameEntry && sameTable;
      if (decide && !sameTable) pin_[n] = true;
      if (decide && !sameEntry) explicitEntries_ = true;
    }
    bool sameTop = std::memcmp(&back.deadKeys, &d_.deadKeys, sizeof back.deadKeys) == 0;
    for (int m = 0; m < static_cast<int>(kMacros); ++m) {
      const MacroEntry &a = back.macros.entries[m], &b = d_.macros.entries[m];
      if (!tableEntries_.count(m) && (a.length != b.length || std::memcmp(a.text, b.text, a.length) != 0)) {
        sameTop = false;
      }
    }
    if (decide && !sameTop) pinTop_ = top_.unicode();
    // The table of compositions, and which layouts compose through it.
    bool sameKinds = true;
    for (unsigned n = 0; n < kLayouts; ++n) {
      sameKinds = sameKinds && HeaderOf(back.layouts[n]).kind == HeaderOf(d_.layouts[n]).kind;
    }
    if (!sameKinds) marks_ = true;
    const bool sameCompositions = back.compositions == d_.compositions;
    if (!sameCompositions) structured_ = false;
    return same && sameTop && sameKinds && sameCompositions;
  }

  // Which scan codes share each record, lowest first; who uses which macro
  // and dead key.
  void Scan() {
    for (unsigned scan = 0; scan < kScanCodes; ++scan) {
      const std::uint8_t r = d_.options.scanMap[scan];
      if (r != 0) scansOf_[r].push_back(static_cast<std::uint16_t>(scan));
    }
    // Record 0 serves every scan code left at 0; its content, if any, is
    // written on the lowest such scan code.
    for (unsigned scan = 0; scan < kScanCodes; ++scan) {
      if (d_.options.scanMap[scan] == 0) {
        zeroScan_ = static_cast<int>(scan);
        break;
      }
    }
    for (std::uint16_t b = 0; b < kMacros; ++b) {
      if (d_.macros.entries[b].length > 0 && !tableEntries_.count(b)) macroNames_[b] = "m" + std::to_string(b);
    }
    for (unsigned plane = 0; plane < kPlanes; ++plane) {
      const bool checked = mode_[plane % 2] != Mode::kAnsi;
      for (const KeyRecord& k : d_.keys.planes[plane]) {
        for (const KeySlot& s : k.slots) {
          for (int col = 0; col < 3; ++col) {
            const std::uint8_t b = s.ch[col];
            const bool macro = (s.flags & MacroFlag(col)) != 0, dead = (s.flags & DeadKeyFlag(col)) != 0;
            if (macro && !tableEntries_.count(b)) macroNames_[b] = "m" + std::to_string(b);
            if (macro && checked) macroUsers_[b].insert(plane % 2);
            if (dead && !macro && checked) deadUsers_[b].insert(plane % 2);
          }
        }
      }
    }
    if (!composing_) DeadNames();
  }

  // Whether a byte of a macro or dead key must be written raw: it does not
  // stand for the same character in every layout with a set that uses it.
  bool RawFor(const std::set<unsigned>& users, std::uint8_t byte) const {
    const char32_t c = top_.Char(byte);
    return std::any_of(users.begin(), users.end(), [&](unsigned n) { return sets_[n].Char(byte) != c; });
  }
  bool RawInRow(std::uint8_t dead, std::uint8_t byte) const {
    const auto it = deadUsers_.find(dead);
    return it != deadUsers_.end() && RawFor(it->second, byte);
  }

  void DeadNames() {

    for (const DeadKeyRow& r : d_.deadKeys.rows) {
      if (r.dead == 0 || deadNames_.count(r.dead)) continue;
      std::string name = "dead-" + LowerHex(r.dead, 2);
      for (const auto& n : kDeadKeyNames) {
        if (top_.Char(r.dead) == n.c) name = n.name;
      }
      deadNames_[r.dead] = name;
    }
  }

  void Options() {
    const OptionBlock& o = d_.options;
    std::uint16_t rest = static_cast<std::uint16_t>(o.options & ~vkl::kNamedOptionMask);
    for (const auto& n : vkl::kOptionNames) {
      if (o.options >> n.bit & 1) Line("option " + std::string(n.name));
    }
    for (const auto& l : vkl::kLocks) {
      const bool enforce = o.options >> l.enforce & 1, state = o.options >> l.state & 1;
      if (enforce) Line("lock " + std::string(l.name) + (state ? " on" : " off"));
      if (!enforce && state) rest = static_cast<std::uint16_t>(rest | 1u << l.state);
    }
    if (rest != 0) Line("option-bits 0x" + LowerHex(rest, 4));
    if (o.reserved != 0) Line("option-bytes " + LowerHex(o.reserved & 0xFF, 2) + " " + LowerHex(o.reserved >> 8, 2));
  }

  void Hotkeys() {
    const OptionBlock& o = d_.options;
    const std::uint16_t words[3][2] = {{o.layoutHotkeyMods, o.layoutHotkeyScan},
                                       {o.enableHotkeyMods, o.enableHotkeyScan},
                                       {o.disableHotkeyMods, o.disableHotkeyScan}};
    for (int i = 0; i < 3; ++i) {
      const std::uint16_t mods = words[i][0], scan = words[i][1];
      std::string keys;
      const bool namedMods = (mods & ~vkl::kModifierMask) == 0;
      if (scan == kModifierOnlyHotkey && mods == 0) {
        keys = "none";
      } else if (scan == kModifierOnlyHotkey && namedMods) {
        keys = ModifierNames(mods, vkl::kModifierNames, {}, "+");
      } else if (scan <= 0x1FF && namedMods && ModifierBitOf(scan) < 0) {
        keys = ModifierNames(mods, vkl::kModifierNames, {}, "+");
        keys += (keys.empty() ? "" : "+") + KeyNameOfScan(scan);
      } else {
        keys = "raw 0x" + LowerHex(mods, 4) + " 0x" + LowerHex(scan, 4);
      }
      Line("hotkey " + std::string(vkl::kHotkeyNames[i]) + " " + keys);
    }
  }

  static bool Empty(const KeyRecord& r) {
    for (const KeySlot& s : r.slots) {
      if (s.ch[0] || s.ch[1] || s.ch[2] || (s.flags & kSlotFlagsMask)) return false;
    }
    return true;
  }

  static bool Same(const KeyRecord& a, const KeyRecord& b) {
    for (std::size_t i = 0; i < kSlotsPerKey; ++i) {
      const KeySlot &x = a.slots[i], &y = b.slots[i];
      if (std::memcmp(x.ch, y.ch, 3) != 0 || (x.flags & kSlotFlagsMask) != (y.flags & kSlotFlagsMask)) return false;
    }
    return true;
  }

  // The scan code whose key line carries a record's content.
  int OwnerOf(int record) const {
    if (record == 0) return zeroScan_;
    const auto it = scansOf_.find(record);
    return it == scansOf_.end() ? -1 : it->second.front();
  }

  bool LayoutUsed(unsigned n) const {
    const LayoutRecord& r = d_.layouts[n];
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&r);
    if (std::any_of(bytes, bytes + sizeof r, [](std::uint8_t b) { return b != 0; })) return true;
    return n < 2 && std::any_of(std::begin(d_.keys.planes[n]), std::end(d_.keys.planes[n]), [](auto& k) {
             return !Empty(k);
           });
  }

  std::optional<CapsMode> ModeOf(const KeyRecord& plain, const KeyRecord& caps, const vkl::CharSet& set,
                                 std::optional<CapsMode> first) const {
    if (first && Same(vkl::DeriveCaps(plain, *first, set), caps)) return first;
    for (std::size_t m = 0; m < std::size(vkl::kCapsModes); ++m) {
      if (Same(vkl::DeriveCaps(plain, static_cast<CapsMode>(m), set), caps)) return static_cast<CapsMode>(m);
    }
    return std::nullopt;
  }

  void Layouts() {
    for (unsigned n = 0; n < kLayouts; ++n) {
      if (!LayoutUsed(n)) continue;
      const LayoutRecord& r = d_.layouts[n];
      const vkl::CharSet& set = sets_[n];
      std::size_t nameLength = kLayoutNameSize;
      while (nameLength > 0 && r.name[nameLength - 1] == 0) --nameLength;
      out_ += "\n";
      Line("layout " + std::to_string(n) + " " +
           StringText(reinterpret_cast<const std::uint8_t*>(r.name), nameLength, set) + " {");
      std::string setLine = "  " + SetText(mode_[n], set);
      if (mode_[n] == Mode::kUnicode) {
        const CharSetHeader h = HeaderOf(r);
        int count = 0;
        for (int b = 1; b < 256; ++b) count += set.Char(static_cast<std::uint8_t>(b)) != 0;
        if (explicitEntries_ && !shares_[n]) setLine += " @" + std::to_string(h.tableEntry);
        if (h.count != count) setLine += " count " + std::to_string(h.count);
        if (h.codePage != kUnicodeCodePageId) setLine += " id " + std::to_string(h.codePage);
        if (marks_) setLine += composes_[n] ? " composing" : " classic";
      }
      Line(setLine);
      if (pin_[n] && !shares_[n]) TableLines(set, "  ");
      if (r.flags >> kLayoutFlagCharThenLeft & 1) Line("  char-then-left");
      if (r.modMask) Line("  claims " + ModifierNames(r.modMask, vkl::kModifierNames, vkl::kClaimFlags, " "));
      if (r.rightModEquivalence) {
        Line("  right-as-left " + ModifierNames(r.rightModEquivalence, vkl::kRightAsLeft, {}, " "));
      }
      Charset(r, set);
      const std::optional<std::string> badge = StoredBadge(r);
      if (badge) Line("  badge \"" + *badge + "\"");
      RecordBytes(r, n, badge.has_value());
      if (n < 2) Keys(n, set);
      Line("}");
    }
  }

  void Charset(const LayoutRecord& r, const vkl::CharSet& set) {
    std::string line;
    for (int b = 0; b < 256;) {
      if (!(r.charBitmap[b / 8] >> (b % 8) & 1)) {
        ++b;
        continue;
      }
      int e = b;
      while (e + 1 < 256 && (r.charBitmap[(e + 1) / 8] >> ((e + 1) % 8) & 1)) ++e;
      // A range is of raw bytes, or of characters whose code points run on.
      int runEnd = b;
      const auto byte = [](int i) { return static_cast<std::uint8_t>(i); };
      const bool raw = !Writable(byte(b), set) || set.Char(byte(b)) < 0x21;
      while (runEnd < e) {
        const char32_t c = set.Char(byte(runEnd + 1)), prev = set.Char(byte(runEnd));
        if (raw || c != prev + 1 || !Writable(byte(runEnd + 1), set)) break;
        ++runEnd;
      }
      if (raw) {
        line += " 0x" + LowerHex(static_cast<unsigned>(b), 2) + (e > b ? "..0x" + LowerHex(static_cast<unsigned>(e), 2) : "");
        b = e + 1;
        continue;
      }
      line += " " + CharText(byte(b), set);
      if (runEnd > b) line += ".." + CharText(byte(runEnd), set);
      b = runEnd + 1;
    }
    if (!line.empty()) Line("  charset" + line);
  }

  // Raw bytes for what the set statement and the badge do not write: bytes
  // 6 to 37 of an `ansi` record but its code page, bytes 20 to 37 of one
  // with a set, but bytes 32 to 37 where they hold a badge.
  void RecordBytes(const LayoutRecord& r, unsigned n, bool badge) {
    const int codePage = sets_[n].codePage;
    std::uint8_t expected[32] = {static_cast<std::uint8_t>(codePage & 0xFF), static_cast<std::uint8_t>(codePage >> 8)};
    if (badge) std::copy_n(r.reserved + kBadgeReserved, kBadgeBytes, expected + kBadgeReserved);
    const int first = mode_[n] == Mode::kAnsi ? 0 : vkl::kRecordBytesFirstMarked - vkl::kRecordBytesFirst;
    for (int i = first; i < 32;) {
      if (r.reserved[i] == expected[i]) {
        ++i;
        continue;
      }
      std::string line = "  bytes " + std::to_string(6 + i);
      int j = i;
      while (j < 32 && (r.reserved[j] != expected[j] || (j + 1 < 32 && r.reserved[j + 1] != expected[j + 1]))) {
        line += " " + LowerHex(r.reserved[j], 2);
        ++j;
      }
      Line(line);
      i = j;
    }
  }

  std::string Cell(const KeySlot& s, int col, const vkl::CharSet& set) const {
    const std::uint8_t b = s.ch[col];
    const bool dead = (s.flags & DeadKeyFlag(col)) != 0, macro = (s.flags & MacroFlag(col)) != 0;
    if (macro) {
      // An entry that holds a table is no macro: the key names it by number.
      const std::string name = tableEntries_.count(b) ? "@" + std::to_string(b) : macroNames_.at(b);
      return std::string(dead ? "dead+macro:" : "macro:") + name;
    }
    if (dead && composing_) {
      // A layout that composes names its dead keys and the compose key by
      // their inputs; anything else stands as its byte.
      const int layout = static_cast<int>(&set - sets_);
      const char32_t input = layout >= 0 && layout < static_cast<int>(kLayouts) && composes_[layout] ? set.table[b] : 0;
      if (structured_ && input == kComposeKeyInput && composeState_ != 0) return "compose";
      if (structured_ && input >= kDeadKeyInputs && input - kDeadKeyInputs < compositionDeadNames_.size()) {
        return "dead:" + compositionDeadNames_[input - kDeadKeyInputs];
      }
      return "dead:0x" + LowerHex(b, 2);
    }
    if (dead) {
      const auto it = deadNames_.find(b);
      return "dead:" + (it != deadNames_.end() ? it->second : CharText(b, set));
    }
    return b == 0 ? "-" : CharText(b, set);
  }

  static bool SameCell(const KeySlot& s, int a, int b) {
    return s.ch[a] == s.ch[b] && ((s.flags & DeadKeyFlag(a)) != 0) == ((s.flags & DeadKeyFlag(b)) != 0) &&
           ((s.flags & MacroFlag(a)) != 0) == ((s.flags & MacroFlag(b)) != 0);
  }

  std::string PlaneText(const KeyRecord& r, const vkl::CharSet& set) const {
    std::string out;
    for (std::size_t slot = 0; slot < kSlotsPerKey; ++slot) {
      const KeySlot& s = r.slots[slot];
      const bool empty = !s.ch[0] && !s.ch[1] && !s.ch[2] && (s.flags & kSlotFlagsMask) == 0;
      if (empty) continue;
      if (slot > 0) out += std::string(" ") + std::string(vkl::kSlotLabels[slot]) + ":";
      out += " " + Cell(s, 0, set);
      const bool shiftEmpty = !s.ch[1] && !(s.flags & (DeadKeyFlag(1) | MacroFlag(1))) && SameCell(s, 1, 2);
      if (shiftEmpty) continue;
      out += " " + Cell(s, 1, set);
      if (!SameCell(s, 1, 2)) out += " " + Cell(s, 2, set);
    }
    return out;
  }

  void Keys(unsigned layout, const vkl::CharSet& set) {
    // The Caps Lock mode most keys follow becomes the layout's default.
    std::map<int, int> votes;
    std::vector<int> records;
    for (int rec = 0; rec < static_cast<int>(kKeysPerPlane); ++rec) {
      const KeyRecord &plain = d_.keys.planes[layout][rec], &caps = d_.keys.planes[layout + 2][rec];
      if ((Empty(plain) && Empty(caps)) || OwnerOf(rec) < 0) continue;
      records.push_back(rec);
      for (std::size_t m = 0; m < std::size(vkl::kCapsModes); ++m) {
        votes[static_cast<int>(m)] += Same(vkl::DeriveCaps(plain, static_cast<CapsMode>(m), set), caps);
      }
    }
    CapsMode mode = CapsMode::kLetters;
    for (const auto& [m, n] : votes) {
      if (n > votes[static_cast<int>(mode)]) mode = static_cast<CapsMode>(m);
    }
    if (mode != CapsMode::kLetters) Line("  caps " + std::string(vkl::kCapsModes[static_cast<int>(mode)]));
    for (const int rec : records) {
      const KeyRecord &plain = d_.keys.planes[layout][rec], &caps = d_.keys.planes[layout + 2][rec];
      std::string line = PlaneText(plain, set);
      const auto m = ModeOf(plain, caps, set, mode);
      if (!m) {
        line += " caps:" + PlaneText(caps, set);
      } else if (*m != mode) {
        line += " caps=" + std::string(vkl::kCapsModes[static_cast<int>(*m)]);
      }
      keyLines_.push_back({static_cast<std::uint16_t>(OwnerOf(rec)), rec, out_.size()});
      written_.insert(static_cast<std::uint16_t>(OwnerOf(rec)));
      std::string name = KeyNameOfScan(static_cast<std::uint16_t>(OwnerOf(rec)));
      name.resize(std::max<std::size_t>(name.size(), 10), ' ');
      out_ += "  key " + name + line + "\n";
    }
  }

  // Mapping lines for the scan codes whose record carries no content of
  // theirs, then record numbers on every key line if the compiler's own
  // choice would differ from the file's.
  void Mappings() {
    std::vector<std::uint16_t> bare;
    for (const auto& [rec, scans] : scansOf_) {
      for (const std::uint16_t scan : scans) {
        if (!written_.count(scan)) bare.push_back(scan);
      }
    }
    for (const std::uint16_t scan : bare) {
      keyLines_.push_back({scan, d_.options.scanMap[scan], std::string::npos});
    }
    // The compiler numbers the keys 1, 2, ... in the order it meets them.
    std::map<std::uint16_t, int> picked;
    int next = 1;
    bool same = true;
    for (const KeyLine& k : keyLines_) {
      if (!picked.count(k.scan)) picked[k.scan] = next++;
      same = same && picked[k.scan] == k.record;
    }
    if (!bare.empty()) {
      out_ += "\n# Keys that share a record with another key, or have none of their own\n";
      for (const std::uint16_t scan : bare) {
        out_ += "key " + KeyNameOfScan(scan) + " @" + std::to_string(d_.options.scanMap[scan]) + "\n";
      }
    }
    if (same && bare.empty()) return;
    // Insert the record numbers, from the last line back so offsets hold.
    for (auto it = keyLines_.rbegin(); it != keyLines_.rend(); ++it) {
      if (it->offset == std::string::npos) continue;
      const std::size_t end = out_.find('\n', it->offset);
      const std::size_t at = std::min(out_.find(' ', it->offset + 6), end);  // after "  key NAME"
      out_.insert(at, " @" + std::to_string(it->record));
    }
  }

  // The last row of the 256-row table that holds anything; -1 if none.
  int LastDeadRow() const {
    int last = -1;
    for (int i = 0; i < static_cast<int>(kDeadKeyRows); ++i) {
      const DeadKeyRow& r = d_.deadKeys.rows[i];
      if (r.dead || r.next || r.composed) last = i;
    }
    return last;
  }

  void DeadKeys() {
    if (composing_) return CompositionDeadRows();
    const int last = LastDeadRow();
    if (last < 0) return;
    out_ += "\n# Dead keys: name, character, then pairs of base character and result\n";
    auto rowChar = [&](std::uint8_t dead, std::uint8_t b) {
      return b == 0 ? std::string("-") : CharText(b, top_, RawInRow(dead, b));
    };
    for (int i = 0; i <= last;) {
      const DeadKeyRow& r = d_.deadKeys.rows[i];
      if (r.dead == 0) {
        Line("deadrow - " + rowChar(0, r.next) + " " + rowChar(0, r.composed));
        ++i;
        continue;
      }
      std::string line = "deadkey " + deadNames_[r.dead] + " " + rowChar(r.dead, r.dead);
      int pairs = 0;
      while (i <= last && d_.deadKeys.rows[i].dead == r.dead && pairs < 12) {
        line += "  " + rowChar(r.dead, d_.deadKeys.rows[i].next) + " " + rowChar(r.dead, d_.deadKeys.rows[i].composed);
        ++i, ++pairs;
      }
      Line(line);
    }
  }

  void Macros() {
    if (macroNames_.empty()) return;
    // The compiler numbers macros 1, 2, ... in order; give @N where that differs.
    int expected = 1;
    bool numbered = false;
    for (const auto& [index, name] : macroNames_) numbered = numbered || index != expected++;
    out_ += "\n# Macros: text with {KEY+KEY} chords\n";
    for (const auto& [index, name] : macroNames_) {
      const MacroEntry& e = d_.macros.entries[index];
      const std::vector<std::uint8_t> text(e.text, e.text + e.length);
      const bool unchecked = !vkl::CheckChords(text, top_).empty();
      const auto users = macroUsers_.find(index);
      const auto raw = [&](std::uint8_t b) { return users != macroUsers_.end() && RawFor(users->second, b); };
      Line("macro " + name + (numbered ? " @" + std::to_string(index) : "") + (unchecked ? " unchecked" : "") + " " +
           StringText(reinterpret_cast<const std::uint8_t*>(e.text), e.length, top_, raw));
    }
  }

  // --- The table of compositions ------------------------------------------

  // Reads the table back into dead keys and sequences, where it is one the
  // compiler builds: state 0 leads by dead key n to state n + 1 and by the
  // compose key to the state after those; every other state is reached by
  // one way only; every key is a character, a dead key or the compose key;
  // every text is characters. Otherwise the table is written as its bytes.
  void Compositions() {
    for (unsigned n = 0; n < kLayouts; ++n) {
      const LayoutRecord& r = d_.layouts[n];
      composes_[n] = CharSetOf(r) == CharSetKind::kUnicode && HeaderOf(r).kind == kUnicodeComposingKind;
      composing_ = composing_ || composes_[n];
    }
    composing_ = composing_ || !d_.compositions.empty();
    if (!composing_) return;
    structured_ = false;
    if (d_.compositions.empty()) return;
    const velto::Compositions table(d_.compositions.data(), d_.compositions.size());
    if (!table.valid()) return;
    struct Target {
      bool toState = false;
      std::uint32_t to = 0;
      std::u32string text;
    };
    std::map<std::uint32_t, std::map<char32_t, Target>> edges;
    bool ok = true;
    table.ForEachEdge([&](std::uint64_t e) {
      const char32_t input = static_cast<char32_t>(e & kMaxInput);
      const auto from = static_cast<std::uint32_t>(e >> 21) & kMaxCompositionState;
      Target t;
      t.toState = (e & kEdgeToState) != 0;
      if (t.toState) {
        t.to = static_cast<std::uint32_t>(e >> 41) & kMaxCompositionState;
      } else {
        std::uint32_t length = 0;
        const std::uint32_t* text = table.TextAt(static_cast<std::uint32_t>(e >> 41) & kMaxTextIndex, &length);
        if (text == nullptr) ok = false;
        for (std::uint32_t i = 0; text != nullptr && i < length; ++i) {
          ok = ok && IsCharacter(text[i]);
          t.text += static_cast<char32_t>(text[i]);
        }
      }
      ok = ok && edges[from].emplace(input, t).second;
    });
    // From state 0: the dead keys 0..N-1 to states 1..N, then the compose key.
    std::uint32_t deadKeys = 0;
    for (const auto& [input, t] : edges[0]) {
      if (input == kComposeKeyInput) continue;
      ok = ok && t.toState && input == kDeadKeyInputs + deadKeys && t.to == deadKeys + 1;
      ++deadKeys;
    }
    if (const auto it = edges[0].find(kComposeKeyInput); it != edges[0].end()) {
      ok = ok && it->second.toState && it->second.to == deadKeys + 1;
      composeState_ = deadKeys + 1;
    }
    if (!ok) return;
    // The dead keys: a name and the character Space gives after each.
    compositionDeadNames_.clear();
    compositionModel_ = compiler::Model{};
    std::set<std::string> names;
    for (std::uint32_t n = 0; n < deadKeys; ++n) {
      char32_t c = 0;
      const auto& from = edges[n + 1];
      if (const auto space = from.find(U' '); space != from.end() && space->second.text.size() == 1) {
        c = space->second.text[0];
      }
      std::string name = DeadKeyName(c);
      if (name.empty() || names.count(name)) name = "dead" + std::to_string(n);
      names.insert(name);
      compositionDeadNames_.push_back(name);
      compositionModel_.deadNames[name] = compiler::Char{false, c, {}};
      compositionModel_.deadOrder.push_back(name);
    }
    // Every sequence, by depth-first walks; each state once.
    struct Found {
      compiler::Sequence q;
      std::vector<std::uint32_t> states;  // the intermediate ones, in order
    };
    std::vector<Found> found;
    std::set<std::uint32_t> seen;
    const std::uint32_t firstFree = deadKeys + (composeState_ != 0 ? 1 : 0) + 1;
    const auto inputOf = [&](char32_t input, compiler::ComposeInput& in) {
      if (input == kComposeKeyInput) {
        in.kind = compiler::ComposeInput::kComposeKey;
      } else if (input >= kDeadKeyInputs && input - kDeadKeyInputs < deadKeys) {
        in.kind = compiler::ComposeInput::kDead;
        in.name = compositionDeadNames_[input - kDeadKeyInputs];
      } else if (IsCharacter(input)) {
        in.ch = {false, input, {}};
      } else {
        return false;
      }
      return true;
    };
    const std::function<void(std::uint32_t, Found)> walk = [&](std::uint32_t state, Found path) {
      for (const auto& [input, t] : edges[state]) {
        Found f = path;
        compiler::ComposeInput in;
        if (!inputOf(input, in)) {
          ok = false;
          return;
        }
        f.q.inputs.push_back(in);
        // Space after a dead key, typing its character: the compiler adds it.
        if (path.q.inputs.empty() && state <= deadKeys && input == U' ' && t.text.size() == 1 &&
            compositionModel_.deadNames[compositionDeadNames_[state - 1]].code == t.text[0]) {
          continue;
        }
        if (!t.toState) {
          for (const char32_t c : t.text) f.q.result.text.push_back({false, c, {}});
          found.push_back(std::move(f));
        } else if (t.to >= 1 && t.to <= deadKeys) {
          f.q.result.dead = compositionDeadNames_[t.to - 1];
          found.push_back(std::move(f));
        } else if (t.to >= firstFree && seen.insert(t.to).second) {
          f.states.push_back(t.to);
          walk(t.to, std::move(f));
        } else {
          ok = false;
          return;
        }
      }
    };
    for (std::uint32_t n = 0; n < deadKeys && ok; ++n) {
      Found start;
      start.q.start = {compiler::ComposeInput::kDead, {}, compositionDeadNames_[n], {}};
      walk(n + 1, start);
    }
    if (composeState_ != 0 && ok) {
      Found start;
      start.q.start.kind = compiler::ComposeInput::kComposeKey;
      walk(composeState_, start);
    }
    // Every state the edges leave must have been walked.
    for (const auto& [state, out] : edges) {
      ok = ok && (state < firstFree || seen.count(state));
    }
    if (!ok) return;
    // The compiler numbers the states in the order the sequences come, each
    // making those of its path not yet made: by the deepest state of each
    // path, that order comes back.
    const auto deepest = [](const Found& f) { return f.states.empty() ? 0u : f.states.back(); };
    std::stable_sort(found.begin(), found.end(),
                     [&](const Found& a, const Found& b) { return deepest(a) < deepest(b); });
    for (Found& f : found) compositionModel_.sequences.push_back(std::move(f.q));
    structured_ = true;
  }

  // A dead key's name by its character, as the decompiler names the
  // 256-row table's; empty when it has none.
  static std::string DeadKeyName(char32_t c) {
    for (const auto& n : kDeadKeyNames) {
      if (n.c == c) return n.name;
    }
    return "";
  }

  // In a description that composes, the 256-row table holds the raw rows
  // alone.
  void CompositionDeadRows() {
    const int last = LastDeadRow();
    if (last < 0) return;
    out_ += "\n# Rows of the 256-row dead-key table, as they stand\n";
    const auto raw = [](std::uint8_t b) { return b == 0 ? std::string("-") : "0x" + LowerHex(b, 2); };
    for (int i = 0; i <= last; ++i) {
      const DeadKeyRow& r = d_.deadKeys.rows[i];
      Line("deadrow " + raw(r.dead) + " " + raw(r.next) + " " + raw(r.composed));
    }
  }

  void CompositionLines() {
    if (!composing_) return;
    if (structured_) {
      const std::string text = PrintModel(compositionModel_);
      if (!text.empty()) out_ += "\n# Dead keys and the compose key: what the keys after them make\n" + text.substr(1);
      return;
    }
    if (d_.compositions.empty()) return;
    out_ += "\n# The table of compositions, as it stands\n";
    constexpr std::size_t kPerLine = 32;
    for (std::size_t at = 0; at < d_.compositions.size(); at += kPerLine) {
      std::string line = "composition-bytes " + std::to_string(at) + " ";
      for (std::size_t i = at; i < d_.compositions.size() && i < at + kPerLine; ++i) line += LowerHex(d_.compositions[i], 2);
      Line(line);
    }
  }

  bool composing_ = false;   // some layout composes, or there is a table
  bool composes_[kLayouts] = {};
  bool structured_ = true;   // the table written as lines that build it again
  bool marks_ = false;       // composing and classic written on the sets
  std::uint32_t composeState_ = 0;
  std::vector<std::string> compositionDeadNames_;  // by input number
  compiler::Model compositionModel_;

  struct KeyLine {
    std::uint16_t scan;
    int record;
    std::size_t offset;  // of the line in out_, npos for the mapping lines
  };

  const KeyboardDescription& d_;
  vkl::CharSet sets_[kLayouts];
  Mode mode_[kLayouts] = {};
  vkl::CharSet top_;  // of the macros and dead keys
  Mode topMode_ = Mode::kCodePage;
  std::set<int> tableEntries_;  // macro entries that hold a Unicode table
  bool pin_[kLayouts] = {};     // the layout's table written out
  bool shares_[kLayouts] = {};  // layout 2 or 3 with the table of layout 0 or 1
  bool pinTop_ = false;
  bool explicitEntries_ = false;
  std::map<int, std::set<unsigned>> macroUsers_;  // macro -> layouts with a set that use it
  std::map<int, std::set<unsigned>> deadUsers_;   // dead key byte -> the same
  std::string out_;
  std::map<int, std::vector<std::uint16_t>> scansOf_;
  int zeroScan_ = -1;
  std::map<int, std::string> macroNames_;
  std::map<std::uint8_t, std::string> deadNames_;
  std::vector<KeyLine> keyLines_;
  std::set<std::uint16_t> written_;
};

}  // namespace

std::string DecompileToVkl(const KeyboardDescription& d) { return Writer(d).Write(); }

}  // namespace velto::layoutkit
