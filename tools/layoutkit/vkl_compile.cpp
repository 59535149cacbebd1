// The compiler of the keyboard language. It reads statements into a small
// model that still holds Unicode characters (parse), then encodes that
// model into the five blocks (build). Every error is reported, and the
// description is only written when there is none.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <tuple>
#include <vector>

#include "delivery/macro.h"
#include "layoutkit/codepage.h"
#include "layoutkit/keys.h"
#include "layoutkit/vkb.h"
#include "layoutkit/vkl.h"
#include "layoutkit/vkl_syntax.h"
#include "shared/charset.h"

namespace velto::layoutkit {

namespace {

using vkl::CapsMode;

constexpr int kMaxIncludeDepth = 8;
constexpr std::size_t kMaxMacroLength = 255;

struct Pos {
  int file = 0;  // index into Parser::files_
  int line = 0;
  int column = 0;
};

struct Token {
  std::string text;
  Pos pos;
};

// A character as written: a Unicode character (to be encoded in a code
// page), or a raw byte (0xNN) that is stored as it stands.
struct Char {
  bool raw = false;
  char32_t code = 0;
  Pos pos;
};

struct Cell {
  enum Kind { kEmpty, kChar, kDead, kDeadNamed, kMacro } kind = kEmpty;
  Char ch;           // kChar, kDead
  std::string name;  // kDeadNamed, kMacro
  bool deadToo = false;  // dead+macro:NAME
  int macroIndex = -1;   // macro:@N
  Pos pos;
};

struct Plane {
  Cell cells[kSlotsPerKey][3];
  bool any = false;
};

struct KeyLine {
  std::uint16_t scan = 0;
  int record = -1;  // -1: the compiler picks
  Pos pos;
  int layout = -1;  // -1: a mapping line outside any layout
  bool hasCells = false;
  Plane plain;
  bool capsExplicit = false;
  std::optional<CapsMode> capsMode;
  Plane caps;
};

struct Bytes {
  int offset;
  std::vector<std::uint8_t> values;
  Pos pos;  // of the offset
};

// One slot of a Unicode table as `table` gives it.
struct Pin {
  int byte;
  char32_t value;
  Pos pos;
};

// A character set as written: `codepage N [ansi]` or `unicode [@E] [count N]
// [id N]`, with the `table` lines that pin a Unicode table's slots.
struct SetChoice {
  enum Kind { kInherit, kCodePage, kAnsi, kUnicode } kind = kInherit;
  int codePage = 0;
  int entry = -1;  // the first macro entry of the table; -1: the compiler picks
  int count = -1;  // bytes 18..19; -1: the number of characters
  int id = -1;     // bytes 6..7 of a Unicode set; -1: 1200
  std::vector<Pin> pins;
  Pos pos, tablePos;
};

struct LayoutDef {
  bool defined = false;
  Pos pos;
  std::vector<Char> name;
  Pos namePos;
  SetChoice set;  // kInherit: the description's
  bool charThenLeft = false;
  std::uint16_t claims = 0;
  std::uint16_t rightAsLeft = 0;
  std::vector<Char> charset;
  std::vector<Bytes> bytes;
  CapsMode caps = CapsMode::kLetters;
  std::set<std::string> seen;  // statements given once
};

struct MacroDef {
  std::string name;
  int index = -1;
  std::vector<Char> text;
  Pos pos;
  bool used = false;
  bool unchecked = false;  // the chords are stored without being checked
};

struct DeadRow {
  std::string name;  // of the dead key, when declared by name
  Char dead, base, result;
  bool deadZero = false, baseZero = false, resultZero = false;
  Pos pos;
};

struct Hotkey {
  bool given = false;
  std::uint16_t mods = 0;
  std::uint16_t scan = kModifierOnlyHotkey;
};

struct Model {
  SetChoice set;  // of the macros and dead keys, and of layouts that name none
  std::uint16_t options = 0;
  std::uint16_t optionBits = 0;
  std::uint8_t optionBytes[2] = {0, 0};
  Hotkey hotkeys[3];
  LayoutDef layouts[kLayouts];
  std::vector<KeyLine> keys;
  std::vector<MacroDef> macros;
  std::vector<DeadRow> deadRows;
  std::map<std::string, Char> deadNames;
  std::set<std::string> seen;
};

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string Hex(unsigned value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, value);
  return buf;
}

std::string Describe(char32_t c) {
  std::string out = "U+" + Hex(c, 4);
  if (c > 0x20 && c != 0x7F && (c < 0x80 || c >= 0xA0)) {
    out += " '";
    AppendUtf8(out, c);
    out += "'";
  }
  return out;
}

std::optional<unsigned long> ParseNumber(std::string_view s) {
  if (s.empty()) return std::nullopt;
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) base = 16, s.remove_prefix(2);
  unsigned long value = 0;
  for (const char c : s) {
    const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                  : std::isxdigit(static_cast<unsigned char>(c))
                      ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                      : 99;
    if (d >= base || value > 0xFFFFFFFu) return std::nullopt;
    value = value * base + static_cast<unsigned long>(d);
  }
  return value;
}

// Names of macros and dead keys. A dead key's name has two characters or
// more, since `dead:X` with one character is the dead key X itself.
bool IsIdentifier(std::string_view s, std::size_t minLength = 2) {
  if (s.size() < minLength || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
  return std::all_of(s.begin(), s.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
  });
}

class Parser {
 public:
  Parser(Model& model, Diagnostics& diags) : m_(model), diags_(diags) {}

  void ParseFile(const std::string& path, int depth, const Pos* from) {
    std::vector<std::uint8_t> bytes;
    Diagnostics readDiags;
    if (!ReadFile(path, bytes, readDiags)) {
      if (from != nullptr) {
        Error(*from, "cannot read included file \"" + path + "\"");
      } else {
        for (const Diagnostic& d : readDiags.all()) diags_.Error(d.file, d.line, d.column, d.message);
      }
      return;
    }
    ParseText(std::string(bytes.begin(), bytes.end()), path, depth);
  }

  void ParseText(std::string_view text, const std::string& path, int depth) {
    const int file = static_cast<int>(files_.size());
    files_.push_back(path);
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

  const std::vector<std::string>& files() const { return files_; }
  bool HasErrors() const { return diags_.HasErrors(); }

  void Error(const Pos& p, const std::string& message) {
    diags_.Error(files_[static_cast<std::size_t>(p.file)], p.line, p.column, message);
  }
  void Warning(const Pos& p, const std::string& message) {
    diags_.Warning(files_[static_cast<std::size_t>(p.file)], p.line, p.column, message);
  }

 private:
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
    if (!Arity(t, 1, 6, "unicode [@ENTRY] [count N] [id N]") || !Once(seen, "the character set", t[0])) return;
    set.kind = SetChoice::kUnicode;
    set.pos = t[0].pos;
    for (std::size_t i = 1; i < t.size(); ++i) {
      if (!inLayout) return Error(t[i].pos, "@ENTRY, count and id belong to a layout's own set, in its block");
      const std::string w = Lower(t[i].text);
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
        return Error(t[i].pos, "unexpected \"" + t[i].text + "\"; usage: unicode [@ENTRY] [count N] [id N]");
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
    Bytes b{static_cast<int>(*offset), {}, t[1].pos};
    for (std::size_t i = 2; i < t.size(); ++i) {
      if (const auto v = HexByte(t[i])) b.values.push_back(*v);
    }
    l.bytes.push_back(std::move(b));
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
      if (e == 'x' && i + 4 < s.size()) {
        const auto v = ParseNumber("0x" + s.substr(i + 2, 2));
        if (v) {
          out.push_back({true, static_cast<char32_t>(*v), p});
          i += 4, column += 4;
          continue;
        }
      }
      Error(p, "unknown escape; use \\\\ \\\" \\' \\n \\r \\t or \\xNN");
      return false;
    }
    return true;
  }

  // --- Dead keys and macros ----------------------------------------------

  void DeadKey(const std::vector<Token>& t) {
    if (!Arity(t, 3, 9999, "deadkey NAME CHAR [BASE RESULT]...")) return;
    const std::string& name = t[1].text;
    if (!IsIdentifier(name)) return Error(t[1].pos, "a dead key's name has two or more letters, digits, '_' or '-'");
    const auto ch = CharOf(t[2]);
    if (!ch) return;
    const auto known = m_.deadNames.find(name);
    if (known == m_.deadNames.end()) {
      m_.deadNames[name] = *ch;
    } else if (known->second.code != ch->code || known->second.raw != ch->raw) {
      return Error(t[2].pos, "dead key " + name + " was given another character before");
    }
    if ((t.size() - 3) % 2 != 0) return Error(t.back().pos, "the base characters and results come in pairs");
    for (std::size_t i = 3; i + 1 < t.size(); i += 2) {
      DeadRow r;
      r.name = name;
      r.dead = *ch;
      r.pos = t[i].pos;
      if (!RowChar(t[i], r.base, r.baseZero) || !RowChar(t[i + 1], r.result, r.resultZero)) continue;
      m_.deadRows.push_back(r);
    }
  }

  void DeadRowStatement(const std::vector<Token>& t) {
    if (!Arity(t, 4, 4, "deadrow DEAD BASE RESULT")) return;
    DeadRow r;
    r.pos = t[1].pos;
    if (RowChar(t[1], r.dead, r.deadZero) && RowChar(t[2], r.base, r.baseZero) &&
        RowChar(t[3], r.result, r.resultZero)) {
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
  Diagnostics& diags_;
  std::vector<std::string> files_;
  int layout_ = -1;
  Pos layoutOpen_;
};

// --- Build: the model encoded into the five blocks ---------------------------

class Builder {
 public:
  Builder(Model& m, Parser& p, KeyboardDescription& out) : m_(m), p_(p), d_(out) {}

  void Build() {
    Sets();
    Entries();
    Options();
    Macros();
    DeadKeys();
    Records();
    Layouts();
    Tables();
    Uses();
    Warnings();
  }

 private:
  // A character a Unicode set must hold, and where it was written.
  struct Need {
    char32_t c;
    Pos pos;
  };

  static vkl::CharSet SetOf(const SetChoice& choice) {
    if (choice.kind == SetChoice::kUnicode) {
      vkl::CharSet set;
      set.kind = vkl::CharSet::Kind::kUnicode;
      set.codePage = kUnicodeCodePageId;
      return set;
    }
    const auto kind = choice.kind == SetChoice::kAnsi ? vkl::CharSet::Kind::kAnsi : vkl::CharSet::Kind::kCodePage;
    return vkl::CharSet::CodePage(choice.codePage, kind);
  }

  static std::string LayoutName(unsigned n) { return "layout " + std::to_string(n); }

  // Layout 2 or 3 takes the Unicode set of layout 0 or 1 unless it names a
  // table of its own: the library reads their keys from the same planes.
  bool Joins(unsigned n) const {
    if (n < 2) return false;
    const LayoutDef &l = m_.layouts[n], &owner = m_.layouts[n - 2];
    return owner.defined && owner.set.kind == SetChoice::kUnicode && l.set.kind == SetChoice::kUnicode &&
           l.set.pins.empty() && l.set.entry < 0;
  }

  void Sets() {
    if (m_.set.kind == SetChoice::kInherit) m_.set.kind = SetChoice::kCodePage, m_.set.codePage = kDefaultCodePage;
    for (LayoutDef& l : m_.layouts) {
      if (l.set.kind == SetChoice::kInherit) l.set.kind = m_.set.kind, l.set.codePage = m_.set.codePage;
    }
    const auto tableWithoutUnicode = [&](const SetChoice& s) {
      if (!s.pins.empty() && s.kind != SetChoice::kUnicode) {
        p_.Error(s.tablePos, "a table belongs to a Unicode set: say \"unicode\"");
      }
    };
    tableWithoutUnicode(m_.set);
    // The characters of the macros and dead keys come first in every
    // Unicode set, in the same order, so that they get the same bytes.
    std::vector<Need> shared;
    const auto add = [](std::vector<Need>& to, const Char& c) {
      if (!c.raw && c.code != 0) to.push_back({c.code, c.pos});
    };
    for (const DeadRow& r : m_.deadRows) {
      if (!r.deadZero) add(shared, r.dead);
      if (!r.baseZero) add(shared, r.base);
      if (!r.resultZero) add(shared, r.result);
    }
    for (const auto& [name, c] : m_.deadNames) add(shared, c);
    for (const MacroDef& mdef : m_.macros) {
      for (const Char& c : mdef.text) add(shared, c);
    }
    top_ = SetOf(m_.set);
    if (m_.set.kind == SetChoice::kUnicode) Place(top_, m_.set.pins, {}, shared, "the macros and dead keys");
    for (unsigned n = 0; n < kLayouts; ++n) {
      const LayoutDef& l = m_.layouts[n];
      if (!l.defined) continue;
      tableWithoutUnicode(l.set);
      if (Joins(n)) continue;  // set with its owner's below
      sets_[n] = SetOf(l.set);
      if (l.set.kind != SetChoice::kUnicode) continue;
      std::vector<Need> own = LayoutNeeds(n, add);
      std::string what = LayoutName(n);
      if (n < 2 && Joins(n + 2)) {
        for (const Need& c : LayoutNeeds(n + 2, add)) own.push_back(c);
        if (m_.layouts[n + 2].defined) what += " (with layout " + std::to_string(n + 2) + ", which shares its set)";
      }
      Place(sets_[n], l.set.pins, sharedOverflow_ ? std::vector<Need>{} : shared, own, what);
      if (n < 2 && Joins(n + 2)) sets_[n + 2] = sets_[n];
    }
  }

  // A layout's own characters: its keys' (the Caps Lock plane's included)
  // in the order they are written, its charset's, its name's.
  template <typename Add>
  std::vector<Need> LayoutNeeds(unsigned n, const Add& add) const {
    std::vector<Need> needs;
    const LayoutDef& l = m_.layouts[n];
    for (const KeyLine& k : m_.keys) {
      if (k.layout != static_cast<int>(n)) continue;
      const auto plane = [&](const Plane& p, bool otherCase) {
        for (const auto& slot : p.cells) {
          for (const Cell& c : slot) {
            if (c.kind != Cell::kChar && c.kind != Cell::kDead) continue;
            if (!otherCase) {
              add(needs, c.ch);
            } else if (c.kind == Cell::kChar && !c.ch.raw && vkl::OtherCase(c.ch.code) != c.ch.code) {
              needs.push_back({vkl::OtherCase(c.ch.code), c.pos});
            }
          }
        }
      };
      plane(k.plain, false);
      if (k.capsExplicit) {
        plane(k.caps, false);
      } else if (k.capsMode.value_or(l.caps) == CapsMode::kLetters) {
        plane(k.plain, true);
      }
    }
    for (const Char& c : l.charset) add(needs, c);
    for (const Char& c : l.name) add(needs, c);
    return needs;
  }

  // Fills a Unicode table: U+0001..U+007F on their own bytes, the others on
  // free bytes from 0x80 up, then from 0x01 up; `preferred` (the macros'
  // and dead keys') before `own`. With pinned slots the table is closed:
  // only `own` characters of U+0001..U+007F join it, on their own bytes.
  void Place(vkl::CharSet& set, const std::vector<Pin>& pins, const std::vector<Need>& preferred,
             const std::vector<Need>& own, const std::string& what) {
    for (const Pin& p : pins) set.table[p.byte] = p.value;
    const bool closed = !pins.empty();
    std::vector<const Need*> order;
    for (const Need& c : preferred) order.push_back(&c);
    const std::size_t ownFrom = order.size();
    for (const Need& c : own) order.push_back(&c);
    for (std::size_t i = closed ? ownFrom : 0; i < order.size(); ++i) {
      const char32_t c = order[i]->c;
      if (c < 0x80 && set.table[c] == 0 && set.Byte(c) < 0) set.table[c] = c;
    }
    // Bytes 0x80..0xFF, then 0x01..0x7F.
    const auto freeByte = [&set]() {
      for (int i = 0; i < 255; ++i) {
        const int b = i < 128 ? 0x80 + i : i - 127;
        if (set.table[b] == 0) return b;
      }
      return -1;
    };
    std::set<char32_t> missing;
    const Need* first = nullptr;
    for (std::size_t i = 0; i < order.size(); ++i) {
      const Need& c = *order[i];
      if (set.Byte(c.c) >= 0) continue;
      if (closed) {
        if (i >= ownFrom) p_.Error(c.pos, "character " + Describe(c.c) + " is not in the table of " + what);
        continue;
      }
      const int b = freeByte();
      if (b < 0) {
        if (missing.insert(c.c).second && first == nullptr) first = &c;
        continue;
      }
      set.table[b] = c.c;
    }
    if (first != nullptr) {
      p_.Error(first->pos, what + " needs " + std::to_string(Count(set) + static_cast<int>(missing.size())) +
                               " characters; a Unicode set holds at most 255");
      if (&set == &top_) sharedOverflow_ = true;
    }
  }

  static int Count(const vkl::CharSet& set) {
    int n = 0;
    for (int b = 1; b < 256; ++b) n += set.Char(static_cast<std::uint8_t>(b)) != 0;
    return n;
  }

  // The macro entries of the tables: the given ones, then 253..255 for the
  // first distinct table, 250..252 for the next, and so on.
  void Entries() {
    std::set<int> given;
    for (unsigned n = 0; n < kLayouts; ++n) {
      const LayoutDef& l = m_.layouts[n];
      if (l.defined && l.set.kind == SetChoice::kUnicode && l.set.entry >= 0) {
        entry_[n] = l.set.entry;
        for (int e = 0; e < 3; ++e) given.insert(l.set.entry + e);
      }
    }
    int candidate = kLastUnicodeTableEntry;
    for (unsigned n = 0; n < kLayouts; ++n) {
      const LayoutDef& l = m_.layouts[n];
      if (!l.defined || l.set.kind != SetChoice::kUnicode || entry_[n] >= 0) continue;
      if (Joins(n)) {
        entry_[n] = entry_[n - 2];
        continue;
      }
      for (unsigned m = 0; m < n && entry_[n] < 0; ++m) {
        const LayoutDef& o = m_.layouts[m];
        if (o.defined && o.set.kind == SetChoice::kUnicode && o.set.entry < 0 &&
            std::equal(std::begin(sets_[m].table), std::end(sets_[m].table), std::begin(sets_[n].table))) {
          entry_[n] = entry_[m];
        }
      }
      if (entry_[n] >= 0) continue;
      while (candidate >= 0 && (given.count(candidate) || given.count(candidate + 1) || given.count(candidate + 2))) {
        candidate -= 3;
      }
      entry_[n] = candidate;
      candidate -= 3;
    }
    for (unsigned n = 0; n < kLayouts; ++n) {
      for (int e = 0; e < 3 && entry_[n] >= 0; ++e) tableOf_.emplace(entry_[n] + e, n);
    }
  }

  // The byte of a character in a set; raw bytes stand as they are.
  std::optional<std::uint8_t> Encode(const Char& c, const vkl::CharSet& set) {
    if (c.raw) return static_cast<std::uint8_t>(c.code);
    if (c.code == 0) return 0;
    const int b = set.Byte(c.code);
    if (b >= 0) return static_cast<std::uint8_t>(b);
    // A Unicode set lacks a character only where an error said so already.
    if (!set.unicode()) {
      p_.Error(c.pos, "character " + Describe(c.code) + " is not in code page " + std::to_string(set.codePage));
    } else if (!p_.HasErrors()) {
      p_.Error(c.pos, "character " + Describe(c.code) + " is not in its Unicode set");
    }
    return std::nullopt;
  }

  void Options() {
    OptionBlock& o = d_.options;
    o.options = static_cast<std::uint16_t>(m_.options | m_.optionBits);
    std::uint16_t* words[3][2] = {{&o.layoutHotkeyMods, &o.layoutHotkeyScan},
                                  {&o.enableHotkeyMods, &o.enableHotkeyScan},
                                  {&o.disableHotkeyMods, &o.disableHotkeyScan}};
    for (int i = 0; i < 3; ++i) {
      *words[i][0] = m_.hotkeys[i].mods;
      *words[i][1] = m_.hotkeys[i].scan;
    }
    o.reserved = static_cast<std::uint16_t>(m_.optionBytes[0] | m_.optionBytes[1] << 8);
  }

  std::string TableText(int entry) const {
    const int e = tableOf_.at(entry);
    return LayoutName(static_cast<unsigned>(e)) + "'s character table (macro entries " +
           std::to_string(entry_[e]) + " to " + std::to_string(entry_[e] + 2) + ")";
  }

  void Macros() {
    std::set<int> taken;
    for (const MacroDef& mdef : m_.macros) {
      if (mdef.index < 0) continue;
      if (tableOf_.count(mdef.index)) {
        p_.Error(mdef.pos, "macro @" + std::to_string(mdef.index) + " is where " + TableText(mdef.index) + " is kept");
      } else if (!taken.insert(mdef.index).second) {
        p_.Error(mdef.pos, "duplicate definition of macro index @" + std::to_string(mdef.index));
      }
    }
    int next = 1;
    for (MacroDef& mdef : m_.macros) {
      if (mdef.index < 0) {
        while (next < 256 && (taken.count(next) || tableOf_.count(next))) ++next;
        if (next >= 256) {
          p_.Error(mdef.pos, "more than " + std::to_string(255 - tableOf_.size()) + " macros" +
                                 (tableOf_.empty() ? "" : " beside the character tables"));
          continue;
        }
        mdef.index = next;
        taken.insert(next);
      } else if (tableOf_.count(mdef.index)) {
        continue;
      }
      if (mdef.index == 0) p_.Warning(mdef.pos, "macro @0 is never typed: a key's macro number 0 means nothing");
      MacroText(mdef);
    }
  }

  void MacroText(const MacroDef& mdef) {
    std::vector<std::uint8_t> bytes;
    std::vector<Pos> at;
    std::vector<std::pair<std::uint8_t, Char>> chars;
    bool ok = true;
    for (const Char& c : mdef.text) {
      const auto b = Encode(c, top_);
      ok = ok && b.has_value();
      if (b) bytes.push_back(*b), at.push_back(c.pos), chars.emplace_back(*b, c);
    }
    if (!ok) return;
    if (bytes.size() > kMaxMacroLength) {
      p_.Error(mdef.pos, "macro " + mdef.name + " is " + std::to_string(bytes.size()) +
                             " bytes long once encoded; a macro holds at most 255");
      return;
    }
    if (!mdef.unchecked) Chords(bytes, at);
    MacroEntry& e = d_.macros.entries[mdef.index];
    e.length = static_cast<std::uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), e.text);
    macroChars_[mdef.index] = std::move(chars);
  }

  void Chords(const std::vector<std::uint8_t>& text, const std::vector<Pos>& at) {
    for (const vkl::ChordProblem& problem : vkl::CheckChords(text, top_)) {
      p_.Error(at[problem.offset], problem.message);
    }
  }

  void DeadKeys() {
    if (m_.deadRows.size() > kDeadKeyRows) {
      p_.Error(m_.deadRows[kDeadKeyRows].pos, "more than 256 dead-key rows");
    }
    std::map<std::pair<int, int>, int> first;
    for (std::size_t i = 0; i < m_.deadRows.size() && i < kDeadKeyRows; ++i) {
      const DeadRow& r = m_.deadRows[i];
      const auto dead = r.deadZero ? std::optional<std::uint8_t>(0) : Encode(r.dead, top_);
      const auto base = r.baseZero ? std::optional<std::uint8_t>(0) : Encode(r.base, top_);
      const auto result = r.resultZero ? std::optional<std::uint8_t>(0) : Encode(r.result, top_);
      if (!dead || !base || !result) continue;
      d_.deadKeys.rows[i] = {*dead, *base, *result};
      rowWritten_[i] = true;
      if (*dead != 0 && !first.emplace(std::make_pair(*dead, *base), r.pos.line).second) {
        p_.Warning(r.pos, "never used: an earlier row for the same dead key and base character wins");
      }
      if (*dead != 0) deadBytes_.insert(*dead);
    }
  }

  // Gives every key its record, then writes the cells of the layouts.
  void Records() {
    std::map<std::uint16_t, const KeyLine*> explicitOf;
    std::set<int> reserved;
    for (const KeyLine& k : m_.keys) {
      if (k.record < 0) continue;
      reserved.insert(k.record);
      const auto [it, fresh] = explicitOf.emplace(k.scan, &k);
      if (!fresh && it->second->record != k.record) {
        p_.Error(k.pos, "key " + KeyNameOfScan(k.scan) + " is given record @" + std::to_string(k.record) +
                            " here and @" + std::to_string(it->second->record) + " at line " +
                            std::to_string(it->second->pos.line));
      }
    }
    std::map<std::uint16_t, int> record;
    for (const auto& [scan, k] : explicitOf) record[scan] = k->record;
    int next = 1;
    bool full = false;
    for (const KeyLine& k : m_.keys) {
      if (record.count(k.scan)) continue;
      while (next < static_cast<int>(kKeysPerPlane) && reserved.count(next)) ++next;
      if (next >= static_cast<int>(kKeysPerPlane)) {
        if (!full) p_.Error(k.pos, "more than 127 mapped keys: a plane has records 1 to 127");
        full = true;
        continue;
      }
      record[k.scan] = next++;
    }
    for (const auto& [scan, r] : record) d_.options.scanMap[scan] = static_cast<std::uint8_t>(r);

    std::map<std::pair<int, int>, const KeyLine*> defined;  // (layout, record) -> line
    for (const KeyLine& k : m_.keys) {
      if (!(k.hasCells || k.capsExplicit || k.capsMode) || !record.count(k.scan)) continue;
      const int r = record[k.scan];
      if (r >= static_cast<int>(kKeysPerPlane)) {
        p_.Error(k.pos, "record @" + std::to_string(r) + " is beyond the 128 records of a plane");
        continue;
      }
      const auto [it, fresh] = defined.emplace(std::make_pair(k.layout, r), &k);
      if (!fresh) {
        p_.Error(k.pos, "duplicate definition of key " + KeyNameOfScan(k.scan) + " in layout " +
                            std::to_string(k.layout) + " (record @" + std::to_string(r) + " is defined at line " +
                            std::to_string(it->second->pos.line) + ")");
        continue;
      }
      WriteKey(k, r);
    }
  }

  void WriteKey(const KeyLine& k, int record) {
    const LayoutDef& l = m_.layouts[k.layout];
    const vkl::CharSet& set = sets_[k.layout];
    KeyRecord& plain = d_.keys.planes[k.layout][record];
    KeyRecord& caps = d_.keys.planes[k.layout + 2][record];
    WritePlane(k.plain, k.layout, plain);
    if (k.capsExplicit) {
      WritePlane(k.caps, k.layout, caps);
    } else {
      caps = vkl::DeriveCaps(plain, k.capsMode.value_or(l.caps), set);
    }
  }

  void WritePlane(const Plane& p, int layout, KeyRecord& out) {
    const vkl::CharSet& set = sets_[layout];
    for (std::size_t slot = 0; slot < kSlotsPerKey; ++slot) {
      for (int col = 0; col < 3; ++col) {
        const Cell& c = p.cells[slot][col];
        const std::tuple<int, int, int> at{c.pos.file, c.pos.line, c.pos.column};
        std::uint8_t byte = 0, flags = 0;
        switch (c.kind) {
          case Cell::kEmpty:
            continue;
          case Cell::kChar:
          case Cell::kDead: {
            const auto b = Encode(c.ch, set);
            if (!b) continue;
            byte = *b;
            const char32_t ch = set.Char(byte);
            if (c.kind == Cell::kDead) {
              flags = static_cast<std::uint8_t>(1u << col);
              deadUses_[at] = {layout, byte, {}};
            } else if (ch > 0 && ch < 0x20) {
              p_.Warning(c.pos, "character " + Describe(ch) + " is below 32: the library never types it");
            }
            break;
          }
          case Cell::kDeadNamed: {
            const auto it = m_.deadNames.find(c.name);
            if (it == m_.deadNames.end()) {
              p_.Error(c.pos, "no dead key named " + c.name + " (deadkey " + c.name + " CHAR ... defines one)");
              continue;
            }
            const auto b = Encode(it->second, top_);
            if (!b) continue;
            byte = *b;
            flags = static_cast<std::uint8_t>(1u << col);
            deadUses_[at] = {layout, byte, c.name};
            break;
          }
          case Cell::kMacro: {
            if (c.macroIndex >= 0) {  // by number: the entry as it stands
              byte = static_cast<std::uint8_t>(c.macroIndex);
            } else {
              const auto it = std::find_if(m_.macros.begin(), m_.macros.end(),
                                           [&](const MacroDef& d) { return d.name == c.name; });
              if (it == m_.macros.end() || it->index < 0) {
                if (it == m_.macros.end()) p_.Error(c.pos, "no macro named " + c.name);
                continue;
              }
              it->used = true;
              byte = static_cast<std::uint8_t>(it->index);
              macroUses_[at] = {layout, byte, c.name};
            }
            flags = static_cast<std::uint8_t>(1u << (col + 3) | (c.deadToo ? 1u << col : 0));
            break;
          }
        }
        KeySlot& s = out.slots[slot];
        s.ch[col] = byte;
        s.flags = static_cast<std::uint8_t>(s.flags | flags);
      }
    }
  }

  void Layouts() {
    for (unsigned n = 0; n < kLayouts; ++n) {
      const LayoutDef& l = m_.layouts[n];
      if (!l.defined) continue;
      const vkl::CharSet& set = sets_[n];
      LayoutRecord& r = d_.layouts[n];
      r.flags = l.charThenLeft ? 1u << kLayoutFlagCharThenLeft : 0;
      r.modMask = l.claims;
      r.rightModEquivalence = l.rightAsLeft;
      const bool ansi = set.kind == vkl::CharSet::Kind::kAnsi;
      if (ansi) {
        r.reserved[0] = static_cast<std::uint8_t>(set.codePage & 0xFF);
        r.reserved[1] = static_cast<std::uint8_t>(set.codePage >> 8);
      } else {
        CharSetHeader h{};
        h.codePage = static_cast<std::uint16_t>(set.unicode() && l.set.id >= 0 ? l.set.id : set.codePage);
        std::memcpy(h.mark, kCharSetMark, sizeof h.mark);
        h.kind = static_cast<std::uint8_t>(set.unicode() ? CharSetKind::kUnicode : CharSetKind::kCodePage);
        if (set.unicode()) {
          h.tableEntry = static_cast<std::uint8_t>(entry_[n]);
          h.count = static_cast<std::uint16_t>(l.set.count >= 0 ? l.set.count : Count(set));
        }
        std::memcpy(r.reserved, &h, sizeof h);
      }
      auto* record = reinterpret_cast<std::uint8_t*>(&r);
      for (const Bytes& b : l.bytes) {
        if (!ansi && b.offset < vkl::kRecordBytesFirstMarked) {
          p_.Error(b.pos, "bytes 6 to 19 of the record of " + LayoutName(n) +
                              " hold its character set; raw bytes go at offsets 20 to 37 (or say \"codepage N ansi\")");
          continue;
        }
        std::copy(b.values.begin(), b.values.end(), record + b.offset);
      }
      for (const Char& c : l.charset) {
        if (const auto b = Encode(c, set)) r.charBitmap[*b / 8] |= static_cast<std::uint8_t>(1u << (*b % 8));
      }
      std::vector<std::uint8_t> name;
      bool ok = true;
      for (const Char& c : l.name) {
        const auto b = Encode(c, set);
        ok = ok && b.has_value();
        if (b) name.push_back(*b);
      }
      if (ok && name.size() > kLayoutNameSize) {
        p_.Error(l.namePos, "the layout name is " + std::to_string(name.size()) + " bytes in " +
                                (set.unicode() ? std::string("its Unicode set") : "code page " + std::to_string(set.codePage)) +
                                "; at most 20");
      } else if (ok) {
        std::copy(name.begin(), name.end(), r.name);
      }
    }
  }

  // Writes the Unicode tables into their macro entries; tables given at
  // entries that overlap must agree where they do.
  void Tables() {
    auto* block = reinterpret_cast<std::uint8_t*>(&d_.macros);
    std::map<int, unsigned> writer;  // byte of the macro block -> layout
    for (unsigned n = 0; n < kLayouts; ++n) {
      if (entry_[n] < 0) continue;
      const int base = entry_[n] * static_cast<int>(sizeof(MacroEntry));
      bool clash = false;
      for (int i = 0; i < static_cast<int>(kUnicodeTableBytes); ++i) {
        const auto value = static_cast<std::uint8_t>(sets_[n].table[i / 3] >> (8 * (i % 3)));
        const auto [it, fresh] = writer.emplace(base + i, n);
        if (!fresh && block[base + i] != value && !clash) {
          clash = true;
          p_.Error(m_.layouts[n].set.pos, "the character tables of layouts " + std::to_string(it->second) + " and " +
                                              std::to_string(n) + " overlap in the macro entries and differ");
        }
        block[base + i] = value;
      }
    }
  }

  // A macro or a dead key means the characters it was written with in the
  // set of the macros and dead keys; a layout with another set that would
  // make other characters of its bytes may not use it. A layout posting ANSI
  // bytes is not checked: the system's code page decides there.
  void Uses() {
    const auto check = [&](const Use& u, const std::string& what, std::uint8_t byte, const Char& c) {
      const vkl::CharSet& set = sets_[u.layout];
      if (c.raw || c.code == 0 || set.Char(byte) == c.code) return true;
      const char32_t there = set.Char(byte);
      p_.Error(u.pos(), what + " means other characters in " + LayoutName(static_cast<unsigned>(u.layout)) +
                            ": its byte 0x" + Hex(byte, 2) + " is " + Describe(c.code) +
                            " in the set of the macros and dead keys, " + (there ? Describe(there) : "no character") +
                            " in the layout's (give them the same set)");
      return false;
    };
    for (auto& [at, u] : macroUses_) {
      u.at = at;
      if (sets_[u.layout].kind == vkl::CharSet::Kind::kAnsi) continue;
      for (const auto& [byte, c] : macroChars_[u.byte]) {
        if (!check(u, "macro " + u.name, byte, c)) break;
      }
    }
    for (auto& [at, u] : deadUses_) {
      u.at = at;
      if (sets_[u.layout].kind == vkl::CharSet::Kind::kAnsi) continue;
      const std::string what = "dead key " + (u.name.empty() ? Describe(sets_[u.layout].Char(u.byte)) : u.name);
      bool ok = true;
      for (std::size_t i = 0; i < m_.deadRows.size() && i < kDeadKeyRows && ok; ++i) {
        const DeadKeyRow& row = d_.deadKeys.rows[i];
        if (!rowWritten_[i] || row.dead != u.byte) continue;
        const DeadRow& r = m_.deadRows[i];
        ok = check(u, what, row.dead, r.dead) && (r.baseZero || check(u, what, row.next, r.base)) &&
             (r.resultZero || check(u, what, row.composed, r.result));
      }
    }
  }

  void Warnings() {
    for (const auto& [at, u] : deadUses_) {
      if (!deadBytes_.count(u.byte)) {
        p_.Warning(u.pos(), "dead key " + Describe(sets_[u.layout].Char(u.byte)) + " has no row in the dead-key table");
      }
    }
    for (const MacroDef& mdef : m_.macros) {
      if (!mdef.used) p_.Warning(mdef.pos, "macro " + mdef.name + " is never used");
    }
  }

  // A key cell that types a dead key or a macro.
  struct Use {
    int layout = 0;
    std::uint8_t byte = 0;
    std::string name;
    std::tuple<int, int, int> at{};
    Pos pos() const { return Pos{std::get<0>(at), std::get<1>(at), std::get<2>(at)}; }
  };

  Model& m_;
  Parser& p_;
  KeyboardDescription& d_;
  vkl::CharSet top_;  // of the macros and dead keys
  bool sharedOverflow_ = false;
  vkl::CharSet sets_[kLayouts];
  int entry_[kLayouts] = {-1, -1, -1, -1};  // of each Unicode layout's table
  std::map<int, unsigned> tableOf_;          // macro entry -> the layout whose table it holds
  std::map<int, std::vector<std::pair<std::uint8_t, Char>>> macroChars_;  // index -> bytes and characters
  bool rowWritten_[kDeadKeyRows] = {};
  std::set<std::uint8_t> deadBytes_;
  std::map<std::tuple<int, int, int>, Use> deadUses_;  // place of the cell -> use
  std::map<std::tuple<int, int, int>, Use> macroUses_;
};

bool Compile(KeyboardDescription& out, Diagnostics& diags, const std::function<void(Parser&)>& parse) {
  Model model;
  Parser parser(model, diags);
  parse(parser);
  KeyboardDescription d;
  d.options = OptionBlock{};
  Builder(model, parser, d).Build();
  if (diags.HasErrors()) return false;
  out = d;
  return true;
}

}  // namespace

namespace vkl {

namespace {

struct Column {
  std::uint8_t ch;
  bool dead, macro;
};

Column Get(const KeySlot& s, int col) {
  return {s.ch[col], (s.flags & DeadKeyFlag(col)) != 0, (s.flags & MacroFlag(col)) != 0};
}

void Set(KeySlot& s, int col, Column c) {
  s.ch[col] = c.ch;
  s.flags = static_cast<std::uint8_t>((s.flags & ~(DeadKeyFlag(col) | MacroFlag(col))) |
                                      (c.dead ? DeadKeyFlag(col) : 0) | (c.macro ? MacroFlag(col) : 0));
}

// Caps Lock acts as Shift: the plain character and the Shift one change places.
void SwapShift(KeySlot& s) {
  const Column plain = Get(s, 0), shifted = Get(s, 1);
  Set(s, 0, shifted);
  Set(s, 1, plain);
  Set(s, 2, plain);
}

}  // namespace

namespace {

struct CaseRun {
  char32_t first;  // the first capital
  int count, stride, delta;  // capitals first + i * stride; lower case = capital + delta
};

constexpr CaseRun kCaseRuns[] = {
#include "layoutkit/casepairs.inc"
};

}  // namespace

char32_t OtherCase(char32_t c) {
  for (const CaseRun& r : kCaseRuns) {
    for (const bool upper : {true, false}) {
      const long from = static_cast<long>(r.first) + (upper ? 0 : r.delta);
      const long offset = static_cast<long>(c) - from;
      if (offset < 0 || offset > static_cast<long>(r.count - 1) * r.stride) continue;
      if (r.stride == 0 ? offset != 0 : offset % r.stride != 0) continue;
      return static_cast<char32_t>(static_cast<long>(c) + (upper ? r.delta : -r.delta));
    }
  }
  return c;
}

CharSet CharSet::CodePage(int number, Kind kind) {
  CharSet set;
  set.kind = kind;
  set.codePage = number;
  return set;
}

char32_t CharSet::Char(std::uint8_t byte) const {
  if (!unicode()) return DecodeByte(codePage, byte);
  const char32_t c = table[byte];
  if (byte == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return c;
}

int CharSet::Byte(char32_t c) const {
  if (!unicode()) return EncodeChar(codePage, c);
  if (c == 0) return -1;
  for (int b = 1; b < 256; ++b) {
    if (table[b] == c) return b;
  }
  return -1;
}

std::uint8_t CharSet::SwapCase(std::uint8_t byte) const {
  if (!unicode()) return SwapCaseByte(codePage, byte);
  const char32_t c = Char(byte);
  const int other = c == 0 ? -1 : Byte(OtherCase(c));
  return other < 0 ? byte : static_cast<std::uint8_t>(other);
}

CharSet LayoutCharSet(const KeyboardDescription& d, unsigned layout) {
  const LayoutRecord& r = d.layouts[layout % kLayouts];
  const CharSetHeader h = HeaderOf(r);
  switch (CharSetOf(r)) {
    case CharSetKind::kCodePage:
      return CharSet::CodePage(h.codePage);
    case CharSetKind::kUnicode: {
      CharSet set;
      set.kind = CharSet::Kind::kUnicode;
      set.codePage = kUnicodeCodePageId;
      const auto* table = reinterpret_cast<const std::uint8_t*>(&d.macros.entries[h.tableEntry]);
      for (int b = 0; b < 256; ++b) {
        set.table[b] = table[3 * b] | static_cast<char32_t>(table[3 * b + 1]) << 8 |
                       static_cast<char32_t>(table[3 * b + 2]) << 16;
      }
      return set;
    }
    case CharSetKind::kNone:
      break;
  }
  return CharSet::CodePage(LayoutCodePage(d, layout), CharSet::Kind::kAnsi);
}

std::vector<ChordProblem> CheckChords(const std::vector<std::uint8_t>& text, const CharSet& set) {
  std::vector<ChordProblem> problems;
  auto shown = [&set](const std::string& name) {
    std::string out;
    for (const char c : name) {
      const char32_t u = set.Char(static_cast<std::uint8_t>(c));
      if (u < 0x20 || u == 0x7F) {
        out += "\\x" + Hex(static_cast<std::uint8_t>(c), 2);
      } else {
        AppendUtf8(out, u);
      }
    }
    return out;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '{') continue;
    const std::size_t open = i;
    std::size_t keys = 0, nameAt = i + 1;
    std::string name;
    bool closed = false;
    for (++i; i < text.size(); ++i) {
      const char c = static_cast<char>(text[i]);
      if (c != '+' && c != '}') {
        if (name.empty()) nameAt = i;
        name += c;
        continue;
      }
      ++keys;
      if (name.empty()) {
        problems.push_back({i, "empty key name in a chord"});
      } else if (name.size() > 1 && LookupKeyName(name.c_str()) == 0) {
        problems.push_back({nameAt, "unknown key name \"" + shown(name) + "\" in a chord"});
      }
      name.clear();
      if (c == '}') {
        closed = true;
        break;
      }
    }
    if (!closed) {
      problems.push_back({open, "missing \"}\" at the end of the chord"});
      break;
    }
    if (keys > kMaxChordKeys) {
      problems.push_back({open, "a chord of " + std::to_string(keys) + " keys; a chord holds at most 16"});
    }
  }
  return problems;
}

KeyRecord DeriveCaps(const KeyRecord& plain, CapsMode mode, const CharSet& set) {
  if (mode == CapsMode::kNone) return KeyRecord{};
  KeyRecord caps = plain;
  if (mode == CapsMode::kShift || mode == CapsMode::kShiftAltGr) SwapShift(caps.slots[kSlotPlain]);
  if (mode == CapsMode::kAltGr || mode == CapsMode::kShiftAltGr) SwapShift(caps.slots[kSlotRightAlt]);
  if (mode == CapsMode::kLetters) {
    for (KeySlot& s : caps.slots) {
      for (int col = 0; col < 3; ++col) {
        if ((s.flags & (DeadKeyFlag(col) | MacroFlag(col))) == 0) s.ch[col] = set.SwapCase(s.ch[col]);
      }
    }
  }
  return caps;
}

}  // namespace vkl

bool CompileVklText(std::string_view text, const std::string& fileName, KeyboardDescription& out,
                    Diagnostics& diags) {
  return Compile(out, diags, [&](Parser& p) { p.ParseText(text, fileName, 0); });
}

bool CompileVklFile(const std::string& path, KeyboardDescription& out, Diagnostics& diags) {
  return Compile(out, diags, [&](Parser& p) { p.ParseFile(path, 0, nullptr); });
}

bool LoadDescriptionFile(const std::string& path, KeyboardDescription& out, Diagnostics& diags) {
  if (path.size() >= 4 && Lower(path.substr(path.size() - 4)) == ".vkb") return ReadVkb(path, out, diags);
  return CompileVklFile(path, out, diags);
}

}  // namespace velto::layoutkit
