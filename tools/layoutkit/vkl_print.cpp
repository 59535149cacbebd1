// The printer of the keyboard language: one spelling of characters,
// strings, cells and lines for every tool that writes source.
#include "layoutkit/vkl_print.h"

#include <algorithm>
#include <map>
#include <set>
#include <span>

#include "layoutkit/scan_names.h"
#include "layoutkit/text.h"
#include "layoutkit/vkl_syntax.h"

namespace velto::layoutkit {

namespace vkl {

namespace {

// Characters that would not show, or not on their own: controls, white
// space, marks that join their neighbour, invisible format characters,
// and the replacement character, which the parser takes for a byte that
// is no UTF-8.
bool Hidden(char32_t c) {
  return c <= 0x20 || c == 0x7F || (c >= 0x80 && c <= 0xA0) || c == 0xAD || (c >= 0x300 && c <= 0x36F) ||
         (c >= 0x591 && c <= 0x5C7) || (c >= 0x64B && c <= 0x65F) || c == 0x670 || (c >= 0xE31 && c <= 0xE4E) ||
         (c >= 0x2000 && c <= 0x200F) || (c >= 0x2028 && c <= 0x202F) || (c >= 0x205F && c <= 0x206F) ||
         c == 0xFEFF || c == 0xFFFD;
}

// Controls and what is no character have no place inside a string either.
bool HiddenInString(char32_t c) {
  return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || c == 0xFEFF || c == 0xFFFD || !IsCharacter(c);
}

}  // namespace

std::string CharText(char32_t c) {
  switch (c) {
    case ' ':
      return "' '";
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
  if (!IsCharacter(c) || Hidden(c)) return CodePoint(c);
  std::string out;
  AppendUtf8(out, c);
  return out;
}

std::string CharText(const compiler::Char& c) { return c.raw ? "0x" + LowerHex(c.code & 0xFF, 2) : CharText(c.code); }

std::string StringText(const std::vector<compiler::Char>& text) {
  std::string out = "\"";
  for (const compiler::Char& ch : text) {
    const char32_t c = ch.code;
    if (ch.raw) {
      out += "\\x" + LowerHex(c & 0xFF, 2);
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (HiddenInString(c)) {
      out += "\\u{" + Hex(c, 4) + "}";
    } else {
      AppendUtf8(out, c);
    }
  }
  return out + "\"";
}

std::string StringText(const std::u32string& text) {
  std::vector<compiler::Char> chars;
  for (const char32_t c : text) chars.push_back({false, c, {}});
  return StringText(chars);
}

}  // namespace vkl

namespace {

using compiler::Cell;
using compiler::Char;
using compiler::ComposeInput;
using compiler::ComposeResult;
using compiler::KeyLine;
using compiler::LayoutDef;
using compiler::Model;
using compiler::Plane;
using compiler::Sequence;
using compiler::SetChoice;
using vkl::CapsMode;

// Parts of key lines up to this width are aligned in columns; a longer one
// pushes the rest of its line to the right.
constexpr std::size_t kMaxAlignedWidth = 24;
constexpr std::size_t kPairsPerLine = 12;

std::string Pad(const std::string& s, std::size_t width) {
  const std::size_t w = Utf8Length(s);
  return w >= width ? s : s + std::string(width - w, ' ');
}

bool SameChar(const Char& a, const Char& b) { return a.raw == b.raw && a.code == b.code; }

bool SameCell(const Cell& a, const Cell& b) {
  return a.kind == b.kind && SameChar(a.ch, b.ch) && a.name == b.name && a.deadToo == b.deadToo &&
         a.macroIndex == b.macroIndex;
}

std::string CellText(const Cell& c) {
  switch (c.kind) {
    case Cell::kEmpty:
      return "-";
    case Cell::kChar:
      return vkl::CharText(c.ch);
    case Cell::kDead:
      return "dead:" + vkl::CharText(c.ch);
    case Cell::kDeadNamed:
      return "dead:" + c.name;
    case Cell::kMacro:
      return std::string(c.deadToo ? "dead+macro:" : "macro:") +
             (c.macroIndex >= 0 ? "@" + std::to_string(c.macroIndex) : c.name);
    case Cell::kComposeKey:
      return "compose";
  }
  return "-";
}

// The cells of one slot: one to three, as few as read back the same.
std::string SlotText(const Cell (&c)[3]) {
  const bool emptyShift = c[1].kind == Cell::kEmpty && c[2].kind == Cell::kEmpty;
  if (emptyShift) return CellText(c[0]);
  std::string out = CellText(c[0]) + " " + CellText(c[1]);
  if (!SameCell(c[1], c[2])) out += " " + CellText(c[2]);
  return out;
}

bool EmptySlot(const Cell (&c)[3]) {
  return c[0].kind == Cell::kEmpty && c[1].kind == Cell::kEmpty && c[2].kind == Cell::kEmpty;
}

// The slots of a plane: the plain slot's cells, then the others with labels.
std::pair<std::string, std::string> PlaneParts(const Plane& p) {
  std::string plain, others;
  for (std::size_t slot = 0; slot < kSlotsPerKey; ++slot) {
    if (EmptySlot(p.cells[slot])) continue;
    if (slot == 0) {
      plain = SlotText(p.cells[0]);
    } else {
      others += (others.empty() ? "" : " ") + std::string(vkl::kSlotLabels[slot]) + ": " + SlotText(p.cells[slot]);
    }
  }
  // A plane whose plain slot is empty still needs a cell there, for the
  // labels to follow.
  if (plain.empty() && !others.empty()) plain = "-";
  return {plain, others};
}

std::string Names(std::uint16_t bits, std::span<const vkl::NamedBit> names, std::span<const vkl::NamedBit> more,
                  const char* joiner) {
  std::string out;
  std::uint16_t rest = bits;
  const auto add = [&](const vkl::NamedBit& n) {
    if ((bits >> n.bit & 1) == 0) return;
    out += (out.empty() ? "" : joiner) + std::string(n.name);
    rest = static_cast<std::uint16_t>(rest & ~(1u << n.bit));
  };
  for (const auto& n : names) add(n);
  for (const auto& n : more) add(n);
  if (rest != 0) out += (out.empty() ? "" : joiner) + ("0x" + LowerHex(rest, 4));
  return out;
}

std::string InputText(const ComposeInput& in) {
  switch (in.kind) {
    case ComposeInput::kChar:
      return vkl::CharText(in.ch);
    case ComposeInput::kDead:
      return "dead:" + in.name;
    case ComposeInput::kComposeKey:
      break;
  }
  return "compose";
}

std::string ResultText(const ComposeResult& r) {
  if (!r.dead.empty()) return "dead:" + r.dead;
  if (r.text.size() == 1 && !r.text[0].raw) return vkl::CharText(r.text[0]);
  return vkl::StringText(r.text);
}

class Printer {
 public:
  explicit Printer(const Model& m) : m_(m) {}

  std::string Print() {
    markComposing_ = NeedsMark();
    for (const std::string& h : m_.header) out_ += h.empty() ? "#\n" : "# " + h + "\n";
    if (!m_.header.empty()) out_ += "\n";
    Set(m_.set, "");
    Options();
    for (unsigned n = 0; n < kLayouts; ++n) Layout(n);
    Mappings();
    DeadKeys();
    Sequences();
    Macros();
    return out_;
  }

 private:
  void Line(const std::string& s) { out_ += s + "\n"; }

  void Set(const SetChoice& s, const std::string& indent) {
    std::string line;
    if (s.kind == SetChoice::kCodePage || s.kind == SetChoice::kAnsi) {
      line = "codepage " + std::to_string(s.codePage) + (s.kind == SetChoice::kAnsi ? " ansi" : "");
    } else if (s.kind == SetChoice::kUnicode) {
      line = "unicode";
      if (s.entry >= 0) line += " @" + std::to_string(s.entry);
      if (s.count >= 0) line += " count " + std::to_string(s.count);
      if (s.id >= 0) line += " id " + std::to_string(s.id);
      if (s.composing >= 0) line += s.composing ? " composing" : " classic";
      if (s.composing < 0 && markComposing_ && !indent.empty()) line += " composing";
    }
    if (!line.empty()) Line(indent + line);
    // The pinned slots, sixteen to a line where they run on.
    std::map<int, char32_t> pins;
    for (const compiler::Pin& p : s.pins) pins[p.byte] = p.value;
    for (auto it = pins.begin(); it != pins.end();) {
      std::string table = indent + "table 0x" + LowerHex(static_cast<unsigned>(it->first), 2);
      int next = it->first;
      for (int i = 0; it != pins.end() && it->first == next && i < 16; ++it, ++next, ++i) {
        table += " " + (IsCharacter(it->second) ? vkl::CharText(it->second) : "U+" + Hex(it->second, 4));
      }
      Line(table);
    }
  }

  void Options() {
    const std::uint16_t bits = static_cast<std::uint16_t>(m_.options | m_.optionBits);
    std::uint16_t rest = static_cast<std::uint16_t>(bits & ~vkl::kNamedOptionMask);
    for (const auto& n : vkl::kOptionNames) {
      if (bits >> n.bit & 1) Line("option " + std::string(n.name));
    }
    for (const auto& l : vkl::kLocks) {
      const bool enforce = bits >> l.enforce & 1, state = bits >> l.state & 1;
      if (enforce) Line("lock " + std::string(l.name) + (state ? " on" : " off"));
      if (!enforce && state) rest = static_cast<std::uint16_t>(rest | 1u << l.state);
    }
    if (rest != 0) Line("option-bits 0x" + LowerHex(rest, 4));
    if (m_.optionBytes[0] != 0 || m_.optionBytes[1] != 0) {
      Line("option-bytes " + LowerHex(m_.optionBytes[0], 2) + " " + LowerHex(m_.optionBytes[1], 2));
    }
    for (int i = 0; i < 3; ++i) {
      const compiler::Hotkey& h = m_.hotkeys[i];
      if (!h.given) continue;
      std::string keys;
      const bool namedMods = (h.mods & ~vkl::kModifierMask) == 0;
      if (h.scan == kModifierOnlyHotkey && h.mods == 0) {
        keys = "none";
      } else if (h.scan == kModifierOnlyHotkey && namedMods) {
        keys = Names(h.mods, vkl::kModifierNames, {}, "+");
      } else if (h.scan <= 0x1FF && namedMods && ModifierBitOf(h.scan) < 0) {
        keys = Names(h.mods, vkl::kModifierNames, {}, "+");
        keys += (keys.empty() ? "" : "+") + KeyNameOfScan(h.scan);
      } else {
        keys = "raw 0x" + LowerHex(h.mods, 4) + " 0x" + LowerHex(h.scan, 4);
      }
      Line("hotkey " + std::string(vkl::kHotkeyNames[i]) + " " + keys);
    }
  }

  void Layout(unsigned n) {
    const LayoutDef& l = m_.layouts[n];
    if (!l.defined) return;
    out_ += "\n";
    Line("layout " + std::to_string(n) + " " + vkl::StringText(l.name) + " {");
    SetChoice set = l.set;
    // A layout of the top's Unicode set says so itself where it must say
    // that it composes.
    if (set.kind == SetChoice::kInherit && markComposing_ && m_.set.kind == SetChoice::kUnicode) {
      set.kind = SetChoice::kUnicode;
    }
    Set(set, "  ");
    for (const std::string& note : l.notes) Line("  #" + (note.empty() ? "" : " " + note));
    if (l.charThenLeft) Line("  char-then-left");
    if (l.claims != 0) Line("  claims " + Names(l.claims, vkl::kModifierNames, vkl::kClaimFlags, " "));
    if (l.rightAsLeft != 0) Line("  right-as-left " + Names(l.rightAsLeft, vkl::kRightAsLeft, {}, " "));
    Charset(l.charset);
    if (!l.badge.empty()) Line("  badge \"" + l.badge + "\"");
    for (const compiler::Bytes& b : l.bytes) {
      std::string line = "  bytes " + std::to_string(b.offset);
      for (const std::uint8_t v : b.values) line += " " + LowerHex(v, 2);
      Line(line);
    }
    if (l.caps != CapsMode::kLetters || l.seen.count("caps")) {
      Line("  caps " + std::string(vkl::kCapsModes[static_cast<int>(l.caps)]));
    }
    Keys(static_cast<int>(n));
    Line("}");
  }

  // `charset`, with runs of three or more characters written as ranges.
  void Charset(const std::vector<Char>& chars) {
    if (chars.empty()) return;
    std::string line = "  charset";
    for (std::size_t i = 0; i < chars.size();) {
      std::size_t j = i;
      while (j + 1 < chars.size() && chars[j + 1].raw == chars[i].raw && chars[j + 1].code == chars[j].code + 1) ++j;
      // A range's ends are single tokens: characters that need no quotes.
      const bool plain = chars[i].raw || (vkl::CharText(chars[i]).find('\'') == std::string::npos &&
                                          vkl::CharText(chars[j]).find('\'') == std::string::npos);
      if (j >= i + 2 && plain) {
        line += " " + vkl::CharText(chars[i]) + ".." + vkl::CharText(chars[j]);
        i = j + 1;
      } else {
        line += " " + vkl::CharText(chars[i]);
        ++i;
      }
    }
    Line(line);
  }

  void Keys(int layout) {
    struct Parts {
      std::string part[5];  // the key, its plain slot, the other slots, Caps Lock, a comment
    };
    std::vector<Parts> lines;
    std::size_t width[5] = {};
    for (const KeyLine& k : m_.keys) {
      if (k.layout != layout) continue;
      Parts p;
      p.part[0] = KeyNameOfScan(k.scan) + (k.record >= 0 ? " @" + std::to_string(k.record) : "");
      std::tie(p.part[1], p.part[2]) = PlaneParts(k.plain);
      if (k.capsExplicit) {
        const auto [plain, others] = PlaneParts(k.caps);
        p.part[3] = "caps: " + (plain.empty() ? "-" : plain) + (others.empty() ? "" : " " + others);
      } else if (k.capsMode) {
        p.part[3] = "caps=" + std::string(vkl::kCapsModes[static_cast<int>(*k.capsMode)]);
      }
      if (!k.note.empty()) p.part[4] = "# " + k.note;
      // A key with nothing on it still needs a cell to be a key of the layout.
      if (k.hasCells && p.part[1].empty()) p.part[1] = "-";
      for (int i = 0; i < 5; ++i) {
        if (Utf8Length(p.part[i]) <= kMaxAlignedWidth) width[i] = std::max(width[i], Utf8Length(p.part[i]));
      }
      lines.push_back(std::move(p));
    }
    if (!lines.empty()) out_ += "\n";
    for (const Parts& p : lines) {
      std::string s = "  key " + Pad(p.part[0], width[0]);
      for (int i = 1; i < 5; ++i) {
        if (width[i] > 0 || !p.part[i].empty()) s += "  " + Pad(p.part[i], width[i]);
      }
      while (s.back() == ' ') s.pop_back();
      Line(s);
    }
  }

  // Key lines outside the layouts: a record named for a key.
  void Mappings() {
    bool first = true;
    for (const KeyLine& k : m_.keys) {
      if (k.layout >= 0) continue;
      if (first) out_ += "\n";
      first = false;
      Line("key " + KeyNameOfScan(k.scan) + (k.record >= 0 ? " @" + std::to_string(k.record) : ""));
    }
  }

  // The dead keys in the order they were declared, each with its rows and
  // the sequences of one key after it. Rows of several dead keys written in
  // turns keep that order, which the 256-row table searches in.
  void DeadKeys() {
    std::vector<std::string> order = m_.deadOrder;
    for (const auto& [name, c] : m_.deadNames) {
      if (std::find(order.begin(), order.end(), name) == order.end()) order.push_back(name);
    }
    std::map<std::string, std::vector<std::string>> pairs;  // name -> pairs of sequences
    for (const Sequence* q : Settled()) {
      if (q->start.kind == ComposeInput::kDead && q->inputs.size() == 1) {
        pairs[q->start.name].push_back(InputText(q->inputs[0]) + " " + ResultText(q->result));
      }
    }
    if (order.empty() && m_.deadRows.empty()) return;
    out_ += "\n";
    // The names in a column of their own, the characters after them.
    std::size_t width = 0;
    for (const std::string& name : order) width = std::max(width, name.size());
    const auto head = [&](const std::string& name, const Char& c) {
      return "deadkey " + Pad(name, width) + "  " + vkl::CharText(c);
    };
    // Where the rows' order would declare the dead keys in another order,
    // they are declared first.
    std::vector<std::string> byRows;
    for (const compiler::DeadRow& r : m_.deadRows) {
      if (!r.name.empty() && std::find(byRows.begin(), byRows.end(), r.name) == byRows.end()) byRows.push_back(r.name);
    }
    std::set<std::string> declared;
    if (!std::equal(byRows.begin(), byRows.end(), order.begin(), order.begin() + static_cast<std::ptrdiff_t>(
                                                                                   std::min(byRows.size(), order.size())))) {
      for (const std::string& name : order) {
        Line(head(name, m_.deadNames.at(name)));
        declared.insert(name);
      }
    }
    const auto rowText = [](const Char& c, bool zero) { return zero ? std::string("-") : vkl::CharText(c); };
    for (std::size_t i = 0; i < m_.deadRows.size();) {
      const compiler::DeadRow& r = m_.deadRows[i];
      if (r.name.empty()) {
        Line("deadrow " + rowText(r.dead, r.deadZero) + " " + rowText(r.base, r.baseZero) + " " +
             rowText(r.result, r.resultZero));
        ++i;
        continue;
      }
      std::string line = head(r.name, m_.deadNames.count(r.name) ? m_.deadNames.at(r.name) : r.dead);
      for (std::size_t n = 0; i < m_.deadRows.size() && m_.deadRows[i].name == r.name && n < kPairsPerLine; ++i, ++n) {
        line += "  " + rowText(m_.deadRows[i].base, m_.deadRows[i].baseZero) + " " +
                rowText(m_.deadRows[i].result, m_.deadRows[i].resultZero);
      }
      declared.insert(r.name);
      Line(line);
    }
    for (const std::string& name : order) {
      const std::vector<std::string>& more = pairs[name];
      if (more.empty() && !declared.count(name)) Line(head(name, m_.deadNames.at(name)));
      for (std::size_t i = 0; i < more.size(); i += kPairsPerLine) {
        std::string line = head(name, m_.deadNames.at(name));
        for (std::size_t j = i; j < more.size() && j < i + kPairsPerLine; ++j) line += "  " + more[j];
        Line(line);
      }
    }
  }

  // The sequences as they stand once later ones have replaced earlier ones
  // of the same keys: the printed file is one file, where that would be an
  // error.
  const std::vector<const Sequence*>& Settled() {
    if (settled_) return settledList_;
    settled_ = true;
    std::vector<Sequence> copy = m_.sequences;
    for (std::size_t i = 0; i < copy.size(); ++i) copy[i].pos.file = static_cast<int>(i);
    Diagnostics ignored;
    compiler::Reporter report(ignored);
    compiler::SettleSequences(copy, report);
    std::set<int> kept;
    for (const Sequence& q : copy) kept.insert(q.pos.file);
    for (std::size_t i = 0; i < m_.sequences.size(); ++i) {
      if (kept.count(static_cast<int>(i))) settledList_.push_back(&m_.sequences[i]);
    }
    return settledList_;
  }

  void Sequences() {
    bool first = true;
    const auto line = [&](const std::string& s) {
      if (first) out_ += "\n";
      first = false;
      Line(s);
    };
    // In their order: the compiler numbers the states of the table so.
    for (const Sequence* q : Settled()) {
      const bool chain = q->start.kind == ComposeInput::kDead;
      if (chain && q->inputs.size() < 2) continue;  // on its deadkey line
      std::string s = chain ? "chain " + InputText(q->start) : "compose";
      for (const ComposeInput& in : q->inputs) s += " " + InputText(in);
      line(s + "   " + ResultText(q->result));
    }
  }

  void Macros() {
    if (m_.macros.empty()) return;
    out_ += "\n";
    for (const compiler::MacroDef& d : m_.macros) {
      Line("macro " + d.name + (d.index >= 0 ? " @" + std::to_string(d.index) : "") + (d.unchecked ? " unchecked" : "") +
           " " + vkl::StringText(d.text));
    }
  }

  // Whether the model's sequences would all come out as plain pairs of
  // deadkey lines, which the compiler keeps in the 256-row table: then the
  // Unicode layouts say that they compose.
  bool NeedsMark() {
    if (m_.sequences.empty()) return false;
    for (const KeyLine& k : m_.keys) {
      for (const Plane* p : {&k.plain, &k.caps}) {
        for (const auto& slot : p->cells) {
          for (const Cell& c : slot) {
            if (c.kind == Cell::kComposeKey) return false;
          }
        }
      }
    }
    for (const Sequence* q : Settled()) {
      const bool plainPair = q->start.kind == ComposeInput::kDead && q->inputs.size() == 1 &&
                             q->inputs[0].kind == ComposeInput::kChar && q->result.dead.empty() &&
                             q->result.text.size() == 1;
      if (!plainPair) return false;
    }
    return true;
  }

  const Model& m_;
  std::string out_;
  bool markComposing_ = false;
  bool settled_ = false;
  std::vector<const Sequence*> settledList_;
};

}  // namespace

std::string PrintModel(const compiler::Model& model) { return Printer(model).Print(); }

}  // namespace velto::layoutkit
