// The Compose file reader. A line is `<k1> <k2> ... : "text" [keysym]`,
// `include "FILE"`, or a comment after '#'. The keysyms are looked up by
// name (keysyms.h); what a Compose file can say and Velto cannot type is
// left out without a word, since the system files say much of it.
#include "layoutkit/compose_file.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "layoutkit/keysyms.h"
#include "layoutkit/text.h"
#include "layoutkit/vkb.h"

namespace velto::layoutkit {

namespace {

constexpr int kMaxComposeIncludeDepth = 8;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string HomeDir() {
  for (const char* name : {"HOME", "USERPROFILE"}) {
    if (const char* v = std::getenv(name); v != nullptr && *v != '\0') return v;
  }
  return "";
}

}  // namespace

std::string ComposeDir() {
  if (const char* v = std::getenv("VELTO_COMPOSE_DIR"); v != nullptr && *v != '\0') return v;
#ifdef _WIN32
  char path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n > 0 && n < MAX_PATH) {
    const std::string program(path, n);
    const std::size_t slash = program.find_last_of("\\/");
    if (slash != std::string::npos) return program.substr(0, slash + 1) + "locale";
  }
#endif
  return kSystemComposeDir;
}

std::string SystemComposeFile(const std::string& locale, const std::string& systemDir) {
  std::vector<std::uint8_t> bytes;
  Diagnostics ignored;
  if (!ReadFile(systemDir + "/compose.dir", bytes, ignored)) return "";
  const std::string text(bytes.begin(), bytes.end());
  // Lines "en_US.UTF-8/Compose:    en_US.UTF-8": the file, then the locale.
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const std::size_t colon = line.find(':');
    if (line.empty() || line[0] == '#' || colon == std::string::npos) continue;
    std::size_t from = colon + 1;
    while (from < line.size() && IsSpace(line[from])) ++from;
    std::size_t to = from;
    while (to < line.size() && !IsSpace(line[to])) ++to;
    if (line.substr(from, to - from) == locale) return systemDir + "/" + line.substr(0, colon);
  }
  return "";
}

namespace compiler {

namespace {

class ComposeReader {
 public:
  ComposeReader(const std::string& locale, Model& model, Reporter& report, bool composeKeyOnly)
      : locale_(locale), m_(model), report_(report), composeKeyOnly_(composeKeyOnly) {}

  // %H, %L, %S and %% of an include's name; empty (said at `at`) when one
  // cannot be expanded.
  std::string Expand(const std::string& name, const std::string& from, const Pos* at) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
      if (name[i] != '%' || i + 1 == name.size()) {
        out += name[i];
        continue;
      }
      const char c = name[++i];
      if (c == '%') {
        out += '%';
      } else if (c == 'H') {
        const std::string home = HomeDir();
        if (home.empty()) return Fail(at, "%H names the home folder, and $HOME is not set");
        out += home;
      } else if (c == 'L') {
        const std::string file = SystemComposeFile(locale_);
        if (file.empty()) {
          return Fail(at, "%L: " + ComposeDir() + "/compose.dir names no Compose file for locale " + locale_);
        }
        out += file;
      } else if (c == 'S') {
        out += ComposeDir();
      } else {
        return Fail(at, std::string("unknown %") + c + " in a Compose file's name; use %H, %L, %S or %%");
      }
    }
    const bool absolute = !out.empty() && (out[0] == '/' || out[0] == '\\' || (out.size() > 1 && out[1] == ':'));
    const std::size_t slash = from.find_last_of("/\\");
    if (!absolute && slash != std::string::npos) out = from.substr(0, slash + 1) + out;
    return out;
  }

  bool ReadFile(const std::string& path, int depth, const Pos* from) {
    std::vector<std::uint8_t> bytes;
    Diagnostics ignored;
    report_.diagnostics().NoteFile(path);
    if (!layoutkit::ReadFile(path, bytes, ignored)) {
      if (from != nullptr) report_.Error(*from, "cannot read included Compose file \"" + path + "\"");
      return false;
    }
    const int file = report_.AddFile(path);
    // The system's files are as they come, some of them with lines that
    // libX11 itself leaves out (a keysym that does not exist); those of
    // other locales keep their texts in the locale's encoding, which the
    // keysym after each says in Unicode.
    const std::string system = ComposeDir() + "/";
    const bool wasSystem = system_, wasUtf8 = utf8_;
    system_ = path.compare(0, system.size(), system) == 0;
    utf8_ = !system_ || path.find("UTF-8") != std::string::npos;
    const std::string text(bytes.begin(), bytes.end());
    int line = 0;
    for (std::size_t start = 0; start <= text.size();) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      Line(std::string_view(text).substr(start, end - start), {file, ++line, 1}, path, depth);
      start = end + 1;
    }
    system_ = wasSystem, utf8_ = wasUtf8;
    return true;
  }

  // Keysyms that are different names of one character (approximate and
  // U223C) make sequences of the same keys here. Of those, the first of a
  // file stands; a sequence that repeats or begins another by the very
  // same keysyms is left to SettleSequences, which says so.
  std::vector<Sequence> WithoutAliases() {
    std::map<int, std::map<std::vector<std::string>, std::size_t>> seen;  // file -> keys -> index
    std::vector<Sequence> kept;
    for (std::size_t i = 0; i < sequences_.size(); ++i) {
      const std::vector<std::string> keys = CharKeys(sequences_[i]);
      const std::vector<std::string>& spelt = spelling_[i];
      auto& mine = seen[sequences_[i].pos.file];
      bool alias = false;
      for (auto it = mine.lower_bound(keys); it != mine.end() && it->first.size() >= keys.size() &&
                                             std::equal(keys.begin(), keys.end(), it->first.begin());
           ++it) {
        const std::vector<std::string>& other = spelling_[it->second];
        alias = alias || !std::equal(spelt.begin(), spelt.end(), other.begin());
      }
      for (std::size_t n = 1; n < keys.size(); ++n) {
        const auto it = mine.find(std::vector<std::string>(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(n)));
        if (it == mine.end()) continue;
        const std::vector<std::string>& other = spelling_[it->second];
        alias = alias || !std::equal(other.begin(), other.end(), spelt.begin());
      }
      if (alias) continue;
      mine[keys] = i;
      kept.push_back(sequences_[i]);
    }
    return kept;
  }

 private:
  static std::vector<std::string> CharKeys(const Sequence& q) {
    std::vector<std::string> keys;
    for (std::size_t k = 0; k <= q.inputs.size(); ++k) {
      const ComposeInput& in = k == 0 ? q.start : q.inputs[k - 1];
      keys.push_back(in.kind == ComposeInput::kChar   ? "c" + std::to_string(static_cast<unsigned long>(in.ch.code))
                     : in.kind == ComposeInput::kDead ? "d" + in.name
                                                      : "k");
    }
    return keys;
  }

  // A keysym by name; a Unicode keysym of any number of hex digits, as
  // libX11 reads them (U2dd).
  static Keysym Lookup(std::string_view name) {
    const Keysym k = KeysymByName(name);
    if (k.kind != Keysym::kUnknown || name.size() < 2 || name.size() > 9 || name[0] != 'U') return k;
    const auto value = ParseHex(name.substr(1), 8);
    return value ? KeysymByName("U" + Hex(*value, 4)) : k;
  }

  // A line Velto cannot read: an error, but in the system's own files,
  // where libX11 leaves such a line out too, a warning.
  void Complain(const Pos& at, const std::string& message) {
    if (system_) {
      report_.Warning(at, message + "; the line is left out, as libX11 leaves it");
    } else {
      report_.Error(at, message);
    }
  }

  std::string Fail(const Pos* at, const std::string& message) {
    if (at != nullptr) report_.Error(*at, message);
    return "";
  }

  // The column of byte `i` of a line, in characters.
  static int Column(std::string_view line, std::size_t i) {
    return 1 + static_cast<int>(Utf8Length(line.substr(0, i)));
  }

  void Line(std::string_view line, Pos at, const std::string& path, int depth) {
    std::size_t i = 0;
    const auto skip = [&] {
      while (i < line.size() && IsSpace(line[i])) ++i;
    };
    const auto here = [&](std::size_t byte) { return Pos{at.file, at.line, Column(line, byte)}; };
    skip();
    if (i == line.size() || line[i] == '#') return;
    if (line.substr(i, 7) == "include" && (i + 7 == line.size() || IsSpace(line[i + 7]) || line[i + 7] == '"')) {
      i += 7;
      skip();
      const Pos namePos = here(i);
      std::u32string name;
      if (!String(line, i, at, name)) return;
      skip();
      if (i < line.size() && line[i] != '#') return report_.Error(here(i), "nothing may follow an include's file name");
      std::string utf8;
      for (const char32_t c : name) AppendUtf8(utf8, c);
      if (depth >= kMaxComposeIncludeDepth) {
        return report_.Error(namePos, "Compose files include each other too deep (a file including itself?)");
      }
      const std::string file = Expand(utf8, path, &namePos);
      if (!file.empty()) ReadFile(file, depth + 1, &namePos);
      return;
    }
    // The keys.
    std::vector<std::pair<Keysym, Pos>> keys;
    while (i < line.size() && line[i] == '<') {
      const std::size_t close = line.find('>', i);
      if (close == std::string_view::npos) return report_.Error(here(i), "a keysym's name ends with '>'");
      const std::string_view name = line.substr(i + 1, close - i - 1);
      const Keysym k = Lookup(name);
      if (k.kind == Keysym::kUnknown) {
        return Complain(here(i + 1), "unknown keysym \"" + std::string(name) + "\"");
      }
      keys.push_back({k, here(i)});
      i = close + 1;
      skip();
    }
    if (keys.empty() || i == line.size() || line[i] != ':') {
      return report_.Error(here(i), "a line of a Compose file reads <KEY>... : \"TEXT\" [KEYSYM], or include \"FILE\"");
    }
    ++i;
    skip();
    // The result: a string, a keysym, or both (then the string counts).
    std::u32string text;
    const Pos resultPos = here(i);
    bool haveString = false;
    if (i < line.size() && line[i] == '"') {
      if (!String(line, i, at, text)) return;
      haveString = true;
      skip();
    }
    if (i < line.size() && line[i] != '#') {
      std::size_t end = i;
      while (end < line.size() && !IsSpace(line[end]) && line[end] != '#') ++end;
      const std::string_view name = line.substr(i, end - i);
      const Keysym k = Lookup(name);
      if (k.kind == Keysym::kUnknown) return Complain(here(i), "unknown keysym \"" + std::string(name) + "\"");
      if ((!haveString || !utf8_) && k.kind == Keysym::kChar) {
        text = std::u32string(1, k.ch);
        haveString = false;
      }
      i = end;
      skip();
      if (i < line.size() && line[i] != '#') return report_.Error(here(i), "nothing may follow the result");
    }
    if (haveString && (invalidUtf8_ || (!utf8_ && std::any_of(text.begin(), text.end(), [](char32_t c) {
                                           return c >= 0x80;
                                         })))) {
      return Complain(resultPos, "this text is not UTF-8, and no keysym after it says what it types");
    }
    Add(keys, text, resultPos, at);
  }

  void Add(const std::vector<std::pair<Keysym, Pos>>& keys, const std::u32string& text, Pos resultPos, Pos at) {
    // What Velto cannot type: a start that is neither the compose key nor
    // a dead key, a key without a character, an empty text.
    if (text.empty() || keys.size() < 2) return;
    const Keysym& first = keys[0].first;
    if (first.kind != Keysym::kCompose && first.kind != Keysym::kDead) return;
    if (composeKeyOnly_ && first.kind != Keysym::kCompose) return;
    Sequence q;
    q.pos = at;
    q.result.pos = resultPos;
    std::vector<std::string> spelt;
    for (std::size_t k = 0; k < keys.size(); ++k) {
      spelt.push_back(std::to_string(keys[k].first.value));
      const auto& [key, pos] = keys[k];
      ComposeInput in;
      in.pos = pos;
      switch (key.kind) {
        case Keysym::kChar:
          in.ch = {false, key.ch, pos};
          break;
        case Keysym::kDead:
          in.kind = ComposeInput::kDead;
          in.name = DeadKey(key);
          break;
        case Keysym::kCompose:
          in.kind = ComposeInput::kComposeKey;
          break;
        case Keysym::kNoChar:
        case Keysym::kUnknown:
          return;
      }
      if (k == 0) {
        q.start = in;
      } else {
        q.inputs.push_back(in);
      }
    }
    for (const char32_t c : text) q.result.text.push_back({false, c, resultPos});
    q.order = m_.nextOrder++;
    sequences_.push_back(std::move(q));
    spelling_.push_back(std::move(spelt));
  }

  // The dead key of a dead keysym, declared when the model lacks it. A name
  // of one letter (dead_a) would read as a dead key by its character.
  std::string DeadKey(const Keysym& k) {
    std::string name(k.deadName);
    if (name.size() < 2) name = "dead_" + name;
    if (m_.deadNames.emplace(name, Char{false, k.ch, {}}).second) m_.deadOrder.push_back(name);
    return name;
  }

  // A "string" from line[i], with \\ \" \n \r \t, \ooo and \xHH; its bytes
  // are UTF-8. Advances past the closing quote.
  bool String(std::string_view line, std::size_t& i, Pos at, std::u32string& out) {
    const std::size_t open = i;
    if (i >= line.size() || line[i] != '"') {
      report_.Error({at.file, at.line, Column(line, i)}, "expected a \"string\"");
      return false;
    }
    std::string bytes;
    for (++i; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] != '\\' || i + 1 == line.size()) {
        bytes += line[i];
        continue;
      }
      const char e = line[++i];
      if (e == 'n') {
        bytes += '\n';
      } else if (e == 'r') {
        bytes += '\r';
      } else if (e == 't') {
        bytes += '\t';
      } else if (e >= '0' && e <= '7') {
        unsigned v = 0;
        for (int n = 0; n < 3 && i < line.size() && line[i] >= '0' && line[i] <= '7'; ++n, ++i) {
          v = v * 8 + static_cast<unsigned>(line[i] - '0');
        }
        --i;
        bytes += static_cast<char>(v & 0xFF);
      } else if ((e == 'x' || e == 'X') && i + 1 < line.size() && std::isxdigit(static_cast<unsigned char>(line[i + 1]))) {
        unsigned v = 0;
        for (int n = 0; n < 2 && i + 1 < line.size() && std::isxdigit(static_cast<unsigned char>(line[i + 1])); ++n) {
          v = v * 16 + *ParseHex(line.substr(++i, 1), 1);
        }
        bytes += static_cast<char>(v);
      } else {
        bytes += e;  // \\ and \" and any other character as itself
      }
    }
    if (i >= line.size()) {
      report_.Error({at.file, at.line, Column(line, open)}, "a string that does not end on its line");
      return false;
    }
    ++i;
    invalidUtf8_ = false;
    for (std::size_t j = 0; j < bytes.size();) {
      const std::size_t from = j;
      const char32_t c = NextUtf8(bytes, j);
      if (c == 0xFFFD && bytes.compare(from, 3, "\xEF\xBF\xBD") != 0) invalidUtf8_ = true;
      out += c;
    }
    return true;
  }

  std::string locale_;
  Model& m_;
  Reporter& report_;
  std::vector<Sequence> sequences_;
  std::vector<std::vector<std::string>> spelling_;  // of each sequence: its keysyms
  bool invalidUtf8_ = false;  // of the last string read
  bool system_ = false;       // the file read is one of the system's
  bool composeKeyOnly_;       // the dead keys' sequences are left out
  bool utf8_ = true;          // its texts are UTF-8
};

}  // namespace

bool ReadComposeFile(const std::string& path, const std::string& locale, Model& model, Reporter& report,
                     bool composeKeyOnly) {
  ComposeReader reader(locale, model, report, composeKeyOnly);
  const std::string file = reader.Expand(path, "", nullptr);
  if (file.empty() || !reader.ReadFile(file, 0, nullptr)) return false;
  std::vector<Sequence> sequences = reader.WithoutAliases();
  SettleSequences(sequences, report);
  for (Sequence& q : sequences) model.sequences.push_back(std::move(q));
  return true;
}

}  // namespace compiler

}  // namespace velto::layoutkit
