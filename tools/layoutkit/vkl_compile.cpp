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
  Pos pos;
};

struct LayoutDef {
  bool defined = false;
  Pos pos;
  std::vector<Char> name;
  Pos namePos;
  int codePage = 0;  // 0: the description's
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
  int codePage = 0;
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
    if (word == "codepage") return CodePageStatement(t, m_.codePage, m_.seen);
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

  void CodePageStatement(const std::vector<Token>& t, int& codePage, std::set<std::string>& seen) {
    if (!Arity(t, 2, 2, "codepage NUMBER (874, 1250..1258)") || !Once(seen, "the code page", t[0])) return;
    const auto n = ParseNumber(t[1].text);
    if (!n || !IsSupportedCodePage(static_cast<int>(*n))) {
      return Error(t[1].pos, "unknown code page \"" + t[1].text + "\"; use 874 or 1250 to 1258");
    }
    codePage = static_cast<int>(*n);
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
      const int bit = ModifierBitOfScan(*scan);
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
    if (word == "codepage") return CodePageStatement(t, l.codePage, l.seen);
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
    Bytes b{static_cast<int>(*offset), {}, t[0].pos};
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
    if (m_.codePage == 0) m_.codePage = kDefaultCodePage;
    for (LayoutDef& l : m_.layouts) {
      if (l.codePage == 0) l.codePage = m_.codePage;
    }
    Options();
    Macros();
    DeadKeys();
    Records();
    Layouts();
    Warnings();
  }

 private:
  // The byte of a character in a code page; raw bytes stand as they are.
  std::optional<std::uint8_t> Encode(const Char& c, int codePage) {
    if (c.raw) return static_cast<std::uint8_t>(c.code);
    const int b = EncodeChar(codePage, c.code);
    if (b < 0) {
      p_.Error(c.pos, "character " + Describe(c.code) + " is not in code page " + std::to_string(codePage));
      return std::nullopt;
    }
    return static_cast<std::uint8_t>(b);
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

  void Macros() {
    std::set<int> taken;
    for (const MacroDef& mdef : m_.macros) {
      if (mdef.index < 0) continue;
      if (!taken.insert(mdef.index).second) {
        p_.Error(mdef.pos, "duplicate definition of macro index @" + std::to_string(mdef.index));
      }
    }
    int next = 1;
    for (MacroDef& mdef : m_.macros) {
      if (mdef.index < 0) {
        while (next < 256 && taken.count(next)) ++next;
        if (next >= 256) {
          p_.Error(mdef.pos, "more than 255 macros");
          continue;
        }
        mdef.index = next;
        taken.insert(next);
      }
      if (mdef.index == 0) p_.Warning(mdef.pos, "macro @0 is never typed: a key's macro number 0 means nothing");
      MacroText(mdef);
    }
  }

  void MacroText(const MacroDef& mdef) {
    std::vector<std::uint8_t> bytes;
    std::vector<Pos> at;
    bool ok = true;
    for (const Char& c : mdef.text) {
      const auto b = Encode(c, m_.codePage);
      ok = ok && b.has_value();
      if (b) bytes.push_back(*b), at.push_back(c.pos);
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
  }

  void Chords(const std::vector<std::uint8_t>& text, const std::vector<Pos>& at) {
    for (const vkl::ChordProblem& problem : vkl::CheckChords(text, m_.codePage)) {
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
      const auto dead = r.deadZero ? std::optional<std::uint8_t>(0) : Encode(r.dead, m_.codePage);
      const auto base = r.baseZero ? std::optional<std::uint8_t>(0) : Encode(r.base, m_.codePage);
      const auto result = r.resultZero ? std::optional<std::uint8_t>(0) : Encode(r.result, m_.codePage);
      if (!dead || !base || !result) continue;
      d_.deadKeys.rows[i] = {*dead, *base, *result};
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
    KeyRecord& plain = d_.keys.planes[k.layout][record];
    KeyRecord& caps = d_.keys.planes[k.layout + 2][record];
    WritePlane(k.plain, l.codePage, plain);
    if (k.capsExplicit) {
      WritePlane(k.caps, l.codePage, caps);
    } else {
      caps = vkl::DeriveCaps(plain, k.capsMode.value_or(l.caps), l.codePage);
    }
  }

  void WritePlane(const Plane& p, int codePage, KeyRecord& out) {
    for (std::size_t slot = 0; slot < kSlotsPerKey; ++slot) {
      for (int col = 0; col < 3; ++col) {
        const Cell& c = p.cells[slot][col];
        std::uint8_t byte = 0, flags = 0;
        switch (c.kind) {
          case Cell::kEmpty:
            continue;
          case Cell::kChar:
          case Cell::kDead: {
            const auto b = Encode(c.ch, codePage);
            if (!b) continue;
            byte = *b;
            if (c.kind == Cell::kDead) {
              flags = static_cast<std::uint8_t>(1u << col);
              deadUses_[{c.pos.file, c.pos.line, c.pos.column}] = byte;
            } else if (byte > 0 && byte < 0x20) {
              p_.Warning(c.pos, "character " + Describe(byte) + " is below 32: the library never types it");
            }
            break;
          }
          case Cell::kDeadNamed: {
            const auto it = m_.deadNames.find(c.name);
            if (it == m_.deadNames.end()) {
              p_.Error(c.pos, "no dead key named " + c.name + " (deadkey " + c.name + " CHAR ... defines one)");
              continue;
            }
            const auto b = Encode(it->second, m_.codePage);
            if (!b) continue;
            byte = *b;
            flags = static_cast<std::uint8_t>(1u << col);
            deadUses_[{c.pos.file, c.pos.line, c.pos.column}] = byte;
            break;
          }
          case Cell::kMacro: {
            const auto it = std::find_if(m_.macros.begin(), m_.macros.end(),
                                         [&](const MacroDef& d) { return d.name == c.name; });
            if (it == m_.macros.end() || it->index < 0) {
              if (it == m_.macros.end()) p_.Error(c.pos, "no macro named " + c.name);
              continue;
            }
            it->used = true;
            byte = static_cast<std::uint8_t>(it->index);
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
      LayoutRecord& r = d_.layouts[n];
      r.flags = l.charThenLeft ? 1u << kLayoutFlagCharThenLeft : 0;
      r.modMask = l.claims;
      r.rightModEquivalence = l.rightAsLeft;
      r.reserved[0] = static_cast<std::uint8_t>(l.codePage & 0xFF);
      r.reserved[1] = static_cast<std::uint8_t>(l.codePage >> 8);
      auto* record = reinterpret_cast<std::uint8_t*>(&r);
      for (const Bytes& b : l.bytes) {
        std::copy(b.values.begin(), b.values.end(), record + b.offset);
      }
      for (const Char& c : l.charset) {
        if (const auto b = Encode(c, l.codePage)) r.charBitmap[*b / 8] |= static_cast<std::uint8_t>(1u << (*b % 8));
      }
      std::vector<std::uint8_t> name;
      bool ok = true;
      for (const Char& c : l.name) {
        const auto b = Encode(c, l.codePage);
        ok = ok && b.has_value();
        if (b) name.push_back(*b);
      }
      if (ok && name.size() > kLayoutNameSize) {
        p_.Error(l.namePos, "the layout name is " + std::to_string(name.size()) + " bytes in code page " +
                                std::to_string(l.codePage) + "; at most 20");
      } else if (ok) {
        std::copy(name.begin(), name.end(), r.name);
      }
    }
  }

  void Warnings() {
    for (const auto& [pos, byte] : deadUses_) {
      if (!deadBytes_.count(byte)) {
        p_.Warning(Pos{std::get<0>(pos), std::get<1>(pos), std::get<2>(pos)}, "dead key " + Describe(DecodeByte(m_.codePage, byte)) + " has no row in the dead-key table");
      }
    }
    for (const MacroDef& mdef : m_.macros) {
      if (!mdef.used) p_.Warning(mdef.pos, "macro " + mdef.name + " is never used");
    }
  }

  Model& m_;
  Parser& p_;
  KeyboardDescription& d_;
  std::set<std::uint8_t> deadBytes_;
  std::map<std::tuple<int, int, int>, std::uint8_t> deadUses_;  // place of the cell -> byte
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
  return {s.ch[col], (s.flags >> col & 1) != 0, (s.flags >> (col + 3) & 1) != 0};
}

void Set(KeySlot& s, int col, Column c) {
  s.ch[col] = c.ch;
  s.flags = static_cast<std::uint8_t>((s.flags & ~(1u << col | 1u << (col + 3))) | (c.dead ? 1u << col : 0) |
                                      (c.macro ? 1u << (col + 3) : 0));
}

// Caps Lock acts as Shift: the plain character and the Shift one change places.
void SwapShift(KeySlot& s) {
  const Column plain = Get(s, 0), shifted = Get(s, 1);
  Set(s, 0, shifted);
  Set(s, 1, plain);
  Set(s, 2, plain);
}

}  // namespace

std::vector<ChordProblem> CheckChords(const std::vector<std::uint8_t>& text, int codePage) {
  std::vector<ChordProblem> problems;
  auto shown = [codePage](const std::string& name) {
    std::string out;
    for (const char c : name) {
      const char32_t u = DecodeByte(codePage, static_cast<std::uint8_t>(c));
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

KeyRecord DeriveCaps(const KeyRecord& plain, CapsMode mode, int codePage) {
  if (mode == CapsMode::kNone) return KeyRecord{};
  KeyRecord caps = plain;
  if (mode == CapsMode::kShift || mode == CapsMode::kShiftAltGr) SwapShift(caps.slots[kSlotPlain]);
  if (mode == CapsMode::kAltGr || mode == CapsMode::kShiftAltGr) SwapShift(caps.slots[kSlotRightAlt]);
  if (mode == CapsMode::kLetters) {
    for (KeySlot& s : caps.slots) {
      for (int col = 0; col < 3; ++col) {
        if ((s.flags >> col & 9) == 0) s.ch[col] = SwapCaseByte(codePage, s.ch[col]);
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
