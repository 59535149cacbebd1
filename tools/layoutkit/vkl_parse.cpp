// The keyboard language read into the compiler's model: lines split into
// tokens, statements checked for their form and recorded with the place of
// every character. What the characters become is the builder's business.
#include <algorithm>
#include <cctype>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "layoutkit/badge.h"
#include "layoutkit/codepage.h"
#include "layoutkit/compose_file.h"
#include "layoutkit/scan_names.h"
#include "layoutkit/text.h"
#include "layoutkit/vkb.h"
#include "layoutkit/vkl_model.h"
#include "layoutkit/vkl_syntax.h"

namespace velto::layoutkit::compiler {

namespace {

constexpr int kMaxIncludeDepth = 8;


struct Token {
  std::string text;
  Pos pos;
};

// Names of macros and dead keys. A dead key's name has two characters or
// more, since `dead:X` with one character is the dead key X itself; it may
// hold '+' too (grave+circumflex), which a macro's may not.
bool IsIdentifier(std::string_view s, std::size_t minLength = 2) {
  if (s.size() < minLength || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
  if (s.size() > 1 && (s[0] == 'U' || s[0] == 'u') && s[1] == '+') return false;  // a code point
  return std::all_of(s.begin(), s.end(), [minLength](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || (c == '+' && minLength == 2);
  });
}

class Parser {
 public:
  Parser(Model& model, Reporter& report) : m_(model), report_(report) {}

  void ParseFile(const std::string& path, int depth, const Pos* from) {
    std::vector<std::uint8_t> bytes;
    Diagnostics readDiags;
    report_.diagnostics().NoteFile(path);
    if (!ReadFile(path, bytes, readDiags)) {
      if (from != nullptr) {
        Error(*from, "cannot read included file \"" + path + "\"");
      } else {
        for (const Diagnostic& d : readDiags.all())
          report_.diagnostics().Error(d.file, d.line, d.column, d.message);
      }
      return;
    }
    ParseText(std::string(bytes.begin(), bytes.end()), path, depth);
  }

  void ParseText(std::string_view text, const std::string& path, int depth) {
    const int file = report_.AddFile(path);
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::size_t start = 0;
    int line = 0;
    while (start <= text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      std::string_view l = text.substr(start, end - start);
      if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
      ++line;
      std::vector<Token> tokens;
      if (Tokenize(l, {file, line, 0}, tokens) && !tokens.empty()) Statement(tokens, path, depth);
      if (end == text.size()) break;
      start = end + 1;
    }
    if (layout_ >= 0 && depth == 0) {
      Error(layoutOpen_, "layout " + std::to_string(layout_) + " is not closed: a line \"}\" is missing");
      layout_ = -1;
    }
  }

 private:
  void Error(const Pos& p, const std::string& message) { report_.Error(p, message); }
  void Warning(const Pos& p, const std::string& message) { report_.Warning(p, message); }

  // Splits a line into tokens at white space. A '#' that starts a token
  // starts a comment. 'x' is a quoted character and "..." a string (which
  // must close on the same line), both with backslash escapes; either may
  // follow a prefix ("dead:' '"). A quote that opens nothing stands for itself.
  bool Tokenize(std::string_view line, Pos at, std::vector<Token>& out) {
    std::size_t i = 0;
    int column = 1;
    auto advance = [&]() {
      NextUtf8(line, i);
      ++column;
    };
    while (i < line.size()) {
      if (line[i] == ' ' || line[i] == '\t') {
        advance();
        continue;
      }
      if (line[i] == '#') break;
      Token t{"", {at.file, at.line, column}};
      const std::size_t begin = i;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
        const std::size_t close = QuoteEnd(line, i);
        if (close == 0) {
          advance();
          continue;
        }
        while (i < close) advance();
      }
      t.text = std::string(line.substr(begin, i - begin));
      out.push_back(std::move(t));
    }
    return true;
  }

  // Where the quoted section starting at `i` ends (past its closing quote),
  // or 0 when the character at `i` opens none.
  static std::size_t QuoteEnd(std::string_view line, std::size_t i) {
    if (line[i] == '\'') {
      std::size_t j = i + 1;
      if (j >= line.size()) return 0;
      if (line[j] == '\\') {
        ++j;
        if (j < line.size() && line[j] == 'x') j += 2;
        ++j;
      } else {
        NextUtf8(line, j);
      }
      return j < line.size() && line[j] == '\'' ? j + 1 : 0;
    }
    if (line[i] != '"') return 0;
    for (std::size_t j = i + 1; j < line.size(); ++j) {
      if (line[j] == '\\') {
        ++j;
      } else if (line[j] == '"') {
        return j + 1;
      }
    }
    return 0;
  }

  // --- Statements --------------------------------------------------------

  void Statement(std::vector<Token>& t, const std::string& path, int depth) {
    const std::string word = Lower(t[0].text);
    if (word == "}") {
      if (layout_ < 0) return Error(t[0].pos, "\"}\" without a layout block to close");
      if (t.size() > 1) return Error(t[1].pos, "nothing may follow \"}\" on its line");
      layout_ = -1;
      return;
    }
    if (word == "key") return Key(t);
    if (layout_ >= 0) return LayoutStatement(word, t);
    if (word == "include") return Include(t, path, depth);
    if (word == "codepage" || word == "unicode") return SetStatement(t, m_.set, m_.seen, false);
    if (word == "table") return Table(t, m_.set);
    if (word == "option") return Option(t);
    if (word == "option-bits") return OptionBits(t);
    if (word == "option-bytes") return OptionBytes(t);
    if (word == "lock") return Lock(t);
    if (word == "hotkey") return HotkeyStatement(t);
    if (word == "layout") return LayoutOpen(t);
    if (word == "deadkey") return DeadKey(t);
    if (word == "deadrow") return DeadRowStatement(t);
    if (word == "chain") return Chain(t);
    if (word == "compose") return Compose(t, path);
    if (word == "composition-bytes") return CompositionBytes(t);
    if (word == "macro") return Macro(t);
    Error(t[0].pos, "unknown statement \"" + t[0].text + "\"");
  }

  bool Arity(const std::vector<Token>& t, std::size_t min, std::size_t max, const char* usage) {
    if (t.size() < min) {
      Error(t.back().pos, std::string("incomplete statement; usage: ") + usage);
      return false;
    }
    if (t.size() > max) {
      Error(t[max].pos, std::string("unexpected \"") + t[max].text + "\"; usage: " + usage);
      return false;
    }
    return true;
  }

  bool Once(std::set<std::string>& seen, const std::string& what, const Token& at) {
    if (seen.insert(what).second) return true;
    Error(at.pos, "duplicate definition of " + what);
    return false;
  }

  void Include(const std::vector<Token>& t, const std::string& path, int depth) {
    if (!Arity(t, 2, 2, "include \"FILE\"")) return;
    std::string name;
    if (!String(t[1], name)) return;
    if (depth >= kMaxIncludeDepth) return Error(t[1].pos, "includes nest too deep (a file including itself?)");
    std::string dir;
    const std::size_t slash = path.find_last_of("/\\");
    if (slash != std::string::npos) dir = path.substr(0, slash + 1);
    const bool absolute = !name.empty() && (name[0] == '/' || name[0] == '\\');
    ParseFile(absolute ? name : dir + name, depth + 1, &t[1].pos);
  }

  // codepage N [ansi] | unicode [@ENTRY] [count N] [id N]
  void SetStatement(const std::vector<Token>& t, SetChoice& set, std::set<std::string>& seen, bool inLayout) {
    if (Lower(t[0].text) == "codepage") {
      if (!Arity(t, 2, 3, "codepage NUMBER (874, 1250..1258) [ansi]") || !Once(seen, "the character set", t[0])) return;
      const auto n = ParseNumber(t[1].text);
      if (!n || !IsSupportedCodePage(static_cast<int>(*n))) {
        return Error(t[1].pos, "unknown code page \"" + t[1].text + "\"; use 874 or 1250 to 1258");
      }
      if (t.size() == 3 && Lower(t[2].text) != "ansi") {
        return Error(t[2].pos, "expected \"ansi\" (the bytes posted as ANSI characters) or nothing");
      }
      set.kind = t.size() == 3 ? SetChoice::kAnsi : SetChoice::kCodePage;
      set.codePage = static_cast<int>(*n);
      set.pos = t[0].pos;
      return;
    }
    if (!Arity(t, 1, 7, "unicode [@ENTRY] [count N] [id N] [composing|classic]") || !Once(seen, "the character set", t[0])) return;
    set.kind = SetChoice::kUnicode;
    set.pos = t[0].pos;
    for (std::size_t i = 1; i < t.size(); ++i) {
      if (!inLayout) {
        return Error(t[i].pos, "@ENTRY, count, id, composing and classic belong to a layout's own set, in its block");
      }
      const std::string w = Lower(t[i].text);
      if ((w == "composing" || w == "classic") && set.composing < 0) {
        set.composing = w == "composing";
        continue;
      }
      if (w.size() > 1 && w[0] == '@' && set.entry < 0) {
        const auto n = ParseNumber(w.substr(1));
        if (!n || *n > kLastUnicodeTableEntry) {
          return Error(t[i].pos, "a table starts at macro entry @0 to @253 (it takes three)");
        }
        set.entry = static_cast<int>(*n);
        continue;
      }
      int* field = w == "count" && set.count < 0 ? &set.count : w == "id" && set.id < 0 ? &set.id : nullptr;
      if (field == nullptr || i + 1 == t.size()) {
        return Error(t[i].pos, "unexpected \"" + t[i].text +
                                   "\"; usage: unicode [@ENTRY] [count N] [id N] [composing|classic]");
      }
      const auto n = ParseNumber(t[++i].text);
      if (!n || *n > 0xFFFF) return Error(t[i].pos, w + " is a 16-bit number");
      *field = static_cast<int>(*n);
    }
  }

  // table BYTE CHAR...: byte BYTE of a Unicode set stands for the first
  // character, the next byte for the next, and so on.
  void Table(const std::vector<Token>& t, SetChoice& set) {
    if (!Arity(t, 3, 258, "table BYTE CHAR...")) return;
    const auto first = ParseNumber(t[1].text);
    if (!first || *first > 255) return Error(t[1].pos, "a table's byte is 0x00 to 0xff");
    if (*first + (t.size() - 2) > 256) return Error(t[1].pos, "this line runs past byte 0xff of the table");
    if (set.pins.empty()) set.tablePos = t[0].pos;
    for (std::size_t i = 2; i < t.size(); ++i) {
      const int byte = static_cast<int>(*first + i - 2);
      char32_t value = 0;
      const std::string& w = t[i].text;
      if (w.size() > 2 && (w[0] == 'U' || w[0] == 'u') && w[1] == '+') {
        // Any value a slot can hold, also one that is no character.
        const auto v = ParseNumber("0x" + w.substr(2));
        if (!v || *v > 0xFFFFFF) return Error(t[i].pos, "\"" + w + "\" is not a code point (U+0 to U+FFFFFF)");
        value = static_cast<char32_t>(*v);
      } else if (const auto c = CharOf(t[i])) {
        if (c->raw) return Error(t[i].pos, "a table holds characters, not raw bytes");
        value = c->code;
      } else {
        return;
      }
      for (const Pin& p : set.pins) {
        if (p.byte == byte) {
          return Error(t[i].pos, "byte 0x" + Hex(static_cast<unsigned>(byte), 2) + " of the table is given twice");
        }
      }
      set.pins.push_back({byte, value, t[i].pos});
    }
  }

  void Option(const std::vector<Token>& t) {
    if (!Arity(t, 2, 2, "option NAME")) return;
    for (const auto& o : vkl::kOptionNames) {
      if (Lower(t[1].text) == o.name) {
        if (Once(m_.seen, "option " + std::string(o.name), t[1])) m_.options |= 1u << o.bit;
        return;
      }
    }
    Error(t[1].pos, "unknown option \"" + t[1].text +
                        "\"; the options are caps-switches-layout, numpad-without-numlock, "
                        "scroll-lock-shows-layout");
  }

  void OptionBits(const std::vector<Token>& t) {
    if (!Arity(t, 2, 2, "option-bits NUMBER") || !Once(m_.seen, "option-bits", t[0])) return;
    const auto n = ParseNumber(t[1].text);
    if (!n || *n > 0xFFFF) return Error(t[1].pos, "option-bits takes a 16-bit number");
    m_.optionBits = static_cast<std::uint16_t>(*n);
  }

  void OptionBytes(const std::vector<Token>& t) {
    if (!Arity(t, 3, 3, "option-bytes HH HH") || !Once(m_.seen, "option-bytes", t[0])) return;
    for (int i = 0; i < 2; ++i) {
      const auto b = HexByte(t[static_cast<std::size_t>(i + 1)]);
      if (b) m_.optionBytes[i] = *b;
    }
  }

  void Lock(const std::vector<Token>& t) {
    if (!Arity(t, 3, 3, "lock numlock|capslock|scrolllock on|off|keep")) return;
    for (const auto& l : vkl::kLocks) {
      if (Lower(t[1].text) != l.name) continue;
      if (!Once(m_.seen, "lock " + std::string(l.name), t[1])) return;
      const std::string state = Lower(t[2].text);
      if (state == "on") {
        m_.options |= 1u << l.state | 1u << l.enforce;
      } else if (state == "off") {
        m_.options |= 1u << l.enforce;
      } else if (state != "keep") {
        Error(t[2].pos, "a lock state is on, off or keep, not \"" + t[2].text + "\"");
      }
      return;
    }
    Error(t[1].pos, "unknown lock key \"" + t[1].text + "\"; use numlock, capslock or scrolllock");
  }

  void HotkeyStatement(const std::vector<Token>& t) {
    if (!Arity(t, 3, 5, "hotkey toggle|enable|disable KEYS | none | raw MASK SCAN")) return;
    int which = -1;
    for (int i = 0; i < 3; ++i) {
      if (Lower(t[1].text) == vkl::kHotkeyNames[i]) which = i;
    }
    if (which < 0) return Error(t[1].pos, "unknown hotkey \"" + t[1].text + "\"; use toggle, enable or disable");
    if (!Once(m_.seen, "hotkey " + std::string(vkl::kHotkeyNames[which]), t[1])) return;
    Hotkey& h = m_.hotkeys[which];
    h.given = true;
    const std::string form = Lower(t[2].text);
    if (form == "raw") {
      if (!Arity(t, 5, 5, "hotkey NAME raw MASK SCAN")) return;
      const auto mask = ParseNumber(t[3].text);
      const auto scan = ParseNumber(t[4].text);
      if (!mask || *mask > 0xFFFF) return Error(t[3].pos, "the mask is a 16-bit number");
      if (!scan || *scan > 0xFFFF) return Error(t[4].pos, "the scan code word is a 16-bit number");
      h.mods = static_cast<std::uint16_t>(*mask);
      h.scan = static_cast<std::uint16_t>(*scan);
      const bool chord = h.scan == kModifierOnlyHotkey;
      if ((h.mods & ~vkl::kModifierMask) != 0 || (!chord && h.scan > 0x1FF) || (chord && h.mods == 0)) {
        Warning(t[2].pos, "this hotkey can never match");
      } else if (h.scan == 0) {
        Warning(t[4].pos, "a hotkey on scan code 0 matches the keys sent while a macro plays");
      }
      return;
    }
    if (!Arity(t, 3, 3, "hotkey NAME KEYS")) return;
    if (form == "none") return;
    Keys(t[2], h);
  }

  // MOD+...+KEY, or modifiers alone for a chord.
  void Keys(const Token& token, Hotkey& h) {
    std::uint16_t mods = 0;
    std::optional<std::uint16_t> key;
    std::size_t start = 0;
    const std::string& s = token.text;
    while (start <= s.size()) {
      std::size_t plus = s.find('+', start);
      if (plus == std::string::npos) plus = s.size();
      const std::string part = s.substr(start, plus - start);
      Pos p = token.pos;
      p.column += static_cast<int>(start);
      const auto scan = ScanOfKeyName(part);
      if (!scan) {
        if (part.size() > 3 && Lower(part.substr(0, 3)) == "sc:") {
          return Error(p, "scan code \"" + part + "\" is above 0x1ff: the hotkey could never match");
        }
        return Error(p, "unknown key name \"" + part + "\"");
      }
      const int bit = ModifierBitOf(*scan);
      if (bit >= 0 && plus != s.size()) {
        mods = static_cast<std::uint16_t>(mods | 1u << bit);
      } else if (bit >= 0 && !key) {
        mods = static_cast<std::uint16_t>(mods | 1u << bit);
      } else if (key || plus != s.size()) {
        return Error(p, "a hotkey has one key besides its modifiers, and it comes last");
      } else {
        key = *scan;
      }
      start = plus + 1;
    }
    h.mods = mods;
    h.scan = key ? *key : kModifierOnlyHotkey;
    if (key && *key == 0) Warning(token.pos, "a hotkey on scan code 0 matches the keys sent while a macro plays");
  }

  void LayoutOpen(const std::vector<Token>& t) {
    if (!Arity(t, 3, 4, "layout N [\"NAME\"] {")) return;
    if (t.back().text != "{") return Error(t.back().pos, "a layout block opens with \"{\" at the end of the line");
    const auto n = ParseNumber(t[1].text);
    if (!n || *n >= kLayouts) return Error(t[1].pos, "the layout number is 0, 1, 2 or 3");
    LayoutDef& l = m_.layouts[*n];
    layout_ = static_cast<int>(*n);
    layoutOpen_ = t[0].pos;
    if (l.defined) Error(t[0].pos, "duplicate definition of layout " + std::to_string(*n));
    l = LayoutDef{};
    l.defined = true;
    l.pos = t[0].pos;
    if (t.size() == 4) {
      l.namePos = t[2].pos;
      if (t[2].text.empty() || t[2].text[0] != '"') return Error(t[2].pos, "the layout name is a \"string\"");
      StringChars(t[2], l.name);
    }
  }

  void LayoutStatement(const std::string& word, const std::vector<Token>& t) {
    LayoutDef& l = m_.layouts[layout_];
    if (word == "codepage" || word == "unicode") return SetStatement(t, l.set, l.seen, true);
    if (word == "table") return Table(t, l.set);
    if (word == "char-then-left") {
      if (Arity(t, 1, 1, "char-then-left") && Once(l.seen, "char-then-left", t[0])) l.charThenLeft = true;
      return;
    }
    if (word == "claims") {
      if (Arity(t, 2, 99, "claims MODIFIER...") && Once(l.seen, "claims", t[0])) {
        l.claims = Bits(t, vkl::kModifierNames, vkl::kClaimFlags, "a modifier or win-hotkeys or apps-key");
      }
      return;
    }
    if (word == "right-as-left") {
      if (Arity(t, 2, 99, "right-as-left ctrl alt win shift") && Once(l.seen, "right-as-left", t[0])) {
        l.rightAsLeft = Bits(t, vkl::kRightAsLeft, {}, "ctrl, alt, win or shift");
      }
      return;
    }
    if (word == "charset") {
      if (Arity(t, 2, 9999, "charset CHAR...") && Once(l.seen, "charset", t[0])) Charset(t, l);
      return;
    }
    if (word == "bytes") return RecordBytes(t, l);
    if (word == "badge") return Badge(t, l);
    if (word == "caps") {
      if (!Arity(t, 2, 2, "caps letters|same|shift|altgr|shift+altgr|none") || !Once(l.seen, "caps", t[0])) return;
      if (auto mode = Mode(t[1])) l.caps = *mode;
      return;
    }
    Error(t[0].pos, "unknown statement \"" + t[0].text + "\" in a layout block");
  }

  std::uint16_t Bits(const std::vector<Token>& t, std::span<const vkl::NamedBit> names,
                     std::span<const vkl::NamedBit> more, const char* what) {
    std::uint16_t bits = 0;
    for (std::size_t i = 1; i < t.size(); ++i) {
      const std::string w = Lower(t[i].text);
      bool found = false;
      for (const auto& n : names) found = found || (w == n.name && (bits |= 1u << n.bit, true));
      for (const auto& n : more) found = found || (w == n.name && (bits |= 1u << n.bit, true));
      if (!found && w.size() > 2 && w[0] == '0' && w[1] == 'x') {
        const auto v = ParseNumber(w);
        if (v && *v <= 0xFFFF) bits = static_cast<std::uint16_t>(bits | *v), found = true;
      }
      if (!found) Error(t[i].pos, "\"" + t[i].text + "\" is not " + what);
    }
    return bits;
  }

  std::optional<CapsMode> Mode(const Token& t) {
    const std::string w = Lower(t.text);
    for (std::size_t i = 0; i < std::size(vkl::kCapsModes); ++i) {
      if (w == vkl::kCapsModes[i]) return static_cast<CapsMode>(i);
    }
    Error(t.pos, "unknown Caps Lock mode \"" + t.text + "\"; use letters, same, shift, altgr, shift+altgr or none");
    return std::nullopt;
  }

  void Charset(const std::vector<Token>& t, LayoutDef& l) {
    for (std::size_t i = 1; i < t.size(); ++i) {
      const std::string& s = t[i].text;
      const std::size_t dots = s.find("..", 1);
      if (dots != std::string::npos && s.size() > 1) {
        Token a{s.substr(0, dots), t[i].pos}, b{s.substr(dots + 2), t[i].pos};
        b.pos.column += static_cast<int>(dots + 2);
        const auto from = CharOf(a), to = CharOf(b);
        if (!from || !to) continue;
        if (from->raw != to->raw || from->code > to->code) {
          Error(t[i].pos, "a range runs from a lower to a higher character of the same kind");
          continue;
        }
        for (char32_t c = from->code; c <= to->code; ++c) l.charset.push_back({from->raw, c, t[i].pos});
      } else if (const auto c = CharOf(t[i])) {
        l.charset.push_back(*c);
      }
    }
  }

  void RecordBytes(const std::vector<Token>& t, LayoutDef& l) {
    if (!Arity(t, 3, 40, "bytes OFFSET HH...")) return;
    const auto offset = ParseNumber(t[1].text);
    const std::size_t count = t.size() - 2;
    if (!offset || *offset < vkl::kRecordBytesFirst || *offset + count > vkl::kRecordBytesLast + 1) {
      return Error(t[1].pos, "raw bytes go at offsets 6 to 37 of the layout record");
    }
    if (!l.badge.empty() && OverBadge(static_cast<int>(*offset), count)) {
      return Error(t[1].pos, "these bytes write over the badge of line " + std::to_string(l.badgePos.line) +
                                 ", which takes bytes 32 to 37 of the record");
    }
    Bytes b{static_cast<int>(*offset), {}, t[1].pos};
    for (std::size_t i = 2; i < t.size(); ++i) {
      if (const auto v = HexByte(t[i])) b.values.push_back(*v);
    }
    l.bytes.push_back(std::move(b));
  }

  static bool OverBadge(int offset, std::size_t count) {
    const int last = offset + static_cast<int>(count) - 1;
    return offset < static_cast<int>(kBadgeOffset + kBadgeBytes) && last >= static_cast<int>(kBadgeOffset);
  }

  // badge "TEXT": 1 to 3 letters or digits, six bytes at most in UTF-8.
  void Badge(const std::vector<Token>& t, LayoutDef& l) {
    if (!Arity(t, 2, 2, "badge \"TEXT\"") || !Once(l.seen, "badge", t[0])) return;
    std::vector<Char> chars;
    if (!StringChars(t[1], chars)) return;
    std::string text;
    for (const Char& c : chars) {
      if (c.raw) return Error(c.pos, "a badge is made of characters, not raw bytes");
      if (!IsLetterOrDigit(c.code)) {
        return Error(c.pos, "a badge is made of letters and digits; " + CodePoint(c.code) + " is neither");
      }
      AppendUtf8(text, c.code);
    }
    if (chars.empty() || chars.size() > kBadgeChars) {
      return Error(t[1].pos, "a badge is 1 to 3 characters; this one has " + std::to_string(chars.size()));
    }
    if (text.size() > kBadgeBytes) {
      return Error(t[1].pos, "a badge is at most 6 bytes in UTF-8 (bytes 32 to 37 of the record); this one takes " +
                                 std::to_string(text.size()));
    }
    for (const Bytes& b : l.bytes) {
      if (OverBadge(b.offset, b.values.size())) {
        return Error(t[0].pos, "the badge takes bytes 32 to 37 of the record, which the bytes of line " +
                                   std::to_string(b.pos.line) + " write");
      }
    }
    l.badge = text;
    l.badgePos = t[0].pos;
  }

  std::optional<std::uint8_t> HexByte(const Token& t) {
    std::string_view s = t.text;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
    const auto v = s.size() == 2 ? ParseNumber("0x" + std::string(s)) : std::nullopt;
    if (!v) {
      Error(t.pos, "\"" + t.text + "\" is not a byte in hex (00 to ff)");
      return std::nullopt;
    }
    return static_cast<std::uint8_t>(*v);
  }

  // --- Keys --------------------------------------------------------------

  void Key(const std::vector<Token>& t) {
    if (!Arity(t, 2, 999, "key NAME [@RECORD] CELLS [SLOT: CELLS]... [caps=MODE | caps: CELLS...]")) return;
    const auto scan = ScanOfKeyName(t[1].text);
    if (!scan) return Error(t[1].pos, "unknown key name \"" + t[1].text + "\"");
    KeyLine k;
    k.scan = *scan;
    k.pos = t[1].pos;
    k.layout = layout_;
    std::size_t i = 2;
    if (i < t.size() && t[i].text.size() > 1 && t[i].text[0] == '@') {
      const auto n = ParseNumber(t[i].text.substr(1));
      if (!n || *n > 255) return Error(t[i].pos, "a record number is @0 to @255");
      k.record = static_cast<int>(*n);
      ++i;
    }
    Plane* plane = &k.plain;
    int slot = 0, column = 0;
    bool inCaps = false;
    for (; i < t.size(); ++i) {
      const std::string w = Lower(t[i].text);
      if (w.size() > 5 && w.substr(0, 5) == "caps=") {
        if (inCaps || k.capsMode) return Error(t[i].pos, "the Caps Lock plane is given twice");
        Token mode{t[i].text.substr(5), t[i].pos};
        mode.pos.column += 5;
        if (!(k.capsMode = Mode(mode))) return;
        continue;
      }
      if (w.size() > 1 && w.back() == ':' && w.find(':') == w.size() - 1) {
        const std::string label = w.substr(0, w.size() - 1);
        if (label == "caps") {
          if (inCaps || k.capsMode) return Error(t[i].pos, "the Caps Lock plane is given twice");
          inCaps = true;
          k.capsExplicit = true;
          plane = &k.caps;
          slot = 0, column = 0;
          continue;
        }
        const auto* it = std::find(std::begin(vkl::kSlotLabels), std::end(vkl::kSlotLabels), label);
        if (it == std::end(vkl::kSlotLabels)) {
          return Error(t[i].pos, "unknown slot \"" + t[i].text + "\"; use lctrl: rctrl: lalt: ralt: lwin: rwin: caps:");
        }
        slot = static_cast<int>(it - std::begin(vkl::kSlotLabels));
        column = 0;
        continue;
      }
      if (column == 3) return Error(t[i].pos, "too many cells: a slot has three columns (plain, left Shift, right Shift)");
      Cell c;
      if (!CellOf(t[i], c)) continue;
      plane->cells[slot][column++] = c;
      plane->any = plane->any || c.kind != Cell::kEmpty;
      k.hasCells = true;
      // Two cells: the second serves both Shift columns.
      if (column == 2) plane->cells[slot][2] = c;
    }
    if ((k.hasCells || k.capsExplicit || k.capsMode) && layout_ < 0) {
      return Error(k.pos, "key cells belong in a layout block; outside one a key line only names its record");
    }
    if ((k.hasCells || k.capsExplicit || k.capsMode) && layout_ >= 2) {
      return Error(k.pos, "layouts 2 and 3 have no planes of their own: their keys come from planes 2 and 3");
    }
    m_.keys.push_back(std::move(k));
  }

  bool CellOf(const Token& t, Cell& c) {
    c.pos = t.pos;
    const std::string& s = t.text;
    if (s == "-") return true;
    if (Lower(s) == "compose") {
      c.kind = Cell::kComposeKey;
      return true;
    }
    auto rest = [&](std::size_t n) {
      Token r{s.substr(n), t.pos};
      r.pos.column += static_cast<int>(n);
      return r;
    };
    const std::string w = Lower(s.substr(0, std::min<std::size_t>(s.size(), 11)));
    if (w.rfind("dead+macro:", 0) == 0 || w.rfind("macro:", 0) == 0) {
      const std::size_t n = w[0] == 'd' ? 11 : 6;
      c.kind = Cell::kMacro;
      c.deadToo = n == 11;
      c.name = s.substr(n);
      if (c.name.size() > 1 && c.name[0] == '@') {  // by number, whatever the entry holds
        const auto index = ParseNumber(c.name.substr(1));
        if (!index || *index > 255) {
          Error(rest(n).pos, "a macro number is @0 to @255");
          return false;
        }
        c.macroIndex = static_cast<int>(*index);
        return true;
      }
      if (!IsIdentifier(c.name, 1)) {
        Error(rest(n).pos, "a macro name is made of letters, digits, '_' and '-', starting with a letter");
        return false;
      }
      return true;
    }
    if (w.rfind("dead:", 0) == 0) {
      const Token r = rest(5);
      if (IsIdentifier(r.text)) {
        c.kind = Cell::kDeadNamed;
        c.name = r.text;
        return true;
      }
      const auto ch = CharOf(r);
      if (!ch) return false;
      c.kind = Cell::kDead;
      c.ch = *ch;
      return true;
    }
    const auto ch = CharOf(t);
    if (!ch) return false;
    c.kind = Cell::kChar;
    c.ch = *ch;
    return true;
  }

  // One character: itself, 'c' (quoted, with escapes), U+XXXX, or 0xNN (a raw byte).
  std::optional<Char> CharOf(const Token& t) {
    const std::string& s = t.text;
    if ((s.size() > 2 && (s[0] == 'U' || s[0] == 'u') && s[1] == '+')) {
      const auto v = ParseNumber("0x" + s.substr(2));
      if (!v || *v > 0x10FFFF) return Bad(t, "a bad code point");
      return Char{false, static_cast<char32_t>(*v), t.pos};
    }
    if (s.size() == 4 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
      const auto v = ParseNumber(s);
      if (!v) return Bad(t, "a bad byte");
      return Char{true, static_cast<char32_t>(*v), t.pos};
    }
    if (s.size() >= 3 && s[0] == '\'' && s.back() == '\'') {
      std::vector<Char> chars;
      if (!Unescape(t, chars) || chars.size() != 1) return Bad(t, "not one character");
      return chars[0];
    }
    std::size_t pos = 0;
    const char32_t c = NextUtf8(s, pos);
    if (pos != s.size() || c == 0xFFFD) return Bad(t, "not one character (quote it, or write U+XXXX)");
    return Char{false, c, t.pos};
  }

  std::optional<Char> Bad(const Token& t, const char* what) {
    Error(t.pos, "\"" + t.text + "\" is " + what);
    return std::nullopt;
  }

  bool String(const Token& t, std::string& out) {
    std::vector<Char> chars;
    if (!StringChars(t, chars)) return false;
    out.clear();
    for (const Char& c : chars) AppendUtf8(out, c.code);
    return true;
  }

  bool StringChars(const Token& t, std::vector<Char>& out) {
    if (t.text.size() < 2 || t.text[0] != '"' || t.text.back() != '"') {
      Error(t.pos, "expected a \"string\"");
      return false;
    }
    return Unescape(t, out);
  }

  // The characters between the quotes of a string or character token, with
  // \\ \" \' \n \r \t and \xNN (a raw byte). Each keeps its column.
  bool Unescape(const Token& t, std::vector<Char>& out) {
    const std::string& s = t.text;
    std::size_t i = 1;
    int column = t.pos.column + 1;
    while (i + 1 < s.size()) {
      Pos p{t.pos.file, t.pos.line, column};
      if (s[i] != '\\') {
        out.push_back({false, NextUtf8(s, i), p});
        ++column;
        continue;
      }
      const char e = i + 1 < s.size() - 1 ? s[i + 1] : '\0';
      static constexpr struct {
        char e;
        char32_t c;
      } kEscapes[] = {{'\\', '\\'}, {'"', '"'}, {'\'', '\''}, {'n', '\n'}, {'r', '\r'}, {'t', '\t'}};
      bool done = false;
      for (const auto& k : kEscapes) {
        if (e == k.e) out.push_back({false, k.c, p}), i += 2, column += 2, done = true;
      }
      if (done) continue;
      if (e == 'u' && i + 2 < s.size() && s[i + 2] == '{') {
        const std::size_t close = s.find('}', i + 3);
        const auto v = close == std::string::npos ? std::nullopt : ParseHex(s.substr(i + 3, close - i - 3), 6);
        if (v && IsCharacter(*v)) {
          out.push_back({false, static_cast<char32_t>(*v), p});
          column += static_cast<int>(close + 1 - i);
          i = close + 1;
          continue;
        }
      }
      if (e == 'x' && i + 4 < s.size()) {
        const auto v = ParseNumber("0x" + s.substr(i + 2, 2));
        if (v) {
          out.push_back({true, static_cast<char32_t>(*v), p});
          i += 4, column += 4;
          continue;
        }
      }
      Error(p, "unknown escape; use \\\\ \\\" \\' \\n \\r \\t, \\xNN (a raw byte) or \\u{XXXX} (a character)");
      return false;
    }
    return true;
  }

  // --- Dead keys and macros ----------------------------------------------

  void DeadKey(const std::vector<Token>& t) {
    if (!Arity(t, 3, 9999, "deadkey NAME CHAR [BASE RESULT]...")) return;
    const std::string& name = t[1].text;
    if (!IsIdentifier(name)) {
      return Error(t[1].pos, "a dead key's name has two or more letters, digits, '_', '-' or '+', starting with a letter");
    }
    const auto ch = CharOf(t[2]);
    if (!ch) return;
    const auto known = m_.deadNames.find(name);
    if (known == m_.deadNames.end()) {
      m_.deadNames[name] = *ch;
      m_.deadOrder.push_back(name);
    } else if (known->second.code != ch->code || known->second.raw != ch->raw) {
      return Error(t[2].pos, "dead key " + name + " was given another character before");
    }
    if ((t.size() - 3) % 2 != 0) return Error(t.back().pos, "the base characters and results come in pairs");
    for (std::size_t i = 3; i + 1 < t.size(); i += 2) {
      // A base that is a dead key, or a result that is a text of several
      // characters or a dead key, composes through the table of states.
      if (IsDeadWord(t[i].text) || Lower(t[i].text) == "compose" || IsDeadWord(t[i + 1].text) ||
          IsLongString(t[i + 1].text)) {
        Sequence q;
        q.start = {ComposeInput::kDead, {}, name, t[1].pos};
        q.pos = t[i].pos;
        ComposeInput in;
        ComposeResult result;
        if (!InputOf(t[i], in) || !ResultOf(t[i + 1], result)) continue;
        q.inputs.push_back(std::move(in));
        q.result = std::move(result);
        q.order = m_.nextOrder++;
        m_.sequences.push_back(std::move(q));
        continue;
      }
      DeadRow r;
      r.name = name;
      r.dead = *ch;
      r.pos = t[i].pos;
      if (!RowChar(t[i], r.base, r.baseZero) || !RowResult(t[i + 1], r.result, r.resultZero)) continue;
      r.order = m_.nextOrder++;
      m_.deadRows.push_back(r);
    }
  }

  static bool IsDeadWord(const std::string& s) { return s.size() > 5 && Lower(s.substr(0, 5)) == "dead:"; }

  // A "string" of more than one character (escapes counted as one).
  static bool IsLongString(const std::string& s) {
    if (s.size() < 2 || s[0] != '"' || s.back() != '"') return false;
    std::size_t n = 0;
    for (std::size_t i = 1; i + 1 < s.size(); ++n) {
      if (s[i] == '\\' && i + 2 < s.size()) {
        i += 2;
        continue;
      }
      NextUtf8(s, i);
    }
    return n > 1;
  }

  // A result of a dead-key row: a character, or a "string" of one.
  bool RowResult(const Token& t, Char& c, bool& zero) {
    if (t.text.size() < 2 || t.text[0] != '"') return RowChar(t, c, zero);
    zero = false;
    std::vector<Char> chars;
    if (!StringChars(t, chars)) return false;
    if (chars.size() != 1) {
      Error(t.pos, "a result is one character, a \"string\" of one or more, or dead:NAME");
      return false;
    }
    c = chars[0];
    return true;
  }

  // A key of a composition: a character, or a dead key by name.
  bool InputOf(const Token& t, ComposeInput& in) {
    in = ComposeInput{};
    in.pos = t.pos;
    if (Lower(t.text) == "compose") {
      in.kind = ComposeInput::kComposeKey;
      return true;
    }
    if (IsDeadWord(t.text)) {
      in.kind = ComposeInput::kDead;
      in.name = t.text.substr(5);
      if (!IsIdentifier(in.name)) {
        Error(t.pos, "a dead key in a composition is named: dead:NAME, as its deadkey line declares it");
        return false;
      }
      return true;
    }
    const auto c = CharOf(t);
    if (!c) return false;
    if (c->raw || !IsCharacter(c->code)) {
      Error(t.pos, "the keys of a composition are characters, not raw bytes or U+0000");
      return false;
    }
    in.ch = *c;
    return true;
  }

  // What a composition makes: a character, a "string", or dead:NAME.
  bool ResultOf(const Token& t, ComposeResult& result) {
    result = ComposeResult{};
    result.pos = t.pos;
    if (IsDeadWord(t.text)) {
      result.dead = t.text.substr(5);
      if (IsIdentifier(result.dead)) return true;
      Error(t.pos, "a dead key as a result is named: dead:NAME, as its deadkey line declares it");
      return false;
    }
    if (!t.text.empty() && t.text[0] == '"') {
      if (!StringChars(t, result.text)) return false;
    } else if (const auto c = CharOf(t)) {
      result.text.push_back(*c);
    } else {
      return false;
    }
    for (const Char& c : result.text) {
      if (c.raw || !IsCharacter(c.code)) {
        Error(c.pos, "a composition makes characters, not raw bytes or U+0000");
        return false;
      }
    }
    if (result.text.empty()) Error(t.pos, "a composition makes one character or more");
    return !result.text.empty();
  }

  // chain dead:NAME KEY KEY... RESULT: a dead key, two or more keys after it.
  void Chain(const std::vector<Token>& t) {
    if (!Arity(t, 4, 9999, "chain dead:NAME KEY KEY... RESULT")) return;
    Sequence q;
    q.pos = t[1].pos;
    if (!IsDeadWord(t[1].text)) return Error(t[1].pos, "a chain starts with a dead key: dead:NAME");
    if (!InputOf(t[1], q.start)) return;
    if (t.size() < 5) {
      return Error(t.back().pos, "a chain has a dead key, two keys or more, then the result; one key after a "
                                 "dead key is a pair of its deadkey line");
    }
    AddSequence(t, 2, std::move(q));
  }

  // The keys of a sequence from t[first] on, then its result, last.
  void AddSequence(const std::vector<Token>& t, std::size_t first, Sequence q) {
    for (std::size_t i = first; i + 1 < t.size(); ++i) {
      ComposeInput in;
      if (!InputOf(t[i], in)) return;
      q.inputs.push_back(std::move(in));
    }
    if (!ResultOf(t.back(), q.result)) return;
    q.order = m_.nextOrder++;
    m_.sequences.push_back(std::move(q));
  }

  // compose KEY... RESULT: the keys after the compose key; compose include
  // "FILE" [locale NAME] [compose-key-only]: the sequences of a Compose file.
  void Compose(const std::vector<Token>& t, const std::string& path) {
    if (t.size() >= 2 && Lower(t[1].text) == "include") {
      static constexpr const char* kUsage = "compose include \"FILE\" [locale NAME] [compose-key-only]";
      if (!Arity(t, 3, 6, kUsage)) return;
      std::string name;
      if (!String(t[2], name)) return;
      std::string locale = "en_US.UTF-8";
      bool composeKeyOnly = false;
      for (std::size_t i = 3; i < t.size(); ++i) {
        if (Lower(t[i].text) == "locale" && i + 1 < t.size()) {
          locale = t[++i].text;
        } else if (Lower(t[i].text) == "compose-key-only" && !composeKeyOnly) {
          composeKeyOnly = true;
        } else {
          return Error(t[i].pos, "unexpected \"" + t[i].text + "\"; usage: " + kUsage);
        }
      }
      ComposeIncludePath(name, path);
      if (!ReadComposeFile(name, locale, m_, report_, composeKeyOnly)) {
        Error(t[2].pos, "cannot read Compose file \"" + name + "\"");
      }
      return;
    }
    if (!Arity(t, 3, 9999, "compose KEY... RESULT")) return;
    Sequence q;
    q.pos = t[1].pos;
    q.start = {ComposeInput::kComposeKey, {}, {}, t[0].pos};
    AddSequence(t, 1, std::move(q));
  }

  // A Compose file named in a .vkl: %H is $HOME, %L the locale's system
  // file (the reader knows it), %S the system's folder, and a name that
  // is neither absolute nor one of those is relative to the .vkl.
  static void ComposeIncludePath(std::string& name, const std::string& path) {
    if (name.empty() || name[0] == '/' || name[0] == '\\' || name[0] == '%' ||
        (name.size() > 1 && name[1] == ':')) {
      return;
    }
    const std::size_t slash = path.find_last_of("/\\");
    if (slash != std::string::npos) name = path.substr(0, slash + 1) + name;
  }

  // composition-bytes OFFSET HEX: the composition table as it stands.
  void CompositionBytes(const std::vector<Token>& t) {
    if (!Arity(t, 3, 3, "composition-bytes OFFSET HEXDIGITS")) return;
    const auto offset = ParseNumber(t[1].text);
    if (!offset || *offset != m_.rawCompositions.size()) {
      return Error(t[1].pos, "composition-bytes lines run on without a gap: this one starts at " +
                                 std::to_string(m_.rawCompositions.size()));
    }
    const std::string& hex = t[2].text;
    if (hex.size() % 2 != 0) return Error(t[2].pos, "an even number of hex digits: two for each byte");
    if (m_.rawCompositions.empty()) m_.rawCompositionsPos = t[0].pos;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
      const auto b = ParseHex(hex.substr(i, 2), 2);
      if (!b) return Error(t[2].pos, "\"" + hex.substr(i, 2) + "\" is not a byte in hex");
      m_.rawCompositions.push_back(static_cast<std::uint8_t>(*b));
    }
  }

  void DeadRowStatement(const std::vector<Token>& t) {
    if (!Arity(t, 4, 4, "deadrow DEAD BASE RESULT")) return;
    DeadRow r;
    r.pos = t[1].pos;
    if (RowChar(t[1], r.dead, r.deadZero) && RowChar(t[2], r.base, r.baseZero) &&
        RowChar(t[3], r.result, r.resultZero)) {
      r.order = m_.nextOrder++;
      m_.deadRows.push_back(r);
    }
  }

  bool RowChar(const Token& t, Char& c, bool& zero) {
    zero = t.text == "-";
    if (zero) return true;
    const auto ch = CharOf(t);
    if (ch) c = *ch;
    return ch.has_value();
  }

  void Macro(const std::vector<Token>& t) {
    if (!Arity(t, 3, 5, "macro NAME [@INDEX] [unchecked] \"TEXT\"")) return;
    MacroDef d;
    d.name = t[1].text;
    d.pos = t[1].pos;
    if (!IsIdentifier(d.name, 1)) {
      return Error(t[1].pos, "a macro name is made of letters, digits, '_' and '-', starting with a letter");
    }
    for (std::size_t i = 2; i + 1 < t.size(); ++i) {
      if (Lower(t[i].text) == "unchecked" && !d.unchecked) {
        d.unchecked = true;
        continue;
      }
      const auto n = t[i].text.size() > 1 && t[i].text[0] == '@' ? ParseNumber(t[i].text.substr(1)) : std::nullopt;
      if (!n || *n > 255 || d.index >= 0) return Error(t[i].pos, "expected @INDEX (0 to 255), unchecked or the text");
      d.index = static_cast<int>(*n);
    }
    if (!StringChars(t.back(), d.text)) return;
    for (const MacroDef& other : m_.macros) {
      if (other.name == d.name) {
        return Error(t[1].pos, "duplicate definition of macro " + d.name + " (first at line " +
                                   std::to_string(other.pos.line) + ")");
      }
    }
    m_.macros.push_back(std::move(d));
  }

  Model& m_;
  Reporter& report_;
  int layout_ = -1;
  Pos layoutOpen_;
};

}  // namespace

void ParseVklFile(const std::string& path, Model& model, Reporter& report) {
  Parser(model, report).ParseFile(path, 0, nullptr);
}

void ParseVklText(std::string_view text, const std::string& fileName, Model& model, Reporter& report) {
  Parser(model, report).ParseText(text, fileName, 0);
}

}  // namespace velto::layoutkit::compiler
