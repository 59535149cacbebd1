// The decompiler: any compiled description back to source that compiles to
// the same bytes. It writes the short forms where they give the same bytes,
// and falls back to explicit record numbers, raw bytes and raw hotkeys
// where the file holds what the short forms cannot say.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <span>
#include <set>
#include <vector>

#include "layoutkit/codepage.h"
#include "layoutkit/keys.h"
#include "layoutkit/vkb.h"
#include "layoutkit/vkl.h"
#include "layoutkit/vkl_syntax.h"

namespace velto::layoutkit {

namespace {

using vkl::CapsMode;

std::string Hex(unsigned value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*x", digits, value);
  return buf;
}

// Characters written as U+XXXX rather than themselves: white space, controls,
// marks that combine with their neighbour, and invisible format characters.
bool Invisible(char32_t c) {
  return c <= 0x20 || c == 0x7F || (c >= 0x80 && c <= 0xA0) || c == 0xAD || (c >= 0x300 && c <= 0x36F) ||
         (c >= 0x591 && c <= 0x5C7) || (c >= 0x64B && c <= 0x65F) || c == 0x670 || (c >= 0xE31 && c <= 0xE4E) ||
         (c >= 0x200B && c <= 0x200F);
}

// A character cell as the compiler reads it back to the same byte.
std::string CharText(std::uint8_t byte, int codePage) {
  const char32_t c = DecodeByte(codePage, byte);
  if (c == 0 || byte < 0x20) return "0x" + Hex(byte, 2);
  if (Invisible(c)) return "U+" + Hex(c, 4);
  switch (c) {
    case '-':
    case '#':
    case '"':
      return std::string("'") + static_cast<char>(c) + "'";
    case '\'':
      return "'\\''";
    case '\\':
      return "'\\\\'";
    default:
      break;
  }
  std::string out;
  AppendUtf8(out, c);
  return out;
}

// A "string" with the bytes decoded in the code page.
std::string StringText(const std::uint8_t* bytes, std::size_t n, int codePage) {
  std::string out = "\"";
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t b = bytes[i];
    const char32_t c = DecodeByte(codePage, b);
    if (b == '"' || b == '\\') {
      out += '\\';
      out += static_cast<char>(b);
    } else if (b == '\n') {
      out += "\\n";
    } else if (b == '\r') {
      out += "\\r";
    } else if (b == '\t') {
      out += "\\t";
    } else if (c == 0 || b < 0x20 || b == 0x7F || (c >= 0x80 && c < 0xA0)) {
      out += "\\x" + Hex(b, 2);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out + "\"";
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
  if (rest != 0) out += (out.empty() ? "" : joiner) + ("0x" + Hex(rest, 4));
  return out;
}

class Writer {
 public:
  explicit Writer(const KeyboardDescription& d) : d_(d) {}

  std::string Write() {
    codePage_ = DescriptionCodePage();
    Scan();
    Line("# Keyboard description for Velto (veltoc decompile).");
    Line("codepage " + std::to_string(codePage_));
    Options();
    Hotkeys();
    Layouts();
    Mappings();
    DeadKeys();
    Macros();
    return out_;
  }

 private:
  void Line(const std::string& s) { out_ += s + "\n"; }

  int DescriptionCodePage() const {
    for (unsigned layout : {1u, 0u}) {
      const LayoutRecord& r = d_.layouts[layout];
      const int n = r.reserved[0] | r.reserved[1] << 8;
      if (IsSupportedCodePage(n)) return n;
    }
    return kDefaultCodePage;
  }

  // Which scan codes share each record, lowest first.
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
      if (d_.macros.entries[b].length > 0) macroNames_[b] = "m" + std::to_string(b);
    }
    for (unsigned plane = 0; plane < kPlanes; ++plane) {
      for (const KeyRecord& k : d_.keys.planes[plane]) {
        for (const KeySlot& s : k.slots) {
          for (int col = 0; col < 3; ++col) {
            if (s.flags >> (col + 3) & 1) macroNames_[s.ch[col]] = "m" + std::to_string(s.ch[col]);
          }
        }
      }
    }
    DeadNames();
  }

  void DeadNames() {
    static constexpr struct {
      char32_t c;
      const char* name;
    } kNames[] = {{0x60, "grave"},       {0xB4, "acute"},  {0x5E, "circumflex"}, {0xA8, "diaeresis"},
                  {0x7E, "tilde"},       {0xB8, "cedilla"}, {0x2C7, "caron"},    {0x2D8, "breve"},
                  {0xB0, "ring"},        {0x2DB, "ogonek"}, {0x2D9, "dot"},      {0x2DD, "double-acute"},
                  {0xAF, "macron"},      {0x27, "apostrophe"}, {0x22, "quote"},  {0x2DC, "small-tilde"},
                  {0x2C6, "modifier-circumflex"}, {0x384, "tonos"},             {0x385, "dialytika-tonos"}};
    for (const DeadKeyRow& r : d_.deadKeys.rows) {
      if (r.dead == 0 || deadNames_.count(r.dead)) continue;
      std::string name = "dead-" + Hex(r.dead, 2);
      for (const auto& n : kNames) {
        if (DecodeByte(codePage_, r.dead) == n.c) name = n.name;
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
    if (rest != 0) Line("option-bits 0x" + Hex(rest, 4));
    if (o.reserved != 0) Line("option-bytes " + Hex(o.reserved & 0xFF, 2) + " " + Hex(o.reserved >> 8, 2));
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
      } else if (scan <= 0x1FF && namedMods && ModifierBitOfScan(scan) < 0) {
        keys = ModifierNames(mods, vkl::kModifierNames, {}, "+");
        keys += (keys.empty() ? "" : "+") + KeyNameOfScan(scan);
      } else {
        keys = "raw 0x" + Hex(mods, 4) + " 0x" + Hex(scan, 4);
      }
      Line("hotkey " + std::string(vkl::kHotkeyNames[i]) + " " + keys);
    }
  }

  static bool Empty(const KeyRecord& r) {
    for (const KeySlot& s : r.slots) {
      if (s.ch[0] || s.ch[1] || s.ch[2] || (s.flags & 0x3F)) return false;
    }
    return true;
  }

  static bool Same(const KeyRecord& a, const KeyRecord& b) {
    for (std::size_t i = 0; i < kSlotsPerKey; ++i) {
      const KeySlot &x = a.slots[i], &y = b.slots[i];
      if (std::memcmp(x.ch, y.ch, 3) != 0 || (x.flags & 0x3F) != (y.flags & 0x3F)) return false;
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

  std::optional<CapsMode> ModeOf(const KeyRecord& plain, const KeyRecord& caps, int codePage,
                                 std::optional<CapsMode> first) const {
    if (first && Same(vkl::DeriveCaps(plain, *first, codePage), caps)) return first;
    for (std::size_t m = 0; m < std::size(vkl::kCapsModes); ++m) {
      if (Same(vkl::DeriveCaps(plain, static_cast<CapsMode>(m), codePage), caps)) return static_cast<CapsMode>(m);
    }
    return std::nullopt;
  }

  void Layouts() {
    for (unsigned n = 0; n < kLayouts; ++n) {
      if (!LayoutUsed(n)) continue;
      const LayoutRecord& r = d_.layouts[n];
      const int stored = r.reserved[0] | r.reserved[1] << 8;
      const int codePage = IsSupportedCodePage(stored) ? stored : codePage_;
      std::size_t nameLength = kLayoutNameSize;
      while (nameLength > 0 && r.name[nameLength - 1] == 0) --nameLength;
      out_ += "\n";
      Line("layout " + std::to_string(n) + " " +
           StringText(reinterpret_cast<const std::uint8_t*>(r.name), nameLength, codePage) + " {");
      Line("  codepage " + std::to_string(codePage));
      if (r.flags >> kLayoutFlagCharThenLeft & 1) Line("  char-then-left");
      if (r.modMask) Line("  claims " + ModifierNames(r.modMask, vkl::kModifierNames, vkl::kClaimFlags, " "));
      if (r.rightModEquivalence) {
        Line("  right-as-left " + ModifierNames(r.rightModEquivalence, vkl::kRightAsLeft, {}, " "));
      }
      Charset(r, codePage);
      RecordBytes(r, codePage);
      if (n < 2) Keys(n, codePage);
      Line("}");
    }
  }

  void Charset(const LayoutRecord& r, int codePage) {
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
      const bool raw = DecodeByte(codePage, static_cast<std::uint8_t>(b)) == 0 || b < 0x21;
      while (runEnd < e) {
        const char32_t c = DecodeByte(codePage, static_cast<std::uint8_t>(runEnd + 1));
        const char32_t prev = DecodeByte(codePage, static_cast<std::uint8_t>(runEnd));
        if (raw || c != prev + 1 || c == 0) break;
        ++runEnd;
      }
      if (raw) {
        line += " 0x" + Hex(static_cast<unsigned>(b), 2) + (e > b ? "..0x" + Hex(static_cast<unsigned>(e), 2) : "");
        b = e + 1;
        continue;
      }
      line += " " + CharText(static_cast<std::uint8_t>(b), codePage);
      if (runEnd > b) line += ".." + CharText(static_cast<std::uint8_t>(runEnd), codePage);
      b = runEnd + 1;
    }
    if (!line.empty()) Line("  charset" + line);
  }

  void RecordBytes(const LayoutRecord& r, int codePage) {
    std::uint8_t expected[32] = {static_cast<std::uint8_t>(codePage & 0xFF), static_cast<std::uint8_t>(codePage >> 8)};
    for (int i = 0; i < 32;) {
      if (r.reserved[i] == expected[i]) {
        ++i;
        continue;
      }
      std::string line = "  bytes " + std::to_string(6 + i);
      int j = i;
      while (j < 32 && (r.reserved[j] != expected[j] || (j + 1 < 32 && r.reserved[j + 1] != expected[j + 1]))) {
        line += " " + Hex(r.reserved[j], 2);
        ++j;
      }
      Line(line);
      i = j;
    }
  }

  std::string Cell(const KeySlot& s, int col, int codePage) const {
    const std::uint8_t b = s.ch[col];
    const bool dead = s.flags >> col & 1, macro = s.flags >> (col + 3) & 1;
    if (macro) return std::string(dead ? "dead+macro:" : "macro:") + macroNames_.at(b);
    if (dead) {
      const auto it = deadNames_.find(b);
      return "dead:" + (it != deadNames_.end() ? it->second : CharText(b, codePage));
    }
    return b == 0 ? "-" : CharText(b, codePage);
  }

  static bool SameCell(const KeySlot& s, int a, int b) {
    return s.ch[a] == s.ch[b] && (s.flags >> a & 1) == (s.flags >> b & 1) &&
           (s.flags >> (a + 3) & 1) == (s.flags >> (b + 3) & 1);
  }

  std::string PlaneText(const KeyRecord& r, int codePage) const {
    std::string out;
    for (std::size_t slot = 0; slot < kSlotsPerKey; ++slot) {
      const KeySlot& s = r.slots[slot];
      const bool empty = !s.ch[0] && !s.ch[1] && !s.ch[2] && (s.flags & 0x3F) == 0;
      if (empty) continue;
      if (slot > 0) out += std::string(" ") + std::string(vkl::kSlotLabels[slot]) + ":";
      out += " " + Cell(s, 0, codePage);
      const bool shiftEmpty = !s.ch[1] && !(s.flags & 0x12) && SameCell(s, 1, 2);
      if (shiftEmpty) continue;
      out += " " + Cell(s, 1, codePage);
      if (!SameCell(s, 1, 2)) out += " " + Cell(s, 2, codePage);
    }
    return out;
  }

  void Keys(unsigned layout, int codePage) {
    // The Caps Lock mode most keys follow becomes the layout's default.
    std::map<int, int> votes;
    std::vector<int> records;
    for (int rec = 0; rec < static_cast<int>(kKeysPerPlane); ++rec) {
      const KeyRecord &plain = d_.keys.planes[layout][rec], &caps = d_.keys.planes[layout + 2][rec];
      if ((Empty(plain) && Empty(caps)) || OwnerOf(rec) < 0) continue;
      records.push_back(rec);
      for (std::size_t m = 0; m < std::size(vkl::kCapsModes); ++m) {
        votes[static_cast<int>(m)] += Same(vkl::DeriveCaps(plain, static_cast<CapsMode>(m), codePage), caps);
      }
    }
    CapsMode mode = CapsMode::kLetters;
    for (const auto& [m, n] : votes) {
      if (n > votes[static_cast<int>(mode)]) mode = static_cast<CapsMode>(m);
    }
    if (mode != CapsMode::kLetters) Line("  caps " + std::string(vkl::kCapsModes[static_cast<int>(mode)]));
    for (const int rec : records) {
      const KeyRecord &plain = d_.keys.planes[layout][rec], &caps = d_.keys.planes[layout + 2][rec];
      std::string line = PlaneText(plain, codePage);
      const auto m = ModeOf(plain, caps, codePage, mode);
      if (!m) {
        line += " caps:" + PlaneText(caps, codePage);
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

  void DeadKeys() {
    int last = -1;
    for (int i = 0; i < static_cast<int>(kDeadKeyRows); ++i) {
      const DeadKeyRow& r = d_.deadKeys.rows[i];
      if (r.dead || r.next || r.composed) last = i;
    }
    if (last < 0) return;
    out_ += "\n# Dead keys: name, character, then pairs of base character and result\n";
    auto rowChar = [&](std::uint8_t b) { return b == 0 ? std::string("-") : CharText(b, codePage_); };
    for (int i = 0; i <= last;) {
      const DeadKeyRow& r = d_.deadKeys.rows[i];
      if (r.dead == 0) {
        Line("deadrow - " + rowChar(r.next) + " " + rowChar(r.composed));
        ++i;
        continue;
      }
      std::string line = "deadkey " + deadNames_[r.dead] + " " + CharText(r.dead, codePage_);
      int pairs = 0;
      while (i <= last && d_.deadKeys.rows[i].dead == r.dead && pairs < 12) {
        line += "  " + rowChar(d_.deadKeys.rows[i].next) + " " + rowChar(d_.deadKeys.rows[i].composed);
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
      const bool unchecked = !vkl::CheckChords(text, codePage_).empty();
      Line("macro " + name + (numbered ? " @" + std::to_string(index) : "") + (unchecked ? " unchecked" : "") + " " +
           StringText(reinterpret_cast<const std::uint8_t*>(e.text), e.length, codePage_));
    }
  }

  struct KeyLine {
    std::uint16_t scan;
    int record;
    std::size_t offset;  // of the line in out_, npos for the mapping lines
  };

  const KeyboardDescription& d_;
  int codePage_ = kDefaultCodePage;
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
