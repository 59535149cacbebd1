// The .klc importer. It reads the file into a small model that keeps the
// characters as Unicode and the place of each (read), then maps that model
// onto one layout of the keyboard language and writes it out (generate).
// Every problem is reported; the source is only written when there is none.
#include "layoutkit/klc_import.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "layoutkit/codepage.h"
#include "layoutkit/scan_names.h"
#include "layoutkit/layout_builder.h"
#include "layoutkit/text.h"
#include "layoutkit/vkl.h"
#include "layoutkit/vkl_model.h"
#include "layoutkit/vkl_print.h"
#include "layoutkit/vkl_syntax.h"

namespace velto::layoutkit {

namespace {

using vkl::CapsMode;

constexpr std::size_t kMaxKeys = kKeysPerPlane - 1;
constexpr std::size_t kMaxMacroText = 255;   // the length byte of a macro entry
constexpr std::size_t kMaxSetCharacters = 255;  // bytes 1 to 255 of a unicode layout
constexpr std::uint16_t kSpaceScan = 0x39;

// A word where a row should start with a number: most likely a section
// keyword that does not exist.
bool LooksLikeWord(std::string_view s) {
  return s.size() >= 2 && std::isalpha(static_cast<unsigned char>(s[0])) &&
         std::all_of(s.begin(), s.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}


// --- Reading -------------------------------------------------------------------------

// The file as UTF-8. UTF-16 (little endian, or either order after its BOM)
// is converted; a UTF-8 BOM is dropped.
std::string DecodeText(std::string_view bytes) {
  const auto b = [&](std::size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(bytes[i])); };
  bool utf16 = false, bigEndian = false;
  std::size_t start = 0;
  if (bytes.size() >= 2 && b(0) == 0xFF && b(1) == 0xFE) {
    utf16 = true, start = 2;
  } else if (bytes.size() >= 2 && b(0) == 0xFE && b(1) == 0xFF) {
    utf16 = bigEndian = true, start = 2;
  } else if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    return std::string(bytes.substr(3));
  } else if (bytes.size() >= 2 && b(0) != 0 && b(1) == 0) {
    utf16 = true;  // UTF-16LE without its BOM
  }
  if (!utf16) return std::string(bytes);
  const auto unit = [&](std::size_t i) { return bigEndian ? b(i) << 8 | b(i + 1) : b(i + 1) << 8 | b(i); };
  std::string out;
  for (std::size_t i = start; i + 1 < bytes.size(); i += 2) {
    char32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

struct Token {
  std::string text;
  int column = 0;  // 1-based, in characters
};

// Splits a line at spaces and tabs. A token that starts with '"' runs to the
// next '"' (when there is one), spaces included. "//" and ';' outside such a
// string begin a comment.
std::vector<Token> Tokenize(std::string_view line, bool& malformed) {
  std::vector<Token> out;
  std::size_t i = 0;
  int column = 1;
  bool inToken = false, quoted = false;
  while (i < line.size()) {
    const char c = line[i];
    if (!quoted && (c == ';' || line.substr(i, 2) == "//")) break;
    if (!quoted && (c == ' ' || c == '\t' || c == '\r')) {
      inToken = false;
      ++i, ++column;
      continue;
    }
    if (!inToken) {
      out.push_back({"", column});
      inToken = true;
      quoted = c == '"' && line.find('"', i + 1) != std::string_view::npos;
    } else if (quoted && c == '"') {
      quoted = false;
    }
    const std::size_t from = i;
    if (NextUtf8(line, i) == 0xFFFD) malformed = true;
    out.back().text.append(line.substr(from, i - from));
    ++column;
  }
  return out;
}

std::string Unquote(std::string_view s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  return std::string(s);
}

// One entry of a LAYOUT, DEADKEY or LIGATURE row.
struct Entry {
  enum Kind { kNone, kChar, kDead, kLigature } kind = kNone;
  char32_t ch = 0;
  int line = 0, column = 0;
};

// A 4-digit hex code point or one character, with '@' after it for a dead
// key; -1 for none; %% for a ligature.
bool ParseEntry(const Token& t, int line, Entry& e) {
  e = Entry{Entry::kChar, 0, line, t.column};
  std::string_view s = t.text;
  if (s == "-1" || s == "%%") {
    e.kind = s == "-1" ? Entry::kNone : Entry::kLigature;
    return true;
  }
  if (s.size() > 1 && s.back() == '@') {
    e.kind = Entry::kDead;
    s.remove_suffix(1);
  }
  if (const auto v = s.size() == 4 ? ParseHex(s, 4) : std::nullopt) {
    e.ch = *v;
    return true;
  }
  std::size_t pos = 0;
  e.ch = NextUtf8(s, pos);
  return pos == s.size() && e.ch != 0xFFFD;
}

struct Row {
  std::uint16_t scan = 0;
  std::string vk;
  int line = 0;
  int cap = 0;  // 1: Caps Lock acts as Shift; 4: the same with AltGr
  bool sgcap = false;
  std::vector<Entry> entries;      // one per shift state, in SHIFTSTATE order
  std::vector<Entry> capsEntries;  // SGCap: the characters of the row after it
};

struct DeadSection {
  Entry dead;
  std::vector<std::pair<Entry, Entry>> rows;  // base, result
};

struct LigatureRow {
  std::string vk;
  unsigned stateColumn = 0;
  int line = 0, column = 0;
  std::vector<Entry> chars;
  bool used = false;
};

struct Klc {
  bool haveKbd = false;
  std::string kbdText;  // the KBD line, for the header
  std::string description;
  int kbdLine = 0, descriptionColumn = 0;
  bool haveLocale = false;
  unsigned langId = 0;
  int localeLine = 0, localeColumn = 0;
  bool haveStates = false;
  std::vector<int> states;
  bool haveLayout = false;
  std::vector<Row> rows;
  std::vector<DeadSection> deadKeys;
  std::vector<LigatureRow> ligatures;
  std::map<char32_t, std::string> deadNames;  // KEYNAME_DEAD
};

class Reader {
 public:
  Reader(const std::string& file, Diagnostics& diags, Klc& klc) : file_(file), diags_(diags), k_(klc) {}

  void Read(std::string_view text) {
    int number = 0;
    for (std::size_t start = 0; start < text.size();) {
      std::size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      ++number;
      bool malformed = false;
      const std::vector<Token> tokens = Tokenize(text.substr(start, end - start), malformed);
      if (malformed && section_ != kEnd) {
        Error(number, 0, "this line is neither UTF-16 nor UTF-8 text");
      } else if (!tokens.empty() && section_ != kEnd) {
        Line(number, tokens);
      }
      start = end + 1;
    }
    EndCapsRow();
    if (section_ != kEnd) Error(number, 0, "ENDKBD is missing at the end of the file");
    if (!k_.haveKbd) Error(0, 0, "no KBD line (KBD NAME \"DESCRIPTION\")");
    if (!k_.haveStates) Error(0, 0, "no SHIFTSTATE section");
    if (!k_.haveLayout) Error(0, 0, "no LAYOUT section");
  }

 private:
  enum Section {
    kNone,
    kAttributes,
    kShiftState,
    kLayout,
    kDeadKey,
    kLigature,
    kHexRows,
    kDeadNames,
    kSkip,
    kEnd
  };

  void Error(int line, int column, const std::string& message) { diags_.Error(file_, line, column, message); }

  void UnknownSection(int line, const Token& t, const std::string& otherwise) {
    Error(line, t.column, LooksLikeWord(t.text) ? "unknown section \"" + t.text + "\"" : otherwise);
  }

  bool TooFew(int line, const std::vector<Token>& t, std::size_t need, const char* what) {
    if (t.size() >= need) return false;
    Error(line, t[0].column, std::string("too few columns: ") + what);
    return true;
  }

  void Line(int n, const std::vector<Token>& t) {
    if (Keyword(n, Upper(t[0].text), t)) return;
    switch (section_) {
      case kNone:
        return UnknownSection(n, t[0], "a line outside any section");
      case kAttributes:
        for (const char* a : {"ALTGR", "SHIFTLOCK", "LRM_RLM", "KANALOK"}) {
          if (Upper(t[0].text) == a) return;
        }
        return Error(n, t[0].column, "unknown attribute or section \"" + t[0].text + "\"");
      case kShiftState:
        return ShiftState(n, t);
      case kLayout:
        return LayoutRow(n, t);
      case kDeadKey:
        return DeadKeyRow(n, t);
      case kLigature:
        return Ligature(n, t);
      case kHexRows:
        if (!ParseHex(t[0].text, 4)) return UnknownSection(n, t[0], "bad hex number \"" + t[0].text + "\"");
        TooFew(n, t, 2, "a row of this section has a number and a name");
        return;
      case kDeadNames:
        return DeadName(n, t);
      case kSkip:
      case kEnd:
        return;
    }
  }

  // Starts a section, or reads a one-line one; false if the line is no keyword.
  bool Keyword(int n, const std::string& word, const std::vector<Token>& t) {
    static const std::map<std::string, Section> kSections = {{"ATTRIBUTES", kAttributes},
                                                             {"SHIFTSTATE", kShiftState},
                                                             {"LAYOUT", kLayout},
                                                             {"DEADKEY", kDeadKey},
                                                             {"LIGATURE", kLigature},
                                                             {"KEYNAME", kHexRows},
                                                             {"KEYNAME_EXT", kHexRows},
                                                             {"KEYNAME_DEAD", kDeadNames},
                                                             {"DESCRIPTIONS", kHexRows},
                                                             {"LANGUAGENAMES", kHexRows},
                                                             {"ENDKBD", kEnd}};
    static const std::set<std::string> kOneLine = {"KBD",        "COPYRIGHT", "COMPANY",
                                                   "LOCALENAME", "LOCALEID",  "VERSION"};
    const auto section = kSections.find(word);
    if (section == kSections.end() && !kOneLine.count(word)) return false;
    EndCapsRow();
    section_ = section == kSections.end() ? kNone : section->second;
    if (word == "KBD") {
      Kbd(n, t);
    } else if (word == "LOCALEID") {
      Locale(n, t);
    } else if (section_ == kNone) {
      if (t.size() < 2) Error(n, t[0].column, word + " needs a value");
    } else if (section_ == kShiftState) {
      if (k_.haveStates) Error(n, t[0].column, "a second SHIFTSTATE section");
      k_.haveStates = true;
    } else if (section_ == kLayout) {
      k_.haveLayout = true;
      if (!k_.haveStates || k_.states.empty()) {
        Error(n, t[0].column, "LAYOUT comes before any SHIFTSTATE, which gives its columns");
        section_ = kSkip;
      }
    } else if (section_ == kDeadKey) {
      Entry dead;
      if (t.size() < 2 || !ParseEntry(t[1], n, dead) || dead.kind != Entry::kChar) {
        Error(n, t.size() < 2 ? t[0].column : t[1].column,
              "DEADKEY takes the dead key's character (4 hex digits)");
        section_ = kSkip;
      } else {
        k_.deadKeys.push_back({dead, {}});
      }
    }
    return true;
  }

  void Kbd(int n, const std::vector<Token>& t) {
    if (k_.haveKbd) return Error(n, t[0].column, "a second KBD line");
    if (t.size() != 3 || t[2].text.size() < 2 || t[2].text[0] != '"' || t[2].text.back() != '"') {
      return Error(n, t[0].column, "the KBD line reads KBD NAME \"DESCRIPTION\"");
    }
    k_.haveKbd = true;
    k_.kbdText = "KBD " + t[1].text + " " + t[2].text;
    k_.description = Unquote(t[2].text);
    k_.kbdLine = n;
    k_.descriptionColumn = t[2].column + 1;
  }

  void Locale(int n, const std::vector<Token>& t) {
    if (t.size() < 2) return Error(n, t[0].column, "LOCALEID needs a value (\"00000407\")");
    const auto id = ParseHex(Unquote(t[1].text), 8);
    if (!id) return Error(n, t[1].column, "bad hex number " + t[1].text + " for a LOCALEID");
    k_.haveLocale = true;
    k_.langId = *id & 0xFFFF;
    k_.localeLine = n;
    k_.localeColumn = t[1].column;
  }

  void ShiftState(int n, const std::vector<Token>& t) {
    const auto state = ParseDecimal(t[0].text, 4);
    if (!state || *state > 15)
      return UnknownSection(n, t[0], "bad shift state \"" + t[0].text + "\": 0 to 15");
    if (t.size() > 1) return Error(n, t[1].column, "one shift state a line");
    if (std::count(k_.states.begin(), k_.states.end(), static_cast<int>(*state))) {
      return Error(n, t[0].column, "shift state " + t[0].text + " is listed twice");
    }
    k_.states.push_back(static_cast<int>(*state));
  }

  bool Entries(int n, const std::vector<Token>& t, std::size_t from, std::vector<Entry>& out) {
    bool ok = true;
    for (std::size_t i = from; i < t.size(); ++i) {
      Entry e;
      if (!ParseEntry(t[i], n, e)) {
        Error(n, t[i].column,
              "bad entry \"" + t[i].text +
                  "\": a 4-digit hex code point or one character, -1, %% or a dead key (@)");
        ok = false;
      }
      out.push_back(e);
    }
    return ok;
  }

  void LayoutRow(int n, const std::vector<Token>& t) {
    if (t[0].text == "-1") return CapsRow(n, t);
    EndCapsRow();
    // The scan code: 2 hex digits, and for an extended key "e0" before them,
    // written together (e035) or apart (e0 35).
    std::size_t i = 1;
    std::string scanText = Lower(t[0].text);
    unsigned extended = 0;
    if (scanText == "e0" && t.size() > 1 && t[1].text.size() == 2 && ParseHex(t[1].text, 2)) {
      scanText = t[1].text, extended = 0x100, i = 2;
    } else if (scanText.size() == 4 && scanText.rfind("e0", 0) == 0) {
      scanText = scanText.substr(2), extended = 0x100;
    }
    const auto scan = ParseHex(scanText, 2);
    if (!scan) return UnknownSection(n, t[0], "bad hex number \"" + t[0].text + "\" for a scan code");
    const std::size_t need = i + 2 + k_.states.size();
    const std::string columns = "a LAYOUT row has the scan code, VK, Cap and " +
                                std::to_string(k_.states.size()) + " entries, one for each shift state";
    if (TooFew(n, t, need, columns.c_str())) return;
    if (t.size() > need) return Error(n, t[need].column, "too many columns: " + columns);
    Row r;
    r.scan = static_cast<std::uint16_t>(*scan | extended);
    r.vk = Upper(t[i].text);
    r.line = n;
    const std::string cap = Upper(t[i + 1].text);
    if (cap == "SGCAP") {
      r.sgcap = true;
    } else if (cap == "0" || cap == "1" || cap == "4" || cap == "5") {
      r.cap = cap[0] - '0';
    } else {
      return Error(n, t[i + 1].column, "bad Cap \"" + t[i + 1].text + "\": 0, 1, 4, 5 or SGCap");
    }
    if (!Entries(n, t, i + 2, r.entries)) return;
    for (const Row& other : k_.rows) {
      if (other.scan == r.scan) {
        return Error(
            n, t[0].column,
            "scan code " + t[0].text + " is given twice (first at line " + std::to_string(other.line) + ")");
      }
    }
    k_.rows.push_back(std::move(r));
    if (k_.rows.back().sgcap) capsRowOf_ = static_cast<int>(k_.rows.size() - 1);
  }

  // The row after an SGCap row: -1 -1 0, then the Caps Lock characters.
  void CapsRow(int n, const std::vector<Token>& t) {
    if (capsRowOf_ < 0) return Error(n, t[0].column, "a row that starts with -1 belongs after an SGCap row");
    Row& r = k_.rows[static_cast<std::size_t>(capsRowOf_)];
    capsRowOf_ = -1;
    if (t.size() < 4 || t[1].text != "-1") {
      return Error(n, t[0].column, "the Caps Lock row of an SGCap key reads -1 -1 0 and its characters");
    }
    if (t.size() > 3 + k_.states.size()) {
      return Error(n, t[3 + k_.states.size()].column,
                   "too many columns: the Caps Lock row has at most one entry for each shift state");
    }
    Entries(n, t, 3, r.capsEntries);
  }

  void EndCapsRow() {
    if (capsRowOf_ < 0) return;
    Error(k_.rows[static_cast<std::size_t>(capsRowOf_)].line, 0,
          "this SGCap row is not followed by its Caps Lock row (-1 -1 0 ...)");
    capsRowOf_ = -1;
  }

  void DeadKeyRow(int n, const std::vector<Token>& t) {
    Entry base, result;
    if (!ParseEntry(t[0], n, base)) return UnknownSection(n, t[0], "bad hex number \"" + t[0].text + "\"");
    if (TooFew(n, t, 2, "a DEADKEY row has the base character and the result")) return;
    if (t.size() > 2)
      return Error(n, t[2].column, "too many columns: a DEADKEY row has the base character and the result");
    if (!ParseEntry(t[1], n, result)) return Error(n, t[1].column, "bad hex number \"" + t[1].text + "\"");
    if (base.kind != Entry::kChar) return Error(n, t[0].column, "the base of a DEADKEY row is a character");
    if (result.kind != Entry::kChar && result.kind != Entry::kDead) {
      return Error(n, t[1].column, "the result of a DEADKEY row is a character");
    }
    k_.deadKeys.back().rows.push_back({base, result});
  }

  void Ligature(int n, const std::vector<Token>& t) {
    if (TooFew(n, t, 3, "a LIGATURE row has the VK, the shift state column and the characters")) return;
    LigatureRow r;
    r.vk = Upper(t[0].text);
    r.line = n;
    r.column = t[0].column;
    const auto column = ParseDecimal(t[1].text, 4);
    if (!column) return Error(n, t[1].column, "bad shift state column \"" + t[1].text + "\"");
    r.stateColumn = *column;
    if (!Entries(n, t, 2, r.chars)) return;
    for (const Entry& e : r.chars) {
      if (e.kind != Entry::kChar) return Error(n, e.column, "a ligature is made of characters");
    }
    JoinSurrogates(r.chars);
    for (const LigatureRow& other : k_.ligatures) {
      if (other.vk == r.vk && other.stateColumn == r.stateColumn) {
        return Error(n, t[0].column, "a second LIGATURE row for " + r.vk + " column " + t[1].text);
      }
    }
    k_.ligatures.push_back(std::move(r));
  }

  // A .klc writes a character beyond U+FFFF as a ligature of its two UTF-16
  // halves; they become the one character here. A lone half stays, for the
  // error it gets where it is used.
  static void JoinSurrogates(std::vector<Entry>& chars) {
    std::vector<Entry> joined;
    for (std::size_t i = 0; i < chars.size(); ++i) {
      const char32_t high = chars[i].ch, low = i + 1 < chars.size() ? chars[i + 1].ch : 0;
      joined.push_back(chars[i]);
      if (high >= 0xD800 && high < 0xDC00 && low >= 0xDC00 && low < 0xE000) {
        joined.back().ch = 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    chars = std::move(joined);
  }

  void DeadName(int n, const std::vector<Token>& t) {
    Entry dead;
    if (!ParseEntry(t[0], n, dead) || dead.kind != Entry::kChar) {
      return UnknownSection(n, t[0], "bad hex number \"" + t[0].text + "\"");
    }
    if (TooFew(n, t, 2, "a KEYNAME_DEAD row has the dead key's character and its name")) return;
    std::string name;
    for (std::size_t i = 1; i < t.size(); ++i) name += (i > 1 ? " " : "") + Unquote(t[i].text);
    k_.deadNames[dead.ch] = name;
  }

  const std::string& file_;
  Diagnostics& diags_;
  Klc& k_;
  Section section_ = kNone;
  int capsRowOf_ = -1;  // the SGCap row still waiting for its Caps Lock row
};

// --- Generating ----------------------------------------------------------------------

struct Cell {
  enum Kind { kEmpty, kChar, kDead, kMacro } kind = kEmpty;
  char32_t ch = 0;  // kChar, kDead
  int macro = -1;   // kMacro: index into the macros
  bool operator==(const Cell&) const = default;
};

struct Key {
  const Row* row = nullptr;
  Cell cells[2][2];  // [no modifier, right Alt][plain, Shift]
  Cell caps[2];      // SGCap: the Caps Lock characters without a modifier
  CapsMode mode = CapsMode::kSame;
  unsigned fits = 0;    // bit m: caps mode m makes the same Caps Lock plane
  std::string leftOut;  // the entries of the states without a slot, for the comment
  std::string note;     // another comment
};

struct DeadKey {
  char32_t ch = 0;
  std::string name;
  std::vector<std::pair<char32_t, char32_t>> rows;
  std::vector<std::pair<char32_t, char32_t>> chains;  // base, then the dead key that follows as after it
};

struct Macro {
  std::string name;
  std::vector<char32_t> text;
};

constexpr std::string_view kSlotNames[2][2] = {{"plain", "shift"}, {"altgr", "shift-altgr"}};

std::string StateName(int state) {
  static const char* const kNames[] = {"plain", "Shift",     "Ctrl",  "Shift+Ctrl",
                                       "Alt",   "Shift+Alt", "AltGr", "Shift+AltGr"};
  return state < 8 ? kNames[state] : "state " + std::to_string(state);
}

// Where a shift state's characters go: {slot, column}; none for the states
// the library has no place for.
std::optional<std::pair<int, int>> PlaceOf(int state) {
  switch (state) {
    case 0:
      return std::make_pair(0, 0);
    case 1:
      return std::make_pair(0, 1);
    case 6:
      return std::make_pair(1, 0);
    case 7:
      return std::make_pair(1, 1);
    default:
      return std::nullopt;
  }
}

bool IsControl(char32_t c) {
  return c < 0x20 || c == 0x7F;
}

// A dead key's name from its KEYNAME_DEAD text: "ACUTE ACCENT" gives acute,
// "ACCENT AIGU" aigu, "TRÉMA" trema. Empty when nothing usable is left.
std::string DeadKeyName(const std::string& text) {
  static constexpr char kLatin1[] = "AAAAAAACEEEEIIIIDNOOOOO OUUUUYTsaaaaaaaceeeeiiiidnooooo ouuuuyty";
  std::vector<std::string> words(1);
  for (std::size_t i = 0; i < text.size();) {
    const char32_t c = NextUtf8(text, i);
    const char a = c < 0x80 ? static_cast<char>(c) : c >= 0xC0 && c <= 0xFF ? kLatin1[c - 0xC0] : ' ';
    if (std::isalnum(static_cast<unsigned char>(a))) {
      words.back() += static_cast<char>(std::tolower(static_cast<unsigned char>(a)));
    } else if (!words.back().empty()) {
      words.emplace_back();
    }
  }
  if (words.back().empty()) words.pop_back();
  if (words.size() > 1) words.erase(std::remove(words.begin(), words.end(), "accent"), words.end());
  std::string name;
  for (const std::string& w : words) name += (name.empty() ? "" : "-") + w;
  if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0]))) name = "dead-" + name;
  return name.size() >= 2 ? name : "";
}

// A comment in a layout block, its words wrapped at column 78 (the
// printer writes each line as "  # LINE").
std::vector<std::string> Comment(const std::string& text) {
  constexpr std::size_t kWidth = 78 - 4;
  std::vector<std::string> lines(1);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (!lines.back().empty() && Utf8Length(lines.back()) + 1 + Utf8Length(word) > kWidth) lines.emplace_back();
    lines.back() += (lines.back().empty() ? "" : " ") + word;
    start = end + 1;
  }
  return lines;
}

const char* ModeComment(CapsMode mode) {
  switch (mode) {
    case CapsMode::kLetters:
      return "Caps Lock swaps the case of letters";
    case CapsMode::kSame:
      return "Caps Lock changes nothing";
    case CapsMode::kShift:
      return "Caps Lock acts as Shift";
    case CapsMode::kAltGr:
      return "Caps Lock acts as Shift for the right-Alt characters";
    case CapsMode::kShiftAltGr:
      return "Caps Lock acts as Shift, with right Alt and without";
    case CapsMode::kNone:
      break;
  }
  return "";
}

// A character the layout holds, and where the .klc gives it (line 0: not in
// the file).
struct CharUse {
  char32_t ch;
  int line, column;
};

class Generator {
 public:
  // `complete`: the file was read without errors, so that a LIGATURE row
  // that no LAYOUT row takes is an error of its own.
  Generator(const Klc& klc, const std::string& file, const KlcImportOptions& options, bool complete,
            Diagnostics& diags)
      : k_(klc), file_(file), options_(options), complete_(complete), diags_(diags) {}

  bool Run(std::string& out) {
    ChooseCodePage();
    Name();
    DeadKeys();
    Keys();
    if (complete_) Ligatures();
    CheckSetSize();
    if (diags_.HasErrors()) return false;
    ChooseCaps();
    Write(out);
    return true;
  }

 private:
  void Error(int line, int column, const std::string& message) { diags_.Error(file_, line, column, message); }

  // Without a usable one, the rest is still checked, all but the characters.
  void ChooseCodePage() {
    codePage_ = options_.codePage;
    if (codePage_ == kCodePageOfLocale) {
      if (!k_.haveLocale) {
        Error(0, 0, "no LOCALEID, which gives the code page");
      } else if ((codePage_ = CodePageOfLanguage(k_.langId)) == 0) {
        Error(k_.localeLine, k_.localeColumn, "locale " + Hex(k_.langId, 4) + " has no Windows code page");
      }
    }
  }

  // True if the layout can hold `c`; else an error, or for a character that
  // the code page lacks with --skip-unmappable a warning that it is left out.
  bool Mappable(char32_t c, int line, int column) {
    if (c >= 0xD800 && c < 0xE000) {
      Error(line, column,
            CodePoint(c) +
                " is one half of a UTF-16 pair: a character beyond U+FFFF is written as a ligature of both");
      return false;
    }
    if (unicode_ || codePage_ <= 0 || EncodeChar(codePage_, c) >= 0) return true;
    const std::string message = CodePoint(c) + " is not in code page " + std::to_string(codePage_);
    if (options_.skipUnmappable) {
      diags_.Warning(file_, line, column, message + "; left out");
    } else {
      Error(line, column, message);
    }
    return false;
  }
  bool Mappable(const Entry& e) { return Mappable(e.ch, e.line, e.column); }
  void Use(const Entry& e) { uses_.push_back({e.ch, e.line, e.column}); }

  void Name() {
    CutName();
    // The name's characters are in the set too; in a unicode layout none was
    // left out, so each stands at its column of the file.
    int column = k_.descriptionColumn;
    for (std::size_t i = 0; i < name_.size(); ++column)
      uses_.push_back({NextUtf8(name_, i), k_.kbdLine, column});
  }

  void CutName() {
    std::size_t bytes = 0, cut = std::string::npos;
    int column = k_.descriptionColumn;
    for (std::size_t i = 0; i < k_.description.size(); ++column) {
      const std::size_t from = i;
      const char32_t c = NextUtf8(k_.description, i);
      if (!Mappable(c, k_.kbdLine, column)) continue;
      if (++bytes > kLayoutNameSize && cut == std::string::npos) cut = name_.size();
      name_ += k_.description.substr(from, i - from);
    }
    if (cut == std::string::npos) return;
    const std::string whole = name_;
    name_.resize(cut);
    while (!name_.empty() && name_.back() == ' ') name_.pop_back();
    const std::string size = unicode_
                                 ? std::to_string(bytes) + " characters"
                                 : std::to_string(bytes) + " bytes in code page " + std::to_string(codePage_);
    diags_.Warning(
        file_, k_.kbdLine, k_.descriptionColumn,
        "the layout name \"" + whole + "\" is " + size + "; cut to \"" + name_ + "\" (at most 20)");
  }

  void DeadKeys() {
    std::size_t rows = 0;
    for (const DeadSection& s : k_.deadKeys) {
      if (FindDead(s.dead.ch) >= 0) {
        Error(s.dead.line, s.dead.column, "a second DEADKEY section for " + CodePoint(s.dead.ch));
        continue;
      }
      const bool usable = Mappable(s.dead);
      DeadKey d{s.dead.ch, "", {}, {}};
      for (const auto& [base, result] : s.rows) {
        if (base.ch == ' ') {
          // The library types the dead key's own character for Space.
          if (result.ch != s.dead.ch) {
            diags_.Warning(file_, base.line, base.column,
                           "after a dead key Space types the dead key's own character; this row is left out");
          }
          continue;
        }
        if (result.kind == Entry::kDead) {
          // A dead key after which the keys go on as after another: the
          // table of states holds it, which only a unicode layout reads.
          if (!unicode_) {
            Error(result.line, result.column,
                  "a dead key chained to another (" + CodePoint(result.ch) +
                      "@) needs a unicode layout: import without --codepage");
            continue;
          }
          if (usable && Mappable(base)) {
            d.chains.push_back({base.ch, result.ch});
            chainedTo_.push_back(result);
            Use(base);
          }
          continue;
        }
        const bool baseOk = Mappable(base), resultOk = Mappable(result);
        if (!usable || !baseOk || !resultOk) continue;
        if (++rows > kDeadKeyRows) {
          Error(base.line, base.column, "more than 256 dead-key rows: the library's table holds 256");
          return;
        }
        d.rows.push_back({base.ch, result.ch});
        Use(base);
        Use(result);
      }
      if (!usable) continue;
      Use(s.dead);
      AddDead(std::move(d));
    }
    // A chain's dead key without a section of its own only types itself.
    for (const Entry& e : chainedTo_) {
      if (FindDead(e.ch) >= 0) continue;
      diags_.Warning(file_, e.line, e.column,
                     "dead key " + CodePoint(e.ch) + " has no DEADKEY section: it only types itself before Space");
      Use(e);
      AddDead({e.ch, "", {}, {}});
    }
  }

  int FindDead(char32_t c) const {
    for (std::size_t i = 0; i < dead_.size(); ++i) {
      if (dead_[i].ch == c) return static_cast<int>(i);
    }
    return -1;
  }

  void AddDead(DeadKey d) {
    std::string name;
    if (const auto it = k_.deadNames.find(d.ch); it != k_.deadNames.end()) name = DeadKeyName(it->second);
    const bool taken =
        std::any_of(dead_.begin(), dead_.end(), [&](const DeadKey& o) { return o.name == name; });
    d.name = name.empty() || taken ? "dead-" + LowerHex(d.ch, 4) : name;
    dead_.push_back(std::move(d));
  }

  Cell CellOf(const Entry& e, const Row& row, std::size_t stateColumn) {
    Cell c;
    if (e.kind == Entry::kLigature) {
      LigatureRow* lig = FindLigature(row.vk, stateColumn);
      if (lig == nullptr) {
        Error(e.line, e.column,
              "this %% has no LIGATURE row (" + row.vk + ", column " + std::to_string(stateColumn) + ")");
        return c;
      }
      lig->used = true;
      if (lig->chars.size() == 1) {  // one character, maybe of two UTF-16 halves
        const Entry& ch = lig->chars[0];
        if (IsControl(ch.ch)) {
          Error(ch.line, ch.column, "a ligature cannot type the control character " + CodePoint(ch.ch));
          return c;
        }
        if (!Mappable(ch)) return c;
        Use(ch);
        return {Cell::kChar, ch.ch, -1};
      }
      if (lig->chars.size() > kMaxMacroText) {
        Error(lig->line, lig->column,
              "a ligature of " + std::to_string(lig->chars.size()) + " characters: a macro types at most " +
                  std::to_string(kMaxMacroText));
        return c;
      }
      Macro m;
      for (const Entry& ch : lig->chars) {
        if (ch.ch == '{') {
          Error(ch.line, ch.column, "a ligature cannot hold '{': in a macro it opens a key chord");
        } else if (IsControl(ch.ch)) {
          Error(ch.line, ch.column, "a macro cannot type the control character " + CodePoint(ch.ch));
        } else if (Mappable(ch)) {
          m.text.push_back(ch.ch);
          Use(ch);
        }
      }
      if (m.text.empty()) return c;
      macros_.push_back(std::move(m));
      return {Cell::kMacro, 0, static_cast<int>(macros_.size() - 1)};
    }
    if (!Mappable(e)) return c;
    Use(e);
    if (e.kind == Entry::kDead && FindDead(e.ch) < 0) {
      diags_.Warning(
          file_, e.line, e.column,
          "dead key " + CodePoint(e.ch) + " has no DEADKEY section: it only types itself before Space");
      AddDead({e.ch, "", {}, {}});
    }
    return {e.kind == Entry::kDead ? Cell::kDead : Cell::kChar, e.ch, -1};
  }

  LigatureRow* FindLigature(const std::string& vk, std::size_t column) {
    for (LigatureRow& l : ligatures_) {
      if (l.vk == vk && l.stateColumn == column) return &l;
    }
    return nullptr;
  }

  std::string EntryText(const Entry& e) {
    if (e.kind == Entry::kLigature) return "ligature";
    return (e.kind == Entry::kDead ? "dead " : "") + (IsControl(e.ch) ? CodePoint(e.ch) : vkl::CharText(e.ch));
  }

  void Keys() {
    ligatures_ = k_.ligatures;
    for (const Row& row : k_.rows) {
      Key key;
      key.row = &row;
      bool any = false;
      for (std::size_t i = 0; i < row.entries.size(); ++i) {
        const Entry& e = row.entries[i];
        if (e.kind == Entry::kNone) continue;
        const auto place = PlaceOf(k_.states[i]);
        if (!place || (e.kind != Entry::kLigature && IsControl(e.ch))) {
          LigatureRow* lig = e.kind == Entry::kLigature ? FindLigature(row.vk, i) : nullptr;
          if (lig != nullptr) lig->used = true;  // left out with its entry
          if (!place) leftOutStates_.insert(k_.states[i]);
          key.leftOut += (key.leftOut.empty() ? "" : ", ") + StateName(k_.states[i]) + " " + EntryText(e);
          continue;
        }
        std::string macroName = "lig-" + Lower(KeyNameOfScan(row.scan)) + "-" +
                                std::string(kSlotNames[place->first][place->second]);
        std::replace(macroName.begin(), macroName.end(), ':', '-');  // sc:5a
        Cell& cell = key.cells[place->first][place->second];
        cell = CellOf(e, row, i);
        if (cell.kind == Cell::kMacro) macros_[static_cast<std::size_t>(cell.macro)].name = macroName;
        any = any || cell.kind != Cell::kEmpty;
      }
      for (std::size_t i = 0; i < row.capsEntries.size(); ++i) {
        const Entry& e = row.capsEntries[i];
        const auto place = PlaceOf(k_.states[i]);
        if (e.kind == Entry::kNone || !place || place->first != 0) continue;
        if (e.kind == Entry::kLigature) {
          Error(e.line, e.column, "a ligature (%%) cannot stand in the Caps Lock row of an SGCap key");
          continue;
        }
        if (IsControl(e.ch)) continue;
        key.caps[place->second] = CellOf(e, row, i);
        any = any || key.caps[place->second].kind != Cell::kEmpty;
      }
      static constexpr CapsMode kModes[] = {CapsMode::kSame, CapsMode::kShift, CapsMode::kSame,
                                            CapsMode::kSame, CapsMode::kAltGr, CapsMode::kShiftAltGr};
      key.mode = kModes[row.cap];
      if (!any && key.leftOut.empty()) continue;
      if (keys_.size() == kMaxKeys) {
        Error(row.line, 0, "more than 127 keys: a layout has room for 127");
        return;
      }
      keys_.push_back(std::move(key));
    }
    // The library types a dead key's accent for Space only when the layout
    // has Space.
    if (dead_.empty() || keys_.size() == kMaxKeys ||
        std::any_of(keys_.begin(), keys_.end(), [](const Key& k) { return k.row->scan == kSpaceScan; })) {
      return;
    }
    Key space;
    space.row = &spaceRow_;
    space.cells[0][0] = space.cells[0][1] = {Cell::kChar, ' ', -1};
    uses_.push_back({' ', 0, 0});
    space.note = "not in the source: Space types the accent after a dead key";
    keys_.push_back(std::move(space));
  }

  void Ligatures() {
    for (const LigatureRow& l : ligatures_) {
      if (l.used) continue;
      const auto row =
          std::find_if(k_.rows.begin(), k_.rows.end(), [&](const Row& r) { return r.vk == l.vk; });
      if (row == k_.rows.end()) {
        Error(l.line, l.column, "no LAYOUT row has the VK " + l.vk);
      } else {
        Error(l.line, l.column,
              "the LAYOUT row of " + l.vk + " (line " + std::to_string(row->line) +
                  ") has no %% in shift state column " + std::to_string(l.stateColumn));
      }
    }
  }

  // A unicode layout holds 255 different characters: the compiler would say
  // so of the written source; here it is said at the .klc's own place.
  void CheckSetSize() {
    if (!unicode_) return;
    std::vector<CharUse> uses = uses_;
    std::stable_sort(uses.begin(), uses.end(), [](const CharUse& a, const CharUse& b) {
      return std::make_pair(a.line == 0 ? INT_MAX : a.line, a.column) <
             std::make_pair(b.line == 0 ? INT_MAX : b.line, b.column);
    });
    std::set<char32_t> seen;
    const CharUse* first = nullptr;  // the first character too many
    for (const CharUse& u : uses) {
      if (seen.insert(u.ch).second && seen.size() == kMaxSetCharacters + 1) first = &u;
    }
    if (first == nullptr) return;
    Error(first->line, first->column,
          "the layout uses " + std::to_string(seen.size()) +
              " different characters, and a unicode layout holds at most 255: " + CodePoint(first->ch) +
              " is the 256th; leave keys out, or import with --codepage");
  }

  // The cells a caps mode other than letters makes of a key's plain plane.
  static std::array<std::array<Cell, 2>, 2> Derived(const Key& key, CapsMode mode) {
    std::array<std::array<Cell, 2>, 2> c{
        {{key.cells[0][0], key.cells[0][1]}, {key.cells[1][0], key.cells[1][1]}}};
    if (mode == CapsMode::kShift || mode == CapsMode::kShiftAltGr) std::swap(c[0][0], c[0][1]);
    if (mode == CapsMode::kAltGr || mode == CapsMode::kShiftAltGr) std::swap(c[1][0], c[1][1]);
    return c;
  }

  // The byte-level form of Derived, on a compiled record: Caps Lock as Shift
  // puts the Shift column on both sides of the plain one.
  static KeyRecord Derived(const KeyRecord& plain, CapsMode mode) {
    KeyRecord r = plain;
    const auto swap = [](KeySlot& s) {
      const auto column = [&](int col) {
        return std::make_pair(s.ch[col], s.flags >> col & (DeadKeyFlag(0) | MacroFlag(0)));
      };
      const auto [plainCh, plainFlags] = column(0);
      const auto [shiftCh, shiftFlags] = column(1);
      s.flags =
          static_cast<std::uint8_t>((s.flags & ~unsigned{kSlotFlagsMask}) | shiftFlags | plainFlags << 1 | plainFlags << 2);
      s.ch[0] = shiftCh;
      s.ch[1] = s.ch[2] = plainCh;
    };
    if (mode == CapsMode::kShift || mode == CapsMode::kShiftAltGr) swap(r.slots[kSlotPlain]);
    if (mode == CapsMode::kAltGr || mode == CapsMode::kShiftAltGr) swap(r.slots[kSlotRightAlt]);
    return r;
  }

  // Which keys caps mode `letters` gives the Caps Lock plane their .klc
  // wants. What is a letter, and its other case, is the compiler's to say
  // (its code page's or its Unicode table's), so it is asked: the source is
  // compiled with `letters` on every key. None, if that does not compile.
  std::vector<bool> LettersFit() {
    std::vector<bool> fit(keys_.size(), false);
    std::string text;
    probe_ = true;
    Write(text);
    probe_ = false;
    KeyboardDescription d;
    Diagnostics ignored;
    if (!CompileVklText(text, file_, d, ignored)) return fit;
    const unsigned layout = options_.layout;
    for (std::size_t i = 0; i < keys_.size(); ++i) {
      const std::uint8_t record = d.options.scanMap[keys_[i].row->scan];
      if (record == 0 || keys_[i].row->sgcap) continue;
      const KeyRecord want = Derived(d.keys.planes[layout][record], keys_[i].mode);
      fit[i] = std::memcmp(&want, &d.keys.planes[layout + 2][record], sizeof want) == 0;
    }
    return fit;
  }

  // The layout's caps mode: the one that makes the Caps Lock plane of the
  // most keys, so that the fewest key lines need a mode of their own.
  void ChooseCaps() {
    static constexpr CapsMode kCandidates[] = {CapsMode::kLetters, CapsMode::kShift, CapsMode::kSame,
                                               CapsMode::kAltGr, CapsMode::kShiftAltGr};
    int count[std::size(vkl::kCapsModes)] = {};
    const std::vector<bool> letters = LettersFit();
    for (std::size_t i = 0; i < keys_.size(); ++i) {
      Key& key = keys_[i];
      if (key.row->sgcap) continue;
      for (const CapsMode m : kCandidates) {
        if (m == CapsMode::kLetters ? !letters[i] : Derived(key, m) != Derived(key, key.mode)) continue;
        key.fits |= 1u << static_cast<int>(m);
        ++count[static_cast<int>(m)];
      }
    }
    caps_ = kCandidates[0];
    for (const CapsMode m : kCandidates) {
      if (count[static_cast<int>(m)] > count[static_cast<int>(caps_)]) caps_ = m;
    }
  }

  bool HasAltGr() const {
    return std::any_of(keys_.begin(), keys_.end(), [](const Key& k) {
      return k.cells[1][0].kind != Cell::kEmpty || k.cells[1][1].kind != Cell::kEmpty;
    });
  }

  compiler::Cell ModelCell(const Cell& c) const {
    compiler::Cell out;
    switch (c.kind) {
      case Cell::kEmpty:
        break;
      case Cell::kChar:
        out.kind = compiler::Cell::kChar;
        out.ch = {false, c.ch, {}};
        break;
      case Cell::kDead:
        out.kind = compiler::Cell::kDeadNamed;
        out.name = dead_[static_cast<std::size_t>(FindDead(c.ch))].name;
        break;
      case Cell::kMacro:
        out.kind = compiler::Cell::kMacro;
        out.name = macros_[static_cast<std::size_t>(c.macro)].name;
        break;
    }
    return out;
  }

  // A slot's plain and Shift cells; the Shift cell serves both Shift columns.
  void ModelSlot(const Cell (&c)[2], compiler::Cell (&out)[3]) const {
    out[0] = ModelCell(c[0]);
    out[1] = out[2] = ModelCell(c[1]);
  }

  static std::vector<compiler::Char> Chars(const std::vector<char32_t>& text) {
    std::vector<compiler::Char> out;
    for (const char32_t c : text) out.push_back({false, c, {}});
    return out;
  }

  // The layout as the language's model, for the printer.
  compiler::Model ToModel() const {
    compiler::Model m;
    const std::size_t slash = file_.find_last_of("/\\");
    const std::string n = std::to_string(options_.layout);
    m.header = {"Imported by veltoc import-klc from " + file_.substr(slash == std::string::npos ? 0 : slash + 1) + ":",
                "  " + k_.kbdText,
                options_.layout == 0 ? "It is layout 0." : "It is layout " + n + "; layout 0 leaves every key to the system.",
                "Keys and shift states that the source leaves empty (-1) go to the system."};
    compiler::SetChoice set;
    set.kind = unicode_ ? compiler::SetChoice::kUnicode : compiler::SetChoice::kCodePage;
    set.codePage = codePage_;
    m.set = set;
    if (options_.layout != 0) {
      compiler::LayoutDef& us = m.layouts[0];
      us.defined = true;
      us.name = Chars({U'U', U'S'});
      us.set = set;
    }
    compiler::LayoutDef& l = m.layouts[options_.layout];
    l.defined = true;
    std::vector<char32_t> name;
    for (std::size_t i = 0; i < name_.size();) name.push_back(NextUtf8(name_, i));
    l.name = Chars(name);
    l.set = set;
    if (HasAltGr()) {
      l.notes = {"Right Alt (AltGr) is this layout's: its characters arrive without it,",
                 "and its release does not open the window's menu."};
      for (const vkl::NamedBit& b : vkl::kModifierNames) {
        if (b.name == "ralt") l.claims = static_cast<std::uint16_t>(1u << b.bit);
      }
    }
    const bool othersDiffer = std::any_of(keys_.begin(), keys_.end(), [&](const Key& k) {
      return k.row->sgcap || (!probe_ && !(k.fits & 1u << static_cast<int>(caps_)));
    });
    l.caps = probe_ ? CapsMode::kLetters : caps_;
    l.seen.insert("caps");
    l.notes.push_back(std::string(ModeComment(l.caps)) + (othersDiffer ? "; keys that differ say so." : "."));
    if (!leftOutStates_.empty()) {
      std::string states;
      for (const int st : leftOutStates_) {
        states += (states.empty() ? "" : ", ") + std::to_string(st) + " (" + StateName(st) + ")";
      }
      const bool one = leftOutStates_.size() == 1;
      for (const std::string& line :
           Comment(std::string("Left out: shift state") + (one ? " " : "s ") + states + ". The library has no slot for " +
                   (one ? "it" : "them") +
                   ", and never types the control characters that Ctrl gives; each key notes what it leaves out.")) {
        l.notes.push_back(line);
      }
    }
    for (const Key& k : keys_) {
      compiler::KeyLine line;
      line.scan = k.row->scan;
      line.layout = static_cast<int>(options_.layout);
      line.hasCells = true;
      ModelSlot(k.cells[0], line.plain.cells[kSlotPlain]);
      ModelSlot(k.cells[1], line.plain.cells[kSlotRightAlt]);
      if (k.row->sgcap) {
        line.capsExplicit = true;
        ModelSlot(k.caps, line.caps.cells[kSlotPlain]);
        ModelSlot(k.cells[1], line.caps.cells[kSlotRightAlt]);
      } else if (!probe_ && !(k.fits & 1u << static_cast<int>(caps_))) {
        line.capsMode = k.mode;
      }
      line.note = !k.note.empty() ? k.note : k.leftOut.empty() ? "" : "left out: " + k.leftOut;
      m.keys.push_back(std::move(line));
    }
    for (const DeadKey& d : dead_) {
      m.deadNames[d.name] = {false, d.ch, {}};
      m.deadOrder.push_back(d.name);
      for (const auto& [base, result] : d.rows) {
        compiler::DeadRow r;
        r.name = d.name;
        r.dead = {false, d.ch, {}};
        r.base = {false, base, {}};
        r.result = {false, result, {}};
        m.deadRows.push_back(r);
      }
      for (const auto& [base, next] : d.chains) {
        compiler::Sequence q;
        q.start = {compiler::ComposeInput::kDead, {}, d.name, {}};
        q.inputs.push_back({compiler::ComposeInput::kChar, {false, base, {}}, {}, {}});
        q.result.dead = dead_[static_cast<std::size_t>(FindDead(next))].name;
        m.sequences.push_back(std::move(q));
      }
    }
    for (const Macro& mac : macros_) {
      compiler::MacroDef d;
      d.name = mac.name;
      d.text = Chars(mac.text);
      m.macros.push_back(std::move(d));
    }
    return m;
  }

  void Write(std::string& out) const { out = PrintModel(ToModel()); }

  const Klc& k_;
  const std::string& file_;
  const KlcImportOptions& options_;
  const bool complete_;
  Diagnostics& diags_;
  const bool unicode_ = options_.codePage == 0;
  int codePage_ = 0;  // of a code-page layout; 0 while unknown
  std::string name_;  // UTF-8, at most 20 bytes of the layout's set
  std::vector<DeadKey> dead_;
  std::vector<Entry> chainedTo_;  // the dead keys that rows chain to
  std::vector<Macro> macros_;
  std::vector<LigatureRow> ligatures_;
  std::vector<Key> keys_;
  std::set<int> leftOutStates_;
  std::vector<CharUse> uses_;  // every character written, at its place in the .klc
  bool probe_ = false;     // Write: every key with caps mode letters
  const Row spaceRow_{kSpaceScan, "SPACE", 0, 0, false, {}, {}};
  CapsMode caps_ = CapsMode::kLetters;
};

}  // namespace

int CodePageOfLanguage(unsigned langId) {
  // Languages whose script, and so code page, depends on the country.
  static constexpr std::pair<unsigned, int> kExact[] = {
      {0x081A, 1250}, {0x0C1A, 1251}, {0x101A, 1250}, {0x141A, 1250},
      {0x201A, 1251}, {0x082C, 1251}, {0x0843, 1251}, {0x0850, 0},
  };
  // By primary language (the low 10 bits).
  static constexpr std::pair<unsigned, int> kPrimary[] = {
      {0x03, 1252}, {0x06, 1252}, {0x07, 1252}, {0x09, 1252}, {0x0A, 1252}, {0x0B, 1252}, {0x0C, 1252},
      {0x0F, 1252}, {0x10, 1252}, {0x13, 1252}, {0x14, 1252}, {0x16, 1252}, {0x17, 1252}, {0x1D, 1252},
      {0x21, 1252}, {0x2D, 1252}, {0x34, 1252}, {0x35, 1252}, {0x36, 1252}, {0x38, 1252}, {0x3B, 1252},
      {0x3C, 1252}, {0x3E, 1252}, {0x41, 1252}, {0x52, 1252}, {0x56, 1252}, {0x62, 1252}, {0x6E, 1252},
      {0x6F, 1252}, {0x05, 1250}, {0x0E, 1250}, {0x15, 1250}, {0x18, 1250}, {0x1A, 1250}, {0x1B, 1250},
      {0x1C, 1250}, {0x24, 1250}, {0x02, 1251}, {0x19, 1251}, {0x22, 1251}, {0x23, 1251}, {0x28, 1251},
      {0x2F, 1251}, {0x3F, 1251}, {0x40, 1251}, {0x44, 1251}, {0x50, 1251}, {0x6D, 1251}, {0x85, 1251},
      {0x08, 1253}, {0x1F, 1254}, {0x2C, 1254}, {0x43, 1254}, {0x0D, 1255}, {0x01, 1256}, {0x20, 1256},
      {0x29, 1256}, {0x80, 1256}, {0x25, 1257}, {0x26, 1257}, {0x27, 1257}, {0x2A, 1258}, {0x1E, 874},
  };
  for (const auto& [id, cp] : kExact) {
    if (id == langId) return cp;
  }
  for (const auto& [id, cp] : kPrimary) {
    if (id == (langId & 0x3FF)) return cp;
  }
  return 0;
}

bool KlcToVkl(std::string_view bytes, const std::string& fileName, const KlcImportOptions& options,
              std::string& out, Diagnostics& diags) {
  out.clear();
  if (options.layout > 1) {
    diags.Error(fileName, 0, 0,
                "the imported layout is layout 0 or 1: layouts 2 and 3 have no keys of their own");
    return false;
  }
  if (options.codePage != 0 && options.codePage != kCodePageOfLocale &&
      !IsSupportedCodePage(options.codePage)) {
    diags.Error(
        fileName, 0, 0,
        "code page " + std::to_string(options.codePage) + " is none a layout can have: 874 or 1250 to 1258");
    return false;
  }
  Klc klc;
  Diagnostics found;
  Reader(fileName, found, klc).Read(DecodeText(bytes));
  // The rows that could be read are still checked, so that every error is reported.
  const bool complete = !found.HasErrors();
  std::string text;
  const bool generated = Generator(klc, fileName, options, complete, found).Run(text);
  // In the order of the file; what concerns the whole file last.
  std::vector<Diagnostic> sorted = found.all();
  std::stable_sort(sorted.begin(), sorted.end(), [](const Diagnostic& a, const Diagnostic& b) {
    const auto key = [](const Diagnostic& d) {
      return std::make_pair(d.line == 0 ? INT_MAX : d.line, d.column == 0 ? INT_MAX : d.column);
    };
    return key(a) < key(b);
  });
  for (const Diagnostic& d : sorted) {
    if (d.error) {
      diags.Error(d.file, d.line, d.column, d.message);
    } else {
      diags.Warning(d.file, d.line, d.column, d.message);
    }
  }
  if (!generated || !complete) return false;
  // What is written must compile; a failure here is the importer's own.
  KeyboardDescription d;
  Diagnostics check;
  if (!CompileVklText(text, "imported source", d, check)) {
    for (const Diagnostic& e : check.all()) {
      if (e.error) diags.Error(fileName, 0, 0, "the imported source does not compile: " + Format(e));
    }
    return false;
  }
  out = std::move(text);
  return true;
}

}  // namespace velto::layoutkit
