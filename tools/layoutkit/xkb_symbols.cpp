#include "layoutkit/xkb_symbols.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <optional>
#include <sstream>

#include "layoutkit/text.h"

namespace velto::layoutkit::xkb {

namespace {

// ---------------------------------------------------------------- the text

struct Token {
  enum Kind { kEnd, kIdent, kNumber, kString, kKeyName, kPunct } kind = kEnd;
  std::string text;  // a string without its quotes and escapes; a key name without < >
  int line = 0, column = 0;
};

std::vector<Token> Tokenize(const std::string& s, std::string& error, int& errorLine, int& errorColumn) {
  std::vector<Token> out;
  int line = 1;
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < s.size();) {
    const char c = s[i];
    const int column = static_cast<int>(i - lineStart) + 1;
    if (c == '\n') {
      ++line;
      lineStart = ++i;
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    if (c == '#' || (c == '/' && i + 1 < s.size() && s[i + 1] == '/')) {
      while (i < s.size() && s[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      const std::size_t end = s.find("*/", i + 2);
      const std::size_t stop = end == std::string::npos ? s.size() : end + 2;
      for (; i < stop; ++i) {
        if (s[i] == '\n') ++line, lineStart = i + 1;
      }
      continue;
    }
    Token t;
    t.line = line;
    t.column = column;
    if (c == '"') {
      t.kind = Token::kString;
      ++i;
      for (; i < s.size() && s[i] != '"' && s[i] != '\n'; ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
          const char e = s[++i];
          t.text += e == 'n' ? '\n' : e == 't' ? '\t' : e;
        } else {
          t.text += s[i];
        }
      }
      if (i >= s.size() || s[i] != '"') {
        error = "this string has no closing \"";
        errorLine = t.line, errorColumn = t.column;
        return {};
      }
      ++i;
    } else if (c == '<') {
      const std::size_t end = s.find_first_of(">\n", i);
      if (end == std::string::npos || s[end] != '>') {
        error = "this key name has no closing >";
        errorLine = t.line, errorColumn = t.column;
        return {};
      }
      t.kind = Token::kKeyName;
      t.text = s.substr(i + 1, end - i - 1);
      i = end + 1;
    } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
      t.kind = std::isdigit(static_cast<unsigned char>(c)) ? Token::kNumber : Token::kIdent;
      while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '_')) t.text += s[i++];
      // Keysym names such as "0x1000e9" and "3" are numbers; a number
      // followed by letters is a name all the same ("1st" is no keysym).
    } else {
      t.kind = Token::kPunct;
      t.text = std::string(1, c);
      ++i;
    }
    out.push_back(std::move(t));
  }
  Token end;
  end.line = line;
  end.column = static_cast<int>(s.size() - lineStart) + 1;
  out.push_back(end);
  return out;
}

// ------------------------------------------------------ what a file holds

enum class Merge { kDefault, kAugment, kOverride, kReplace };

struct GroupSyms {
  int group = -1;  // 0-based; -1: the next group without symbols
  std::vector<Level> levels;
};

struct KeyBody {
  bool hasDefaultType = false;
  std::string defaultType;
  std::vector<std::pair<int, std::string>> groupTypes;
  std::vector<GroupSyms> symbols;
  std::vector<int> actionGroups;  // -1: the next group without actions
};

struct Stmt {
  enum Kind { kInclude, kKey, kDefaultKey, kGroupName, kModMap, kType, kKeycode, kAlias } kind = kInclude;
  Merge merge = Merge::kDefault;
  Where where;
  std::string name;   // include text, key name, type name, keycode or alias name, group name's text
  std::string value;  // an alias's target
  int number = 0;     // a keycode; a group name's group (0-based)
  std::uint8_t mod = 0;  // modifier_map
  std::vector<std::pair<bool, std::string>> items;  // modifier_map: (by key, name)
  KeyBody key;
  KeyType type;
};

struct Section {
  std::string name;
  bool isDefault = false;
  std::vector<Stmt> stmts;
};

}  // namespace

struct Reader::Files {
  struct File {
    std::vector<Section> sections;
    Diagnostic error;  // why it cannot be read; none when its message is empty
  };
  std::map<std::string, File> files;
};

namespace {

std::optional<std::uint8_t> RealModOf(const std::string& name) {
  static const std::pair<const char*, std::uint8_t> kNames[] = {
      {"shift", kShift}, {"lock", kLock}, {"control", kControl}, {"ctrl", kControl}, {"mod1", kMod1},
      {"mod2", kMod2},   {"mod3", kMod3}, {"mod4", kMod4},       {"mod5", kMod5},    {"none", 0},
      {"any", 0xFF},     {"all", 0xFF}};
  const std::string lower = Lower(name);
  for (const auto& [n, m] : kNames) {
    if (lower == n) return m;
  }
  return std::nullopt;
}

// Reads one file's tokens into sections.
class Parser {
 public:
  Parser(std::vector<Token> tokens, std::string file) : t_(std::move(tokens)), file_(std::move(file)) {}

  bool Parse(std::vector<Section>& out) {
    while (Peek().kind != Token::kEnd) {
      Section s;
      bool sawType = false;
      while (Peek().kind == Token::kIdent) {
        const std::string w = Lower(Next().text);
        if (w == "default") s.isDefault = true;
        if (w.rfind("xkb_", 0) == 0) {
          sawType = true;
          break;
        }
      }
      if (!sawType) return Fail("a section starts with xkb_symbols, xkb_types or xkb_keycodes");
      if (Peek().kind == Token::kString) s.name = Next().text;
      if (!Expect("{")) return false;
      if (!Body(s.stmts)) return false;
      if (!Expect("}")) return false;
      Accept(";");
      out.push_back(std::move(s));
    }
    return true;
  }

  std::string error;
  int errorLine = 0, errorColumn = 0;

 private:
  const Token& Peek(std::size_t ahead = 0) const { return t_[std::min(pos_ + ahead, t_.size() - 1)]; }
  const Token& Next() {
    const Token& t = Peek();
    if (pos_ + 1 < t_.size()) ++pos_;
    return t;
  }
  bool Is(const char* punct, std::size_t ahead = 0) const {
    return Peek(ahead).kind == Token::kPunct && Peek(ahead).text == punct;
  }
  bool Accept(const char* punct) {
    if (!Is(punct)) return false;
    Next();
    return true;
  }
  bool Fail(const std::string& message) {
    if (error.empty()) {
      error = message;
      errorLine = Peek().line;
      errorColumn = Peek().column;
    }
    return false;
  }
  bool Expect(const char* punct) {
    if (Accept(punct)) return true;
    return Fail(std::string("expected \"") + punct + "\" here");
  }
  Where Here() const { return {file_, Peek().line, Peek().column}; }

  // Skips a statement xkbcomp reads and this reader does not need, up to
  // its ';' (braces and brackets balanced).
  bool SkipStatement() {
    int depth = 0;
    while (Peek().kind != Token::kEnd) {
      if (Is("{") || Is("[") || Is("(")) ++depth;
      if (Is("}") || Is("]") || Is(")")) {
        if (depth == 0) return Fail("unbalanced \"" + Peek().text + "\"");
        --depth;
      }
      if (depth == 0 && Is(";")) {
        Next();
        return true;
      }
      Next();
    }
    return Fail("the statement has no \";\"");
  }

  bool Body(std::vector<Stmt>& out) {
    while (!Is("}") && Peek().kind != Token::kEnd) {
      Stmt s;
      s.where = Here();
      if (Accept(";")) continue;
      if (Peek().kind == Token::kIdent) {
        const std::string w = Lower(Peek().text);
        const Merge m = w == "augment" ? Merge::kAugment
                        : w == "override" ? Merge::kOverride
                        : w == "replace" ? Merge::kReplace
                        : w == "alternate" ? Merge::kAugment
                        : w == "include" ? Merge::kDefault
                                         : static_cast<Merge>(-1);
        if (m != static_cast<Merge>(-1)) {
          Next();
          s.merge = m;
          if (Peek().kind == Token::kString) {
            s.kind = Stmt::kInclude;
            s.name = Next().text;
            Accept(";");
            out.push_back(std::move(s));
            continue;
          }
          if (w == "include") return Fail("include takes a \"string\"");
          s.where = Here();
        }
      }
      if (!Statement(s, out)) return false;
    }
    return true;
  }

  bool Statement(Stmt& s, std::vector<Stmt>& out) {
    const Token& first = Peek();
    const std::string w = Lower(first.text);
    if (first.kind == Token::kKeyName) {  // <NAME> = 9;
      s.kind = Stmt::kKeycode;
      s.name = Next().text;
      if (!Expect("=")) return false;
      if (Peek().kind != Token::kNumber) return Fail("a keycode is a number");
      s.number = static_cast<int>(std::strtol(Next().text.c_str(), nullptr, 0));
      if (!Expect(";")) return false;
      out.push_back(std::move(s));
      return true;
    }
    if (first.kind != Token::kIdent) return Fail("unexpected \"" + first.text + "\"");
    if (w == "alias" && Peek(1).kind == Token::kKeyName) {
      Next();
      s.kind = Stmt::kAlias;
      s.name = Next().text;
      if (!Expect("=")) return false;
      if (Peek().kind != Token::kKeyName) return Fail("an alias names a key: <NAME>");
      s.value = Next().text;
      if (!Expect(";")) return false;
      out.push_back(std::move(s));
      return true;
    }
    if (w == "key" && Peek(1).kind == Token::kKeyName) {
      Next();
      s.kind = Stmt::kKey;
      s.name = Next().text;
      if (!Expect("{")) return false;
      if (!KeyBodyOf(s.key, "}")) return false;
      if (!Expect("}")) return false;
      Accept(";");
      out.push_back(std::move(s));
      return true;
    }
    if (w == "key" && Is(".", 1)) {  // key.type[Group1] = "X";
      Next();
      Next();
      if (!KeyBodyOf(s.key, ";")) return false;
      if (!Expect(";")) return false;
      s.kind = Stmt::kDefaultKey;
      out.push_back(std::move(s));
      return true;
    }
    if ((w == "name" || w == "groupname") && Is("[", 1)) {
      Next();
      Next();
      const std::optional<int> g = GroupIndex();
      if (!g || !Expect("]") || !Expect("=")) return Fail("name[GroupN] = \"NAME\";");
      if (Peek().kind != Token::kString) return Fail("a group's name is a \"string\"");
      s.kind = Stmt::kGroupName;
      s.number = *g;
      s.name = Next().text;
      if (!Expect(";")) return false;
      out.push_back(std::move(s));
      return true;
    }
    if (w == "modifier_map" || w == "mod_map" || w == "modmap") {
      Next();
      if (Peek().kind != Token::kIdent) return Fail("modifier_map names a real modifier");
      const std::optional<std::uint8_t> m = RealModOf(Peek().text);
      Next();
      if (!Expect("{")) return false;
      while (!Is("}") && Peek().kind != Token::kEnd) {
        const Token& item = Next();
        if (item.kind == Token::kKeyName) {
          s.items.push_back({true, item.text});
        } else if (item.kind == Token::kIdent || item.kind == Token::kNumber) {
          s.items.push_back({false, item.text});
        } else if (item.text != ",") {
          return Fail("a modifier map lists keys <NAME> and keysyms");
        }
      }
      if (!Expect("}")) return false;
      Accept(";");
      if (m && *m != 0 && *m != 0xFF) {  // another name is xkbcomp's error, skipped
        s.kind = Stmt::kModMap;
        s.mod = *m;
        out.push_back(std::move(s));
      }
      return true;
    }
    if (w == "type" && Peek(1).kind == Token::kString) {
      Next();
      s.kind = Stmt::kType;
      s.type.name = Next().text;
      s.type.where = s.where;
      if (!Expect("{")) return false;
      if (!TypeBody(s.type)) return false;
      if (!Expect("}")) return false;
      Accept(";");
      out.push_back(std::move(s));
      return true;
    }
    return SkipStatement();  // virtual_modifiers, indicator, minimum, interpret, ...
  }

  // Group1, group2, 1 (`prefix` "group", up to `max`), and the same for
  // levels: 0-based.
  std::optional<int> Numbered(std::string_view prefix, unsigned max, const char* message) {
    const Token& t = Next();
    std::string digits = t.text;
    if (t.kind == Token::kIdent && StartsWithNoCase(t.text, prefix)) digits = t.text.substr(prefix.size());
    const auto n = ParseDecimal(digits, 3);
    if (!n || *n < 1 || *n > max) {
      Fail(message);
      return std::nullopt;
    }
    return static_cast<int>(*n) - 1;
  }
  std::optional<int> GroupIndex() { return Numbered("group", 32, "a group is Group1 to Group4"); }
  std::optional<int> LevelOf() { return Numbered("level", 255, "a level is Level1, Level2, ..."); }

  // The fields of a key statement up to `end`, or of one `key.` default.
  bool KeyBodyOf(KeyBody& body, const char* end) {
    while (!Is(end) && Peek().kind != Token::kEnd) {
      if (Is("[")) {  // a bare list: symbols, or actions when it calls functions
        if (LooksLikeActions()) {
          body.actionGroups.push_back(-1);
          if (!SkipValue()) return false;
        } else {
          GroupSyms g;
          if (!SymbolList(g.levels)) return false;
          body.symbols.push_back(std::move(g));
        }
      } else if (Peek().kind == Token::kIdent) {
        const std::string field = Lower(Next().text);
        std::optional<int> group;
        if (Accept("[")) {
          group = GroupIndex();
          if (!group || !Expect("]")) return false;
        }
        if (!Expect("=")) return false;
        if (field == "type") {
          if (Peek().kind != Token::kString) return Fail("a key's type is a \"string\"");
          const std::string type = Next().text;
          if (group) {
            body.groupTypes.push_back({*group, type});
          } else {
            body.hasDefaultType = true;
            body.defaultType = type;
          }
        } else if (field == "symbols") {
          GroupSyms g;
          g.group = group.value_or(-1);
          if (!SymbolList(g.levels)) return false;
          body.symbols.push_back(std::move(g));
        } else if (field == "actions") {
          body.actionGroups.push_back(group.value_or(-1));
          if (!SkipValue()) return false;
        } else if (!SkipValue()) {  // vmods, repeat, overlays, ...
          return false;
        }
      } else {
        return Fail("unexpected \"" + Peek().text + "\" in a key's definition");
      }
      if (!Accept(",")) break;
    }
    return true;
  }

  bool LooksLikeActions() const {
    for (std::size_t i = 1; pos_ + i < t_.size(); ++i) {
      if (Is("]", i) || Is(",", i)) return false;
      if (Is("(", i)) return true;
    }
    return false;
  }

  // A value up to the next ',' or closing bracket at its own depth.
  bool SkipValue() {
    int depth = 0;
    while (Peek().kind != Token::kEnd) {
      if (depth == 0 && (Is(",") || Is("}") || Is(";"))) return true;
      if (Is("[") || Is("(") || Is("{")) ++depth;
      if (Is("]") || Is(")") || Is("}")) {
        if (depth == 0) return true;
        --depth;
      }
      Next();
    }
    return Fail("the key's definition has no end");
  }

  // [ a, A, {b, c}, NoSymbol ]
  bool SymbolList(std::vector<Level>& levels) {
    if (!Expect("[")) return false;
    while (!Is("]") && Peek().kind != Token::kEnd) {
      Level l;
      l.where = Here();
      if (Accept("{")) {
        while (!Is("}") && Peek().kind != Token::kEnd) {
          if (!Keysym(l.syms)) return false;
          if (!Accept(",")) break;
        }
        if (!Expect("}")) return false;
      } else if (!Keysym(l.syms)) {
        return false;
      }
      levels.push_back(std::move(l));
      if (!Accept(",")) break;
    }
    return Expect("]");
  }

  bool Keysym(std::vector<std::string>& syms) {
    const Token& t = Peek();
    if (t.kind != Token::kIdent && t.kind != Token::kNumber) return Fail("a keysym is a name or a number");
    std::string name = Next().text;
    // As xkbcomp: "any" is NoSymbol, which leaves a level to merge into;
    // "none" is VoidSymbol, which fills it with nothing.
    const std::string lower = Lower(name);
    if (lower == "none" || lower == "voidsymbol") name = "VoidSymbol";
    if (lower != "nosymbol" && lower != "any") syms.push_back(std::move(name));
    return true;
  }

  std::optional<Mods> ModsOf() {
    Mods m;
    do {
      if (Peek().kind != Token::kIdent) {
        Fail("a modifier is a name: Shift, Lock, Control, Mod1 to Mod5 or a virtual modifier");
        return std::nullopt;
      }
      const std::string name = Next().text;
      if (const auto real = RealModOf(name)) {
        m.real = static_cast<std::uint8_t>(m.real | *real);
      } else {
        m.virtuals.push_back(name);
      }
    } while (Accept("+"));
    return m;
  }

  bool TypeBody(KeyType& type) {
    while (!Is("}") && Peek().kind != Token::kEnd) {
      if (Accept(";")) continue;
      const std::string field = Lower(Peek().text);
      if (field == "modifiers") {
        Next();
        if (!Expect("=")) return false;
        const auto m = ModsOf();
        if (!m || !Expect(";")) return false;
        type.mods = *m;
      } else if ((field == "map" || field == "preserve") && Is("[", 1)) {
        Next();
        Next();
        const auto m = ModsOf();
        if (!m || !Expect("]") || !Expect("=")) return false;
        const auto same = [&](const KeyType::Entry& e) {
          return e.mods.real == m->real && e.mods.virtuals == m->virtuals;
        };
        auto entry = std::find_if(type.entries.begin(), type.entries.end(), same);
        if (entry == type.entries.end()) {
          type.entries.push_back({*m, 0, {}});
          entry = type.entries.end() - 1;
        }
        if (field == "map") {
          const auto level = LevelOf();
          if (!level) return false;
          entry->level = *level;
          type.levels = std::max(type.levels, *level + 1);
        } else {
          const auto p = ModsOf();
          if (!p) return false;
          entry->preserve = *p;
        }
        if (!Expect(";")) return false;
      } else if (field == "level_name" && Is("[", 1)) {  // names a level, which the type then has
        Next();
        Next();
        const auto level = LevelOf();
        if (!level || !Expect("]")) return false;
        type.levels = std::max(type.levels, *level + 1);
        if (!SkipStatement()) return false;
      } else if (!SkipStatement()) {
        return false;
      }
    }
    return true;
  }

  std::vector<Token> t_;
  std::string file_;
  std::size_t pos_ = 0;
};

// "pc+us(intl)+inet(evdev):2|foo": each part with its merge mode, file,
// section and group.
struct IncludePart {
  Merge merge;
  std::string file, section;
  int group = -1;  // 0-based explicit group; -1: none
};

bool ParseInclude(const std::string& text, Merge first, std::vector<IncludePart>& out) {
  std::size_t i = 0;
  Merge merge = first;
  while (i < text.size()) {
    IncludePart p;
    p.merge = merge;
    const std::size_t end = text.find_first_of("+|", i);
    std::string part = text.substr(i, end == std::string::npos ? std::string::npos : end - i);
    const std::size_t colon = part.find(':');
    if (colon != std::string::npos) {
      const auto g = ParseDecimal(part.substr(colon + 1), 2);
      if (!g || *g < 1) return false;
      p.group = static_cast<int>(*g) - 1;
      part.resize(colon);
    }
    const std::size_t open = part.find('(');
    if (open != std::string::npos) {
      if (part.back() != ')') return false;
      p.section = part.substr(open + 1, part.size() - open - 2);
      part.resize(open);
    }
    if (part.empty()) return false;
    p.file = part;
    out.push_back(p);
    if (end == std::string::npos) break;
    merge = text[end] == '|' ? Merge::kAugment : Merge::kOverride;
    i = end + 1;
  }
  return !out.empty();
}

// --------------------------------------------------- symbols, as xkbcomp

struct GroupInfo {
  bool syms = false, acts = false, typed = false;
  std::string type;
  std::vector<Level> levels;
};

struct KeyInfo {
  Merge merge = Merge::kOverride;
  std::string name;
  std::vector<GroupInfo> groups;
  bool hasDefaultType = false;
  std::string defaultType;
  Where where;
};

struct ModMapInfo {
  Merge merge;
  ModMapEntry entry;
};

struct SymbolsInfo {
  int explicitGroup = -1;
  std::vector<KeyInfo> keys;
  std::map<std::string, std::size_t> index;
  std::vector<ModMapInfo> modmaps;
  std::map<int, std::string> groupNames;
  KeyInfo defaultKey;
};

void MergeGroups(GroupInfo& into, GroupInfo& from, bool clobber) {
  if (from.typed && (!into.typed || clobber)) into.type = from.type;
  into.typed = into.typed || from.typed;
  if (from.levels.empty()) return;
  if (into.levels.empty()) {
    const bool typed = into.typed;
    const std::string type = into.type;
    into = from;
    into.typed = typed, into.type = type;
    return;
  }
  const std::size_t both = std::min(into.levels.size(), from.levels.size());
  for (std::size_t i = 0; i < both; ++i) {
    if (from.levels[i].syms.empty()) continue;
    if (into.levels[i].syms.empty() || clobber) into.levels[i] = from.levels[i];
  }
  for (std::size_t i = both; i < from.levels.size(); ++i) into.levels.push_back(from.levels[i]);
  into.syms = into.syms || from.syms;
  into.acts = into.acts || from.acts;
}

void MergeKeys(KeyInfo& into, KeyInfo& from) {
  if (from.merge == Merge::kReplace) {
    into = from;
    return;
  }
  const bool clobber = from.merge != Merge::kAugment;
  const std::size_t both = std::min(into.groups.size(), from.groups.size());
  for (std::size_t i = 0; i < both; ++i) MergeGroups(into.groups[i], from.groups[i], clobber);
  for (std::size_t i = both; i < from.groups.size(); ++i) into.groups.push_back(from.groups[i]);
  if (from.hasDefaultType && (!into.hasDefaultType || clobber)) {
    into.defaultType = from.defaultType;
    into.hasDefaultType = true;
  }
  if (!from.groups.empty() && from.groups[0].syms && (clobber || into.where.line == 0)) into.where = from.where;
}

void AddKey(SymbolsInfo& info, KeyInfo& key) {
  const auto known = info.index.find(key.name);
  if (known != info.index.end()) return MergeKeys(info.keys[known->second], key);
  info.index[key.name] = info.keys.size();
  info.keys.push_back(std::move(key));
}

void AddModMap(SymbolsInfo& info, const ModMapInfo& m) {
  for (ModMapInfo& old : info.modmaps) {
    if (old.entry.byKey != m.entry.byKey || old.entry.name != m.entry.name) continue;
    if (m.merge != Merge::kAugment) old.entry.mod = m.entry.mod;
    return;
  }
  info.modmaps.push_back(m);
}

void MergeIncluded(SymbolsInfo& into, SymbolsInfo& from, Merge merge) {
  for (auto& [group, name] : from.groupNames) {
    if (merge == Merge::kAugment && into.groupNames.count(group) != 0) continue;
    into.groupNames[group] = name;
  }
  for (KeyInfo& key : from.keys) {
    if (merge != Merge::kDefault) key.merge = merge;
    AddKey(into, key);
  }
  for (ModMapInfo& m : from.modmaps) {
    if (merge != Merge::kDefault) m.merge = merge;
    AddModMap(into, m);
  }
}

// How one call evaluates sections, with the reader's cache of files.
struct Evaluation {
  Reader& reader;
  Reader::Files& files;
  const Keymap& keymap;  // for aliases
  int depth = 0;

  Diagnostics& diags() { return reader.diagnostics(); }

  const Section* Find(const std::string& dir, const IncludePart& part, const Where* from) {
    const std::string path = reader.root() + "/" + dir + "/" + part.file;
    auto it = files.files.find(path);
    if (it == files.files.end()) {
      Reader::Files::File file;
      std::ifstream in(path, std::ios::binary);
      std::ostringstream text;
      if (in) text << in.rdbuf();
      if (!in) {
        file.error = {path, 0, 0, true, "cannot read this file"};
      } else {
        std::string error;
        int line = 0, column = 0;
        std::vector<Token> tokens = Tokenize(text.str(), error, line, column);
        Parser parser(std::move(tokens), path);
        if (error.empty() && !parser.Parse(file.sections)) {
          error = parser.error, line = parser.errorLine, column = parser.errorColumn;
        }
        if (!error.empty()) file.error = {path, line, column, true, error};
      }
      it = files.files.emplace(path, std::move(file)).first;
    }
    diags().NoteFile(path);
    const Diagnostic& error = it->second.error;
    if (!error.message.empty()) {
      if (error.line == 0 && from != nullptr) {
        diags().Error(from->file, from->line, from->column, "cannot read " + path);
      } else {
        diags().Error(error.file, error.line, error.column, error.message);
      }
      return nullptr;
    }
    const std::vector<Section>& sections = it->second.sections;
    if (part.section.empty()) {
      for (const Section& s : sections) {
        if (s.isDefault) return &s;
      }
      if (!sections.empty()) return &sections.front();
    } else {
      for (const Section& s : sections) {
        if (s.name == part.section) return &s;
      }
    }
    const std::string what = part.section.empty() ? "no section" : "no section \"" + part.section + "\"";
    if (from != nullptr) {
      diags().Error(from->file, from->line, from->column, path + " has " + what);
    } else {
      diags().Error(path, 0, 0, "this file has " + what);
    }
    return nullptr;
  }

  bool TooDeep(const Where* from) {
    if (depth < 30) return false;
    diags().Error(from != nullptr ? from->file : reader.root(), from != nullptr ? from->line : 0,
                  from != nullptr ? from->column : 0, "includes nest too deep (one includes itself?)");
    return true;
  }

  // ---- symbols

  bool IncludeSymbols(SymbolsInfo& info, const std::string& text, Merge merge, const Where* from) {
    std::vector<IncludePart> parts;
    if (!ParseInclude(text, merge, parts)) {
      const Where w = from != nullptr ? *from : Where{reader.root(), 0, 0};
      diags().Error(w.file, w.line, w.column, "bad include \"" + text + "\"");
      return false;
    }
    SymbolsInfo included;
    for (const IncludePart& part : parts) {
      const Section* s = Find("symbols", part, from);
      if (s == nullptr || TooDeep(from)) return false;
      SymbolsInfo next;
      next.explicitGroup = part.group >= 0 ? part.group : info.explicitGroup;
      ++depth;
      const bool ok = Symbols(next, *s);
      --depth;
      if (!ok) return false;
      MergeIncluded(included, next, part.merge);
    }
    MergeIncluded(info, included, parts.front().merge);
    return true;
  }

  static void ApplyBody(KeyInfo& key, const KeyBody& body, const Where& where) {
    if (body.hasDefaultType) {
      key.hasDefaultType = true;
      key.defaultType = body.defaultType;
    }
    const auto group = [&](std::size_t g) -> GroupInfo& {
      if (key.groups.size() <= g) key.groups.resize(g + 1);
      return key.groups[g];
    };
    for (const auto& [g, type] : body.groupTypes) {
      group(static_cast<std::size_t>(g)).type = type;
      group(static_cast<std::size_t>(g)).typed = true;
    }
    for (const GroupSyms& s : body.symbols) {
      std::size_t g = 0;
      if (s.group >= 0) {
        g = static_cast<std::size_t>(s.group);
      } else {
        while (g < key.groups.size() && key.groups[g].syms) ++g;
      }
      GroupInfo& info = group(g);
      if (info.syms) continue;  // xkbcomp's error: the same group twice
      info.syms = true;
      if (info.levels.size() < s.levels.size()) info.levels.resize(s.levels.size());
      for (std::size_t i = 0; i < s.levels.size(); ++i) info.levels[i] = s.levels[i];
      if (g == 0) key.where = where;
    }
    for (const int a : body.actionGroups) {
      std::size_t g = 0;
      if (a >= 0) {
        g = static_cast<std::size_t>(a);
      } else {
        while (g < key.groups.size() && key.groups[g].acts) ++g;
      }
      group(g).acts = true;
    }
  }

  bool Symbols(SymbolsInfo& info, const Section& section) {
    for (const Stmt& s : section.stmts) {
      switch (s.kind) {
        case Stmt::kInclude:
          if (!IncludeSymbols(info, s.name, s.merge, &s.where)) return false;
          break;
        case Stmt::kKey: {
          KeyInfo key = info.defaultKey;
          key.merge = s.merge;
          key.name = keymap.RealName(s.name);
          key.where = s.where;
          ApplyBody(key, s.key, s.where);
          if (info.explicitGroup >= 0) {
            // An explicit group keeps group 1 only, and moves it there.
            if (key.groups.size() > 1) key.groups.resize(1);
            if (info.explicitGroup > 0 && !key.groups.empty()) {
              key.groups.resize(static_cast<std::size_t>(info.explicitGroup) + 1);
              std::swap(key.groups[0], key.groups.back());
            }
          }
          AddKey(info, key);
          break;
        }
        case Stmt::kDefaultKey:
          ApplyBody(info.defaultKey, s.key, s.where);
          break;
        case Stmt::kGroupName: {
          int g = s.number;
          if (info.explicitGroup >= 0) {
            if (g != 0) break;
            g = info.explicitGroup;
          }
          info.groupNames[g] = s.name;
          break;
        }
        case Stmt::kModMap:
          for (const auto& [byKey, name] : s.items) {
            AddModMap(info, {s.merge, {s.mod, byKey, byKey ? keymap.RealName(name) : name}});
          }
          break;
        default:
          break;  // types and keycodes do not belong here; xkbcomp skips them
      }
    }
    return true;
  }

  // ---- types

  bool Types(std::map<std::string, KeyType>& types, const Section& section, Merge merge) {
    for (const Stmt& s : section.stmts) {
      if (s.kind == Stmt::kInclude) {
        if (!IncludeOthers(s.name, s.merge, &s.where, "types",
                           [&](const Section& inc, Merge m) { return Types(types, inc, m); })) {
          return false;
        }
      } else if (s.kind == Stmt::kType) {
        const Merge m = s.merge == Merge::kDefault ? merge : s.merge;
        if (m == Merge::kAugment && types.count(s.type.name) != 0) continue;
        types[s.type.name] = s.type;
      }
    }
    return true;
  }

  // ---- keycodes

  bool Keycodes(Keymap& out, const Section& section, Merge merge) {
    for (const Stmt& s : section.stmts) {
      const Merge m = s.merge == Merge::kDefault ? merge : s.merge;
      if (s.kind == Stmt::kInclude) {
        if (!IncludeOthers(s.name, s.merge, &s.where, "keycodes",
                           [&](const Section& inc, Merge im) { return Keycodes(out, inc, im); })) {
          return false;
        }
      } else if (s.kind == Stmt::kKeycode) {
        if (m == Merge::kAugment && out.keycodes.count(s.name) != 0) continue;
        out.keycodes[s.name] = s.number;
      } else if (s.kind == Stmt::kAlias) {
        if (m == Merge::kAugment && out.aliases.count(s.name) != 0) continue;
        out.aliases[s.name] = s.value;
      }
    }
    return true;
  }

  // Types and keycodes merge name by name: each part in turn.
  template <typename Apply>
  bool IncludeOthers(const std::string& text, Merge merge, const Where* from, const char* dir, Apply apply) {
    std::vector<IncludePart> parts;
    if (!ParseInclude(text, merge, parts)) {
      const Where w = from != nullptr ? *from : Where{reader.root(), 0, 0};
      diags().Error(w.file, w.line, w.column, "bad include \"" + text + "\"");
      return false;
    }
    for (const IncludePart& part : parts) {
      const Section* s = Find(dir, part, from);
      if (s == nullptr || TooDeep(from)) return false;
      ++depth;
      const bool ok = apply(*s, part.merge);
      --depth;
      if (!ok) return false;
    }
    return true;
  }
};

}  // namespace

const Key* Keymap::FindKey(const std::string& name) const {
  const std::string real = RealName(name);
  for (const Key& k : keys) {
    if (k.name == real) return &k;
  }
  return nullptr;
}

std::string Keymap::RealName(const std::string& name) const {
  std::string n = name;
  for (int i = 0; i < 4 && keycodes.count(n) == 0; ++i) {
    const auto a = aliases.find(n);
    if (a == aliases.end()) break;
    n = a->second;
  }
  return n;
}

Reader::Reader(std::string root) : root_(std::move(root)), files_(std::make_unique<Files>()) {}

Reader::~Reader() = default;

bool Reader::ReadKeycodes(const std::string& components, Keymap& out) {
  Evaluation e{*this, *files_, out};
  return e.IncludeOthers(components, Merge::kOverride, nullptr, "keycodes",
                         [&](const Section& s, Merge m) { return e.Keycodes(out, s, m); });
}

bool Reader::ReadTypes(const std::string& components, Keymap& out) {
  Evaluation e{*this, *files_, out};
  return e.IncludeOthers(components, Merge::kOverride, nullptr, "types",
                         [&](const Section& s, Merge m) { return e.Types(out.types, s, m); });
}

bool Reader::ReadSymbols(const std::string& components, Keymap& out) {
  Evaluation e{*this, *files_, out};
  SymbolsInfo info;
  if (!e.IncludeSymbols(info, components, Merge::kOverride, nullptr)) return false;
  const auto name = info.groupNames.find(0);
  if (name != info.groupNames.end()) out.groupName = name->second;
  for (KeyInfo& k : info.keys) {
    if (out.keycodes.count(k.name) == 0) continue;  // xkbcomp drops keys the keycodes lack
    Key key;
    key.name = k.name;
    key.where = k.where;
    if (!k.groups.empty()) {
      GroupInfo& g = k.groups[0];
      key.type = g.typed ? g.type : k.hasDefaultType ? k.defaultType : "";
      key.levels = std::move(g.levels);
      key.actions = g.acts;
    }
    out.keys.push_back(std::move(key));
  }
  for (const ModMapInfo& m : info.modmaps) out.modmap.push_back(m.entry);
  return true;
}

}  // namespace velto::layoutkit::xkb
