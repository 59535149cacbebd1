#include "controller/settings.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "layoutkit/text.h"

namespace velto::controller {
namespace {

using layoutkit::Diagnostics;
using layoutkit::Lower;

constexpr std::string_view kMainSection = "velto";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// A key as it is compared: lower case, runs of blanks made one space.
std::string NormalKey(std::string_view key) {
  std::string out;
  for (const char c : Trim(key)) {
    if (IsBlank(c)) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return out;
}

// One line of the file, taken apart.
struct Line {
  enum Kind { kEmpty, kSection, kSetting, kBroken } kind = kEmpty;
  std::string section;                       // kSection: the header's text
  std::string key;                           // kSetting: NormalKey
  std::string value;                         // kSetting: without quotes or comment
  std::size_t valueBegin = 0, valueEnd = 0;  // kSetting: the value's bytes in the line, quotes included
  int keyColumn = 1, valueColumn = 1;
};

// Where a comment starts after a value: a ';' or '#' at the line's start or
// after a blank, outside quotes.
std::size_t CommentStart(std::string_view line, std::size_t from) {
  bool quoted = false;
  for (std::size_t i = from; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (!quoted && (line[i] == ';' || line[i] == '#') && (i == 0 || IsBlank(line[i - 1]))) return i;
  }
  return line.size();
}

int Column(std::string_view line, std::size_t byte) {
  return static_cast<int>(layoutkit::Utf8Length(line.substr(0, byte))) + 1;
}

Line Split(std::string_view raw) {
  Line l;
  std::string_view text = Trim(raw.substr(0, CommentStart(raw, 0)));
  if (text.empty()) return l;
  const std::size_t lead = static_cast<std::size_t>(text.data() - raw.data());
  if (text.front() == '[') {
    if (text.back() != ']') {
      l.kind = Line::kBroken;
      l.keyColumn = Column(raw, lead);
      return l;
    }
    l.kind = Line::kSection;
    l.section = std::string(Trim(text.substr(1, text.size() - 2)));
    return l;
  }
  const std::size_t eq = raw.find('=', lead);
  l.keyColumn = Column(raw, lead);
  if (eq == std::string_view::npos || eq >= lead + text.size()) {
    l.kind = Line::kBroken;
    return l;
  }
  l.kind = Line::kSetting;
  l.key = NormalKey(raw.substr(lead, eq - lead));
  std::size_t begin = eq + 1;
  while (begin < raw.size() && IsBlank(raw[begin])) ++begin;
  const std::size_t end = begin + Trim(raw.substr(begin, CommentStart(raw, begin) - begin)).size();
  l.valueBegin = begin;
  l.valueEnd = std::max(begin, end);
  std::string_view value = raw.substr(begin, l.valueEnd - begin);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    value = value.substr(1, value.size() - 2);
  l.value = std::string(value);
  l.valueColumn = Column(raw, begin);
  return l;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t nl = text.find('\n', start);
    const std::size_t end = nl == std::string_view::npos ? text.size() : nl;
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::optional<bool> Flag(std::string_view value) {
  const std::string v = Lower(value);
  if (v == "on" || v == "yes" || v == "true" || v == "1") return true;
  if (v == "off" || v == "no" || v == "false" || v == "0") return false;
  return std::nullopt;
}

std::vector<std::string> List(std::string_view value, bool lower) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= value.size()) {
    const std::size_t comma = std::min(value.find(',', start), value.size());
    const std::string_view item = Trim(value.substr(start, comma - start));
    if (!item.empty()) out.push_back(lower ? Lower(item) : std::string(item));
    start = comma + 1;
  }
  return out;
}

// Four whole numbers and commas; a width and height of at least 1.
std::optional<WindowPlace> Place(std::string_view value) {
  int numbers[4] = {};
  const std::vector<std::string> items = List(value, false);
  if (items.size() != 4 || value.find(",,") != std::string_view::npos) return std::nullopt;
  for (int i = 0; i < 4; ++i) {
    std::string_view item = items[static_cast<std::size_t>(i)];
    const bool minus = i < 2 && item.size() > 1 && item.front() == '-';
    if (minus) item.remove_prefix(1);
    const auto n = layoutkit::ParseDecimal(item, 6);
    if (!n) return std::nullopt;
    numbers[i] = minus ? -static_cast<int>(*n) : static_cast<int>(*n);
  }
  const WindowPlace place{numbers[0], numbers[1], numbers[2], numbers[3]};
  if (!place.known()) return std::nullopt;
  return place;
}

class Reader {
 public:
  Reader(const std::string& file, Diagnostics& diags) : file_(file), diags_(diags) {}

  Settings Read(std::string_view text) {
    int number = 0;
    for (const std::string_view raw : Lines(text)) {
      ++number;
      const Line l = Split(raw);
      switch (l.kind) {
        case Line::kEmpty:
          break;
        case Line::kBroken:
          Error(number, l.keyColumn, "expected \"[SECTION]\" or \"KEY = VALUE\"");
          break;
        case Line::kSection:
          Section(l.section, number);
          break;
        case Line::kSetting:
          if (where_ == kNowhere) {
            Error(number, l.keyColumn, "\"" + l.key + "\" is outside a section; settings go under [velto]");
          } else if (where_ == kMain) {
            Main(l, number);
          } else if (where_ == kRule) {
            RuleSetting(l, number);
          }
          break;
      }
    }
    EndRule();
    return s_;
  }

 private:
  enum Where { kNowhere, kMain, kRule, kUnknown };

  void Error(int line, int column, std::string message) {
    diags_.Error(file_, line, column, std::move(message));
  }

  void Section(const std::string& header, int line) {
    EndRule();
    const std::string lower = Lower(header);
    if (lower == kMainSection) {
      where_ = kMain;
    } else if (lower.rfind("rule", 0) == 0 && (lower.size() == 4 || IsBlank(lower[4]))) {
      where_ = kRule;
      rule_ = Rule{};
      rule_.name = std::string(Trim(std::string_view(header).substr(4)));
      rule_.line = line;
      ruleBroken_ = false;
    } else {
      where_ = kUnknown;
      Error(line, 2, "unknown section [" + header + "]; the sections are [velto] and [rule NAME]");
    }
  }

  void Main(const Line& l, int line) {
    auto flag = [&](bool& field) {
      if (const auto f = Flag(l.value)) {
        field = *f;
      } else {
        Error(line, l.valueColumn, "\"" + l.key + "\" is on or off, not \"" + l.value + "\"");
      }
    };
    if (l.key == "layout file") {
      s_.layoutFile = l.value;
    } else if (l.key == "layout") {
      if (const auto n = layoutkit::ParseDecimal(l.value, 1); n && *n <= 3) {
        s_.layout = static_cast<int>(*n);
      } else {
        Error(line, l.valueColumn, "the layout is 0, 1, 2 or 3, not \"" + l.value + "\"");
      }
    } else if (l.key == "translation") {
      flag(s_.translation);
    } else if (l.key == "start at sign-in") {
      flag(s_.startAtSignIn);
    } else if (l.key == "tray icon") {
      const std::string v = Lower(l.value);
      if (v == "letters") {
        s_.trayIcon = TrayIcon::kBadge;
      } else if (v == "number") {
        s_.trayIcon = TrayIcon::kNumber;
      } else {
        Error(line, l.valueColumn, "\"tray icon\" is letters or number, not \"" + l.value + "\"");
      }
    } else if (l.key == "tray lights") {
      flag(s_.trayLights);
    } else if (l.key == "notifications") {
      flag(s_.notifications);
    } else if (l.key == "keyboard window") {
      if (l.value.empty()) {
        s_.keyboardWindow = {};
      } else if (const auto place = Place(l.value)) {
        s_.keyboardWindow = *place;
      } else {
        Error(line, l.valueColumn,
              "\"keyboard window\" is X, Y, WIDTH, HEIGHT in pixels, not \"" + l.value + "\"");
      }
    } else {
      Error(line, l.keyColumn,
            "unknown setting \"" + l.key +
                "\"; [velto] has layout file, layout, translation, start at sign-in, tray icon, tray lights, "
                "notifications, keyboard window");
    }
  }

  void RuleSetting(const Line& l, int line) {
    if (l.key == "program") {
      for (std::string& p : List(l.value, true)) rule_.programs.push_back(std::move(p));
    } else if (l.key == "class") {
      for (std::string& c : List(l.value, false)) rule_.classes.push_back(std::move(c));
    } else if (l.key == "translation") {
      const auto f = Flag(l.value);
      if (!f || *f) {
        ruleBroken_ = true;
        return Error(line, l.valueColumn, "a rule can only turn translation off, not \"" + l.value + "\"");
      }
      rule_.off = true;
    } else if (l.key == "layout") {
      const auto n = layoutkit::ParseDecimal(l.value, 1);
      if (!n || *n > 3) {
        ruleBroken_ = true;
        return Error(line, l.valueColumn, "the layout is 0, 1, 2 or 3, not \"" + l.value + "\"");
      }
      rule_.layout = static_cast<int>(*n);
    } else {
      ruleBroken_ = true;
      Error(line, l.keyColumn,
            "unknown rule setting \"" + l.key +
                "\"; a rule has program, class, and translation = off or layout = N");
    }
  }

  // A rule is kept only whole: with something to match and one thing to do.
  void EndRule() {
    if (where_ != kRule) return;
    where_ = kNowhere;
    if (ruleBroken_) return;
    const std::string what = "rule \"" + rule_.name + "\"";
    if (rule_.programs.empty() && rule_.classes.empty()) {
      return Error(rule_.line, 1, what + " matches nothing: give it a program = or class = line");
    }
    if (rule_.off == (rule_.layout >= 0)) {
      return Error(rule_.line, 1, what + " needs one of translation = off and layout = N");
    }
    s_.rules.push_back(std::move(rule_));
  }

  const std::string& file_;
  Diagnostics& diags_;
  Settings s_;
  Where where_ = kNowhere;
  Rule rule_;
  bool ruleBroken_ = false;
};

std::string Quoted(std::string_view value) {
  const bool needs = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                                        value.find_first_of(";#\"") != std::string_view::npos);
  return needs ? "\"" + std::string(value) + "\"" : std::string(value);
}

}  // namespace

std::string PlaceText(const WindowPlace& place) {
  return std::to_string(place.x) + ", " + std::to_string(place.y) + ", " + std::to_string(place.width) + ", " +
         std::to_string(place.height);
}

std::string Rule::Describe() const {
  return off ? "translation off" : "layout " + std::to_string(layout);
}

Settings ParseSettings(std::string_view text, const std::string& fileName, Diagnostics& diags) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // Notepad's byte-order mark
  return Reader(fileName, diags).Read(text);
}

std::string WithSetting(std::string_view text, std::string_view key, std::string_view value) {
  const std::string eol = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
  const std::string wanted = NormalKey(key);
  const std::vector<std::string_view> lines = Lines(text);
  bool inMain = false;
  std::size_t insertAfter = std::string_view::npos;  // a line of [velto] to add the key after
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Line l = Split(lines[i]);
    if (l.kind == Line::kSection) {
      inMain = Lower(l.section) == kMainSection;
      if (inMain) insertAfter = i;
    } else if (inMain && l.kind == Line::kSetting) {
      insertAfter = i;
      if (l.key != wanted) continue;
      const std::size_t at = static_cast<std::size_t>(lines[i].data() - text.data());
      std::string out(text.substr(0, at + l.valueBegin));
      if (l.valueBegin > 0 && lines[i][l.valueBegin - 1] == '=') out += ' ';  // "key =" with no value yet
      out += Quoted(value);
      out += text.substr(at + l.valueEnd);
      return out;
    }
  }
  const std::string added = std::string(key) + " = " + Quoted(value);
  if (insertAfter == std::string_view::npos) {
    std::string out(text);
    if (!out.empty() && out.back() != '\n') out += eol;
    return out + (out.empty() ? "" : eol) + "[velto]" + eol + added + eol;
  }
  const std::string_view after = lines[insertAfter];
  std::size_t at = static_cast<std::size_t>(after.data() - text.data()) + after.size();
  std::string out(text.substr(0, at));
  if (at < text.size()) {
    out += '\n';  // the line's own end (its \r, if any, is part of the line)
    ++at;
    return out + added + eol + std::string(text.substr(at));
  }
  return out + eol + added + eol;
}

std::string DefaultSettingsText() {
  return R"(; Velto's settings. Velto reads this file again when it is saved.
; Lines that start with ; or # are comments. docs/settings.md tells all.

[velto]
; The layout file (.vkl or .vkb); empty for the built-in layouts.
; A relative name is taken from the folder of this file.
layout file =
; The layout active at start (0 to 3), and translation on or off at start.
layout = 0
translation = on
; Start Velto when you sign in to Windows (kept in the Run key of your account).
start at sign-in = off
; The tray icon shows the layout's letters, or its number.
tray icon = letters
; The tooltip shows the lock lights too.
tray lights = on
; Balloons for warnings and for programs Velto cannot reach (errors always show).
notifications = on
; Where the on-screen keyboard was left: X, Y, WIDTH, HEIGHT in pixels.
; Velto writes it when you move the keyboard; empty lets Velto choose.
keyboard window =

; Rules for programs: while one of them has the foreground, translation is
; off there, or a layout of its own is active. A program is named by its
; executable file, a window by its class; a choice you make while it is in
; front lasts until you leave it.

; The remote side of a remote desktop has its own layout.
[rule remote desktop]
program = mstsc.exe, msrdc.exe
translation = off

; So has the system inside a virtual machine.
[rule virtual machines]
program = vmconnect.exe, VirtualBoxVM.exe, vmware.exe, vmplayer.exe
translation = off

; More examples: take away the ; to use them.
;[rule games]
;program = game.exe
;translation = off
;
;[rule terminal]
;class = ConsoleWindowClass, CASCADIA_HOSTING_WINDOW_CLASS
;layout = 0
)";
}

}  // namespace velto::controller
