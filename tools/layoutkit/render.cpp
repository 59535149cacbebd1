#include "layoutkit/render.h"

#include <algorithm>

#include <cctype>
#include <cstdio>
#include <optional>
#include <utility>

#include "intercept/lookup.h"
#include "layoutkit/codepage.h"
#include "layoutkit/keyboard_geometry.h"
#include "layoutkit/scan_names.h"
#include "layoutkit/text.h"
#include "layoutkit/vkb.h"
#include "shared/charset.h"
#include "shared/compositions.h"
#include "shared/keys.h"

namespace velto::layoutkit {

namespace {

// The picture's layout, in SVG units (the keys' geometry is in
// keyboard_geometry.h, kKeyUnit to a key unit).
constexpr double kUnit = kKeyUnit;
constexpr double kCasePad = 10;
constexpr double kMargin = 24;
constexpr double kHeaderHeight = 70;
constexpr double kCaptionHeight = 26;
constexpr double kPanelGap = 28;
constexpr double kLegendGap = 22;
constexpr double kLegendItemGap = 26;
constexpr int kPreviewMax = 10;  // characters of a macro or composed text, before the ellipsis

// A font for every script a layout may have, each taking the characters the
// ones before it lack: DejaVu Sans first (TextWidth measures it), then the
// Noto families of Debian's fonts-noto-core and fonts-noto-cjk, then those
// of Windows and macOS; emoji from fonts-noto-color-emoji.
constexpr const char* kStyle =
    "text{font-family:'DejaVu Sans','Noto Sans','Noto Sans Devanagari','Noto Sans Bengali',"
    "'Noto Sans Gurmukhi','Noto Sans Gujarati','Noto Sans Oriya','Noto Sans Tamil','Noto Sans Telugu',"
    "'Noto Sans Kannada','Noto Sans Malayalam','Noto Sans Sinhala','Noto Serif Tibetan','Noto Sans Myanmar',"
    "'Noto Sans Khmer','Noto Sans Lao','Noto Sans Thai','Noto Sans Ethiopic','Noto Sans Cherokee',"
    "'Noto Sans Canadian Aboriginal','Noto Sans Armenian','Noto Sans Georgian','Noto Sans Hebrew',"
    "'Noto Sans Arabic','Noto Sans Syriac','Noto Sans Thaana','Noto Sans Mongolian','Noto Sans Tifinagh',"
    "'Noto Sans Yi','Noto Sans CJK SC','Noto Sans CJK JP','Noto Sans CJK KR','Noto Sans Symbols',"
    "'Noto Sans Symbols2','Noto Sans Math','Segoe UI','Nirmala UI','Ebrima','Microsoft Himalaya','Gadugi',"
    "'Leelawadee UI','Microsoft YaHei','Malgun Gothic','Segoe UI Symbol','Helvetica Neue',Arial,sans-serif}"
    // Emoji only: in the list above an emoji font takes digits and spaces
    // too, in some renderers.
    ".e{font-family:'Noto Color Emoji','Segoe UI Emoji','Apple Color Emoji',sans-serif}"
    ".side{fill:#c3c7cf}.face{fill:#fdfdfe}"
    ".dead .side{fill:#e6a76b}.dead .face{fill:#fff1e2}"
    ".compose .side{fill:#5fb3a6}.compose .face{fill:#e2f5f1}"
    ".none .side{fill:#d9dce1}.none .face{fill:#f1f2f4}"
    ".macro .side{fill:#b39ae0}.macro .face{fill:#f3ecff}"
    ".system .side{fill:#cdd0d6}.system .face{fill:#e8eaed}"
    ".held .side{fill:#7ea5dd}.held .face{fill:#dbe7fa}"
    ".c{font-size:15px;fill:#1f2328}.r{font-size:12px;fill:#0b7a78}.s{font-size:9.5px}"
    ".d{fill:#c2560c;font-weight:bold}.k{fill:#13695d;font-weight:bold}.m{fill:#6a3dbf}.u{fill:#8a9099}"
    ".n{font-size:10px;fill:#7a808a}.held .n{fill:#1f4e96}"
    ".title{font-size:22px;font-weight:bold;fill:#1f2328}.sub{font-size:13px;fill:#5c626b}"
    ".cap{font-size:14px;font-weight:bold;fill:#3a3f46}.note{font-size:12px;fill:#3a3f46}";

std::uint16_t Bit(std::uint8_t n) {
  return static_cast<std::uint16_t>(1u << n);
}

// ---- The keyboard ----

// What a US keycap says: the Shift and plain characters of a character key
// (a letter shows only its capital), or the name of any other key.
struct Legend {
  std::string shift, plain, name;
};

Legend UsLegend(std::uint16_t scan, bool ansi) {
  static constexpr struct {
    std::uint16_t scan;
    char plain, shift;
  } kChars[] = {
      {0x29, '`', '~'},  {0x02, '1', '!'},  {0x03, '2', '@'},  {0x04, '3', '#'}, {0x05, '4', '$'},
      {0x06, '5', '%'},  {0x07, '6', '^'},  {0x08, '7', '&'},  {0x09, '8', '*'}, {0x0A, '9', '('},
      {0x0B, '0', ')'},  {0x0C, '-', '_'},  {0x0D, '=', '+'},  {0x1A, '[', '{'}, {0x1B, ']', '}'},
      {0x2B, '\\', '|'}, {0x27, ';', ':'},  {0x28, '\'', '"'}, {0x33, ',', '<'}, {0x34, '.', '>'},
      {0x35, '/', '?'},  {0x56, '\\', '|'},
  };
  static constexpr struct {
    std::uint16_t scan;
    const char* name;
  } kNames[] = {
      {0x01, "Esc"},   {0x0E, "Backspace"}, {0x0F, "Tab"},   {0x3A, "Caps Lock"}, {0x1C, "Enter"},
      {0x2A, "Shift"}, {0x36, "Shift"},     {0x1D, "Ctrl"},  {0x11D, "Ctrl"},     {0x38, "Alt"},
      {0x15B, "Win"},  {0x15C, "Win"},      {0x15D, "Menu"}, {0x39, ""},
  };
  for (const auto& k : kChars) {
    if (k.scan == scan) return {std::string(1, k.shift), std::string(1, k.plain), ""};
  }
  for (const auto& k : kNames) {
    if (k.scan == scan) return {"", "", k.name};
  }
  if (scan == 0x138) return {"", "", ansi ? "Alt" : "AltGr"};
  const std::string name = KeyNameOfScan(scan);
  if (name.size() == 1) return {name, "", ""};
  return {"", "", name};  // F1..F12
}

// ---- What a key types ----

enum class CellKind { kSystem, kChar, kDeadKey, kMacro };

struct Cell {
  CellKind kind = CellKind::kSystem;
  std::uint8_t byte = 0;
  bool operator==(const Cell&) const = default;
};

// The description in a region of its own, looked up by the engine itself.
class KeyLookup {
 public:
  explicit KeyLookup(const KeyboardDescription& d)
      : memory_(kRegionSize / sizeof(std::uint32_t)), region_(memory_.data()) {
    d.LoadInto(region_);
  }

  void Select(unsigned layout, const KeyboardState& state) {
    region_.control().currentLayout = static_cast<std::uint8_t>(layout);
    region_.control().leds = state.capsLock ? Bit(kLedCapsLock) : 0;
    held_ = state.modifiers & ~kShiftMask;
  }

  // Column 0 without Shift, 1 with left Shift, 2 with right Shift.
  Cell At(std::uint16_t scan, int column) const {
    const std::uint16_t shift = column == 1 ? Bit(kModLeftShift) : column == 2 ? Bit(kModRightShift) : 0;
    region_.control().modifiers = static_cast<std::uint16_t>(held_ | shift);
    const int result = TranslateKey(region_, scan);
    if (result == 0) return {};
    const std::uint8_t kind = ResultKindOf(static_cast<std::uint32_t>(result));
    const CellKind k = kind == kKindDeadKey ? CellKind::kDeadKey
                       : kind == kKindMacro ? CellKind::kMacro
                                            : CellKind::kChar;
    return {k, ResultChar(static_cast<std::uint32_t>(result))};
  }

 private:
  static_assert(kRegionSize % sizeof(std::uint32_t) == 0);
  std::vector<std::uint32_t> memory_;  // word-aligned for the region's fields
  Region region_;
  std::uint16_t held_ = 0;
};

// ---- Text ----

std::string Num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  std::string s = buf;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

void AppendEscaped(std::string& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
}

bool IsEmoji(char32_t c) {
  return c >= 0x1F000 && c <= 0x1FAFF;
}

// Text of an element, escaped, its emoji in the emoji font (with the
// selector and joiner that belong to them).
void AppendText(std::string& out, std::string_view text) {
  bool inEmoji = false;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t from = pos;
    const char32_t c = NextUtf8(text, pos);
    const bool emoji = IsEmoji(c) || (inEmoji && (c == 0xFE0F || c == 0x200D));
    if (emoji != inEmoji) out += emoji ? "<tspan class=\"e\">" : "</tspan>";
    inEmoji = emoji;
    AppendEscaped(out, text.substr(from, pos - from));
  }
  if (inEmoji) out += "</tspan>";
}

// East Asian wide characters and emoji: a full em.
bool IsWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
         (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFF60) || (c >= 0x1F300 && c <= 0x1FAFF) ||
         c >= 0x20000;
}

// The width of the text in DejaVu Sans (the first of the fonts), for fitting
// it on a key: the advances of the printable ASCII characters in thousandths
// of the font size, a wide character an em, 0.7 for any other.
double TextWidth(std::string_view text, double size) {
  static constexpr std::uint16_t kAdvance[95] = {
      318,  401, 460, 838, 636, 950, 780, 275, 390, 390, 500, 838, 318, 361, 318, 337,  // ' ' .. '/'
      636,  636, 636, 636, 636, 636, 636, 636, 636, 636, 337, 337, 838, 838, 838, 531,  // '0' .. '?'
      1000, 684, 686, 698, 770, 632, 575, 775, 752, 295, 295, 656, 557, 863, 748, 787,  // '@' .. 'O'
      603,  787, 695, 635, 611, 732, 684, 989, 685, 611, 685, 390, 337, 390, 838, 500,  // 'P' .. '_'
      500,  613, 635, 550, 635, 615, 352, 635, 634, 278, 278, 579, 278, 974, 634, 612,  // '`' .. 'o'
      635,  635, 411, 521, 392, 634, 592, 818, 592, 592, 525, 636, 337, 636, 838,       // 'p' .. '~'
  };
  double em = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const char32_t c = NextUtf8(text, pos);
    em += c >= 0x20 && c < 0x7F ? kAdvance[c - 0x20] / 1000.0 : c == U'\u2026' || IsWide(c) ? 1.0 : 0.7;
  }
  return em * size;
}

struct Glyph {
  std::string text;
  bool small = false;  // a word or a hex value, in the small font
};

// Marks that sit on the character before them (vowel signs, viramas,
// accents): shown alone, each needs something to sit on.
bool IsCombining(char32_t c) {
  static constexpr std::pair<char32_t, char32_t> kMarks[] = {
      {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05C7}, {0x0610, 0x061A}, {0x064B, 0x065F},
      {0x0670, 0x0670}, {0x06D6, 0x06ED}, {0x0711, 0x0711}, {0x0730, 0x074A}, {0x07A6, 0x07B0},
      {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x0E47, 0x0E4E}, {0x0EB1, 0x0EB1}, {0x0EB4, 0x0EBC},
      {0x0EC8, 0x0ECD}, {0x0F18, 0x0F19}, {0x0F35, 0x0F35}, {0x0F37, 0x0F37}, {0x0F39, 0x0F39},
      {0x0F3E, 0x0F3F}, {0x0F71, 0x0F84}, {0x0F86, 0x0F87}, {0x0F8D, 0x0FBC}, {0x0FC6, 0x0FC6},
      {0x102B, 0x103E}, {0x1056, 0x1059}, {0x135D, 0x135F}, {0x17B4, 0x17D3}, {0x1AB0, 0x1AFF},
      {0x1DC0, 0x1DFF}, {0x20D0, 0x20FF}, {0x302A, 0x302F}, {0x3099, 0x309A}, {0xFE20, 0xFE2F},
  };
  // The Indic blocks, U+0900 to U+0DFF, share one plan: signs before the
  // letters, vowel signs and virama after them, a few more near the end.
  if (c >= 0x900 && c < 0xD80) {
    const char32_t o = c % 0x80;
    return o <= 0x03 || (o >= 0x3A && o <= 0x3C) || (o >= 0x3E && o <= 0x4F) || (o >= 0x51 && o <= 0x57) ||
           o == 0x62 || o == 0x63;
  }
  if (c >= 0xD80 && c < 0xE00) {  // Sinhala
    return (c >= 0xD81 && c <= 0xD83) || (c >= 0xDCA && c <= 0xDDF) || c == 0xDF2 || c == 0xDF3;
  }
  for (const auto& [first, last] : kMarks) {
    if (c >= first && c <= last) return true;
  }
  return false;
}

// How a character is shown: itself, a sign or a short word for the
// invisible ones, or its code point when it is a control character.
Glyph GlyphOf(char32_t c) {
  static constexpr struct {
    char32_t c;
    const char* text;
    bool small;
  } kInvisible[] = {
      {0x20, "\u2423", false}, {0xA0, "nbsp", true},  {0xAD, "shy", true},   {0x200C, "zwnj", true},
      {0x200D, "zwj", true},   {0x200E, "lrm", true}, {0x200F, "rlm", true}, {0xFE0F, "vs16", true},
  };
  for (const auto& v : kInvisible) {
    if (v.c == c) return {v.text, v.small};
  }
  if (c < 0x20 || (c >= 0x7F && c < 0xA0) || !IsCharacter(c)) return {CodePoint(c), true};
  Glyph g;
  if (IsCombining(c)) AppendUtf8(g.text, 0xA0);  // a mark needs something to sit on
  AppendUtf8(g.text, c);
  return g;
}

// How a byte of the layout is shown: as its character, or by the byte's hex
// value when it has none.
Glyph CharGlyph(const KeyboardDescription& d, unsigned layout, std::uint8_t byte) {
  const char32_t c = LayoutChar(d, layout, byte);
  if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {  // 0: none
    return {"0x" + Hex(byte, 2), true};
  }
  return GlyphOf(c);
}

// A dead key's mark: the dotted circle, which a combining mark sits on
// instead of the space GlyphOf gives it.
std::string DeadMark(std::string glyph) {
  if (glyph.rfind("\u00A0", 0) == 0) glyph.erase(0, 2);
  return "\u25CC" + glyph;
}

// The first characters of a text that fit in `room` at font size `size`,
// with an ellipsis when the text goes on; glyph(i) shows its i-th character
// on its own.
template <typename GlyphAt>
std::string FitText(const std::u32string& chars, const GlyphAt& glyph, double room, double size) {
  std::string preview;
  for (std::size_t i = 0; i < chars.size(); ++i) {
    std::string next = preview;
    const char32_t c = chars[i];
    if (c == ' ' || (i > 0 && (IsCombining(c) || c == 0x200C || c == 0x200D))) {
      AppendUtf8(next, c);  // in a text a mark or joiner acts on the letter before it (क्ष)
    } else {
      next += glyph(i);
    }
    const bool last = i + 1 == chars.size();
    if (i == kPreviewMax || TextWidth(last ? next : next + "…", size) > room) {
      while (!preview.empty() && preview.back() == ' ') preview.pop_back();
      return preview + "…";
    }
    preview = std::move(next);
  }
  return preview.empty() ? "\u2205" : preview;  // an empty text types nothing
}

// The start of a macro's text.
std::string MacroPreview(const KeyboardDescription& d, unsigned layout, std::uint8_t macro, double room,
                         double size) {
  const MacroEntry& m = d.macros.entries[macro];
  std::u32string chars;
  for (int i = 0; i < m.length; ++i) chars += LayoutChar(d, layout, static_cast<std::uint8_t>(m.text[i]));
  return FitText(
      chars, [&](std::size_t i) { return CharGlyph(d, layout, static_cast<std::uint8_t>(m.text[i])).text; },
      room, size);
}

// The start of a text of characters.
std::string TextPreview(const std::u32string& text, double room, double size) {
  return FitText(
      text, [&](std::size_t i) { return GlyphOf(text[i]).text; }, room, size);
}

// ---- Dead keys ----

// What a key's cell makes of a composition under way.
struct Outcome {
  enum Kind {
    kAsUsual,  // a macro or the system's key: the composition has no say
    kText,     // the composition ends in a text
    kDeeper,   // it goes on: the key is a dead key here
    kNone,     // no composition of the key
  } kind = kAsUsual;
  std::u32string text;  // kText, through the composition table
  int byte = -1;        // kText, through the DeadKeyTable: a byte of the layout
};

// A layout's dead keys: through the composition table when its set is of the
// composing kind, else through the DeadKeyTable, as the library reads them.
class DeadKeys {
 public:
  DeadKeys(const KeyboardDescription& d, unsigned layout)
      : d_(d),
        layout_(layout % kLayouts),
        table_(ComposesThroughTable(d.layouts[layout_])),
        compositions_(d.compositions.data(), d.compositions.size()) {
    // The dead-key cells of both planes of the layout, without and with Caps Lock.
    bool seen[256] = {};
    for (unsigned plane = layout_; plane < kPlanes; plane += 2) {
      for (const KeyRecord& key : d.keys.planes[plane]) {
        for (const KeySlot& slot : key.slots) {
          for (unsigned column = 0; column < 3; ++column) {
            if ((slot.flags & DeadKeyFlag(column)) == 0 || seen[slot.ch[column]]) continue;
            seen[slot.ch[column]] = true;
            bytes_.push_back(slot.ch[column]);
          }
        }
      }
    }
  }

  bool table() const { return table_; }
  bool IsComposeKey(std::uint8_t byte) const { return table_ && Input(byte) == kComposeKeyInput; }
  bool HasComposeKey() const {
    for (const std::uint8_t byte : bytes_) {
      if (IsComposeKey(byte)) return true;
    }
    return false;
  }

  // What a dead key types with Space, which is what it shows.
  std::u32string OwnText(std::uint8_t byte) const {
    if (!table_) {
      const char32_t c = LayoutChar(d_, layout_, byte);
      return c == 0 ? U"" : std::u32string(1, c);
    }
    const ComposeStep first = compositions_.Step(0, Input(byte));
    if (first.kind != ComposeStep::kState) return U"";
    return TextOf(compositions_.Step(first.state, U' '));
  }

  // The byte of a dead key of the layout that shows `c` (not the compose key).
  std::optional<std::uint8_t> Showing(char32_t c) const {
    for (const std::uint8_t byte : bytes_) {
      if (!IsComposeKey(byte) && OwnText(byte) == std::u32string(1, c)) return byte;
    }
    return std::nullopt;
  }

  // The input a byte stands for in the composition table.
  char32_t Input(std::uint8_t byte) const { return InputOfByte(d_.layouts[layout_], d_.macros, byte); }
  ComposeStep Step(std::uint32_t state, char32_t input) const { return compositions_.Step(state, input); }

  // What a cell types after `after`.
  Outcome After(const Composition& after, const Cell& cell) const {
    if (cell.kind != CellKind::kChar && cell.kind != CellKind::kDeadKey) return {};
    if (table_) {
      const ComposeStep step = compositions_.Step(after.state, Input(cell.byte));
      if (step.kind == ComposeStep::kState) return Just(Outcome::kDeeper);
      if (step.kind == ComposeStep::kText) return {Outcome::kText, TextOf(step)};
      return Just(Outcome::kNone);
    }
    // A dead key after a dead key takes its place; Space gives the dead key
    // itself, and a row its result.
    if (cell.kind == CellKind::kDeadKey) return Just(Outcome::kDeeper);
    if (LayoutChar(d_, layout_, cell.byte) == U' ') return {Outcome::kText, U"", after.deadByte};
    for (const DeadKeyRow& row : d_.deadKeys.rows) {
      if (row.dead == after.deadByte && row.next == cell.byte) {
        return row.composed != 0 ? Outcome{Outcome::kText, U"", row.composed} : Just(Outcome::kNone);
      }
    }
    return Just(Outcome::kNone);
  }

 private:
  static Outcome Just(Outcome::Kind kind) { return {kind, U"", -1}; }
  static std::u32string TextOf(const ComposeStep& step) {
    if (step.kind != ComposeStep::kText) return U"";
    return std::u32string(step.text, step.text + step.length);
  }

  const KeyboardDescription& d_;
  unsigned layout_;
  bool table_;
  Compositions compositions_;
  std::vector<std::uint8_t> bytes_;
};

// ---- Drawing ----

using Place = LabelPlace;
using Label = KeyLabel;

// The classes of a label's text element: c (a character), r (the right
// Shift's), d, k, m, u (dead, compose, macro, grey), s (small); n a key's name.
std::string ClassesOf(const KeyLabel& l) {
  if (l.kind == LabelKind::kName) return "n";
  static constexpr const char* kKind[] = {"", " d", " k", " m", " u", ""};
  return std::string("c") + (l.place == Place::kTopRight ? " r" : "") + kKind[static_cast<int>(l.kind)] +
         (l.small ? " s" : "");
}

// The classes of a key: char, dead, compose, macro, none, system, held.
std::string ClassesOf(const KeyFace& face) {
  std::string classes;
  if (face.system) {
    classes = "system";
  } else {
    for (const auto& [on, name] : {std::pair{face.dead, "dead"}, {face.compose, "compose"}, {face.macro, "macro"}}) {
      if (!on) continue;
      if (!classes.empty()) classes += ' ';
      classes += name;
    }
    if (classes.empty()) classes = face.none ? "none" : "char";
  }
  return face.held ? classes + " held" : classes;
}

// An orthogonal polygon with its corners rounded off by `r`.
std::string RoundedPath(const std::vector<std::pair<double, double>>& points, double r) {
  auto toward = [r](std::pair<double, double> from, std::pair<double, double> to) {
    const double dx = to.first - from.first, dy = to.second - from.second;
    const double len = dx == 0 ? (dy < 0 ? -dy : dy) : (dx < 0 ? -dx : dx);
    return std::pair<double, double>{from.first + dx / len * r, from.second + dy / len * r};
  };
  std::string d;
  const std::size_t n = points.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto& corner = points[i];
    const auto a = toward(corner, points[(i + n - 1) % n]);
    const auto b = toward(corner, points[(i + 1) % n]);
    d += (i == 0 ? "M" : "L") + Num(a.first) + " " + Num(a.second) + "Q" + Num(corner.first) + " " +
         Num(corner.second) + " " + Num(b.first) + " " + Num(b.second);
  }
  return d + "Z";
}

// One key at `x`, `y` (SVG units) of width `w` key units; `name` becomes its
// data-key attribute. The samples of the legend have no name.
void DrawKey(std::string& out, double x, double y, double w, bool isoEnter, const std::string& name,
             const KeyFace& face) {
  const std::string classes = ClassesOf(face);
  if (name.empty()) {
    out += "<g class=\"sample " + classes + "\">";
  } else {
    out += "<g class=\"key " + classes + "\" data-key=\"";
    AppendEscaped(out, name);
    out += "\">";
  }
  const KeyBox text = KeyFaceBox(x, y, w, isoEnter);
  if (isoEnter) {
    // The side and the face as the same inverted L.
    out += "<path class=\"side\" d=\"" + RoundedPath(IsoEnterOutline(x, y, w, 0, 0, 0, 0), 5) + "\"/>";
    out += "<path class=\"face\" d=\"" +
           RoundedPath(IsoEnterOutline(x, y, w, kFaceLeft, kFaceTop, kFaceRight, kFaceBottom), 4) + "\"/>";
  } else {
    const KeyBox side = KeySide(x, y, w);
    out += "<rect class=\"side\" x=\"" + Num(side.x) + "\" y=\"" + Num(side.y) + "\" width=\"" + Num(side.w) +
           "\" height=\"" + Num(side.h) + "\" rx=\"5\"/>";
    out += "<rect class=\"face\" x=\"" + Num(text.x) + "\" y=\"" + Num(text.y) + "\" width=\"" + Num(text.w) +
           "\" height=\"" + Num(text.h) + "\" rx=\"4\"/>";
  }
  for (const Label& l : face.labels) {
    if (l.text.empty()) continue;
    const LabelSpot at = SpotOf(text, l);
    out += "<text class=\"" + ClassesOf(l) + "\" x=\"" + Num(at.x) + "\" y=\"" + Num(at.y) + "\"" +
           (at.alignRight ? " text-anchor=\"end\"" : "") + ">";
    AppendText(out, l.text);
    out += "</text>";
  }
  out += "</g>\n";
}

// What is drawn: a layout, and the composition its keys type after, if any.
struct Picture {
  const KeyboardDescription& d;
  unsigned layout;
  DeadKeys dead;
  const Composition* after;
  bool ansi;
  const std::vector<std::uint16_t>& down;
};

// The colour a column gives its key.
enum class Tint { kSystem, kChar, kDead, kCompose, kMacro, kNone };

struct Column {
  Label label;
  Tint tint;
};

// A text that a key types, a character full size, a longer text as far as it fits.
Label TextLabel(const std::u32string& text, Place place, double room) {
  const bool right = place == Place::kTopRight;
  const Glyph one = text.size() == 1 ? GlyphOf(text[0]) : Glyph{};
  if (text.size() == 1) return {one.text, LabelKind::kChar, place, one.small && !right};
  const std::string full = TextPreview(text, room, right ? 12 : 15);
  if (right || full.find("\u2026") == std::string::npos) return {full, LabelKind::kChar, place};
  return {TextPreview(text, room, 9.5), LabelKind::kChar, place, true};
}

// One column of a key as it types on its own.
Column CellColumn(const Picture& p, Cell cell, Place place, double room) {
  const bool right = place == Place::kTopRight;
  switch (cell.kind) {
    case CellKind::kSystem:
      return {{"", LabelKind::kChar, place}, Tint::kSystem};
    case CellKind::kChar: {
      const Glyph g = CharGlyph(p.d, p.layout, cell.byte);
      return {{g.text, LabelKind::kChar, place, g.small && !right}, Tint::kChar};
    }
    case CellKind::kDeadKey: {
      if (p.dead.IsComposeKey(cell.byte)) return {{"\u2384", LabelKind::kCompose, place}, Tint::kCompose};
      // The dotted circle marks a dead key, and is what a mark sits on.
      std::string shown = CharGlyph(p.d, p.layout, cell.byte).text;
      if (p.dead.table()) {
        const std::u32string own = p.dead.OwnText(cell.byte);
        shown = own.size() == 1 ? GlyphOf(own[0]).text
                : own.empty()   ? ""
                                : TextPreview(own, room - TextWidth("\u25CC", 15), right ? 12 : 15);
      }
      return {{DeadMark(shown), LabelKind::kDead, place}, Tint::kDead};
    }
    case CellKind::kMacro: {
      // A macro of one character is as readable as the characters beside it.
      const bool small = !right && p.d.macros.entries[cell.byte].length > 1;
      const double size = small ? 9.5 : right ? 12 : 15;
      return {{MacroPreview(p.d, p.layout, cell.byte, room, size), LabelKind::kMacro, place, small}, Tint::kMacro};
    }
  }
  return {{"", LabelKind::kChar, place}, Tint::kSystem};
}

// One column of a key as it types after the picture's composition.
Column ColumnAfter(const Picture& p, Cell cell, Place place, double room) {
  Column usual = CellColumn(p, cell, place, room);
  const Outcome outcome = p.dead.After(*p.after, cell);
  switch (outcome.kind) {
    case Outcome::kAsUsual:
      return usual;
    case Outcome::kText:
      if (outcome.byte >= 0)
        return CellColumn(p, {CellKind::kChar, static_cast<std::uint8_t>(outcome.byte)}, place, room);
      return {TextLabel(outcome.text, place, room), Tint::kChar};
    case Outcome::kDeeper:
      if (cell.kind == CellKind::kChar) {
        usual.label.text = DeadMark(usual.label.text);
        usual.label.kind = LabelKind::kDead;
        usual.label.small = false;
      }
      usual.tint = Tint::kDead;
      return usual;
    case Outcome::kNone:
      usual.label.kind = LabelKind::kGrey;
      usual.tint = Tint::kNone;
      return usual;
  }
  return usual;
}

bool IsHeld(const Picture& p, std::uint16_t scan, const KeyboardState& state) {
  if (std::find(p.down.begin(), p.down.end(), scan) != p.down.end()) return true;
  if (scan == kScanCapsLock) return state.capsLock;
  const int bit = ModifierBitOf(scan);
  return bit >= 0 && bit < kModLeftShift && (state.modifiers & Bit(static_cast<std::uint8_t>(bit)));
}

KeyFace FaceOfKey(const Picture& p, const KeyLookup& lookup, const KeyCap& k, const KeyboardState& state) {
  const Cell plain = lookup.At(k.scan, 0), shift = lookup.At(k.scan, 1), rightShift = lookup.At(k.scan, 2);
  KeyFace face;
  face.held = IsHeld(p, k.scan, state);
  if (plain.kind == CellKind::kSystem && shift.kind == CellKind::kSystem &&
      rightShift.kind == CellKind::kSystem) {
    const Legend us = UsLegend(k.scan, p.ansi);
    face.system = true;
    face.labels = {{us.shift, LabelKind::kGrey, Place::kTopLeft},
                   {us.plain, LabelKind::kGrey, Place::kBottomLeft},
                   {us.name, LabelKind::kName, Place::kBottomLeft, true}};
    return face;
  }
  const double room = k.w * kUnit - 2 * kKeyGap - kFaceLeft - kFaceRight - 7;
  auto column = [&](Cell cell, Place place, double r) {
    return p.after != nullptr ? ColumnAfter(p, cell, place, r) : CellColumn(p, cell, place, r);
  };
  std::vector<Column> columns = {column(shift, Place::kTopLeft, room),
                                 column(plain, Place::kBottomLeft, room)};
  if (!(rightShift == shift)) columns.push_back(column(rightShift, Place::kTopRight, room / 2));
  bool tinted[6] = {};
  for (const Column& c : columns) {
    tinted[static_cast<int>(c.tint)] = true;
    face.labels.push_back(c.label);
  }
  face.dead = tinted[static_cast<int>(Tint::kDead)];
  face.compose = tinted[static_cast<int>(Tint::kCompose)];
  face.macro = tinted[static_cast<int>(Tint::kMacro)];
  face.none = !face.dead && !face.compose && !face.macro && !tinted[static_cast<int>(Tint::kChar)];
  return face;
}

std::string LayoutName(const KeyboardDescription& d, unsigned layout) {
  std::string name;
  if (layout < kLayouts) {
    for (const char c : d.layouts[layout].name) {
      if (c == '\0') break;
      const auto byte = static_cast<std::uint8_t>(c);
      const char32_t ch = LayoutChar(d, layout, byte);
      if (ch == ' ' || IsCombining(ch)) {
        AppendUtf8(name, ch);  // in a word a mark sits on the letter before it
      } else {
        name += CharGlyph(d, layout, byte).text;
      }
    }
  }
  return name.empty() ? "Layout " + std::to_string(layout) : name;
}

// What the layout's bytes stand for: "Unicode", "code page 1251", or for a
// record without a character set "code page 1252 (ANSI)", its bytes posted
// as they are.
std::string CharSetCaption(const KeyboardDescription& d, unsigned layout) {
  switch (CharSetOf(d.layouts[layout % kLayouts])) {
    case CharSetKind::kUnicode:
      return "Unicode";
    case CharSetKind::kCodePage:
      return "code page " + std::to_string(HeaderOf(d.layouts[layout % kLayouts]).codePage);
    case CharSetKind::kNone:
      break;
  }
  return "code page " + std::to_string(LayoutCodePage(d, layout)) + " (ANSI)";
}

void DrawText(std::string& out, double x, double y, const char* cls, std::string_view text) {
  out += "<text class=\"" + std::string(cls) + "\" x=\"" + Num(x) + "\" y=\"" + Num(y) + "\">";
  AppendText(out, text);
  out += "</text>\n";
}

// The key to the colours and marks: a sample key and its caption each.
struct LegendItem {
  double w;  // key units
  KeyFace face;
  std::string note;
};

// A sample key of the legend: a key as drawn, of one colour.
enum class Sample { kChar, kDead, kCompose, kMacro, kNone, kSystem, kHeld };

KeyFace SampleFace(Sample sample, std::vector<KeyLabel> labels) {
  KeyFace face;
  face.dead = sample == Sample::kDead;
  face.compose = sample == Sample::kCompose;
  face.macro = sample == Sample::kMacro;
  face.none = sample == Sample::kNone;
  face.system = sample == Sample::kSystem || sample == Sample::kHeld;
  face.held = sample == Sample::kHeld;
  face.labels = std::move(labels);
  return face;
}

std::vector<LegendItem> LegendItems(const Picture& p) {
  using K = LabelKind;
  const LegendItem system{
      1, SampleFace(Sample::kSystem, {{"Q", K::kGrey, Place::kTopLeft}}), "left to the system (US legend)"};
  const LegendItem held{
      1, SampleFace(Sample::kHeld, {{"Alt", K::kName, Place::kBottomLeft, true}}), "held, or Caps Lock on"};
  if (p.after != nullptr) {
    return {
        {1, SampleFace(Sample::kChar, {{"\u00E2", K::kChar, Place::kBottomLeft}}), "what the key types now"},
        {1,
         SampleFace(Sample::kDead, {{"\u25CC\u0323", K::kDead, Place::kBottomLeft}}),
         p.dead.table() ? "dead key: the composition goes on" : "dead key: takes the place of this one"},
        {1,
         SampleFace(Sample::kNone, {{"b", K::kGrey, Place::kBottomLeft}}),
         p.dead.table() ? "no composition" : "no composition: typed as it is"},
        system,
        held,
    };
  }
  std::vector<LegendItem> items = {
      {2.25,
       SampleFace(Sample::kChar, {{"Shift", K::kChar, Place::kTopLeft, true},
                                  {"plain", K::kChar, Place::kBottomLeft, true},
                                  {"right", K::kChar, Place::kTopRight, true}}),
       "with Shift, without, with right Shift where it differs"},
      {1, SampleFace(Sample::kDead, {{"\u25CC\u00B4", K::kDead, Place::kBottomLeft}}), "dead key"},
      {1, SampleFace(Sample::kMacro, {{"Velt…", K::kMacro, Place::kBottomLeft, true}}),
       "macro: its first characters"},
      system,
      held,
      {1, SampleFace(Sample::kChar, {{"0x81", K::kChar, Place::kBottomLeft, true}}), "byte with no character"},
  };
  if (p.dead.HasComposeKey()) {
    items.insert(items.begin() + 2,
                 {1, SampleFace(Sample::kCompose, {{"\u2384", K::kCompose, Place::kBottomLeft}}), "compose key"});
  }
  return items;
}

double LegendItemWidth(const LegendItem& item) {
  return item.w * kUnit + 6 + TextWidth(item.note, 12);
}

}  // namespace

std::vector<KeyboardState> MainStates() {
  const std::uint16_t ralt = Bit(kModRightAlt);
  return {{0, false}, {0, true}, {ralt, false}, {ralt, true}};
}

bool ParseModifierNames(std::string_view text, std::uint16_t& modifiers) {
  static constexpr const char* kNames[] = {"lctrl", "rctrl", "lalt", "ralt", "lwin", "rwin"};
  std::uint16_t bits = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find('+', start);
    const std::string_view word = text.substr(start, end == std::string_view::npos ? end : end - start);
    int found = -1;
    for (int i = 0; i < 6; ++i) {
      const std::string_view name = kNames[i];
      if (word.size() != name.size()) continue;
      bool same = true;
      for (std::size_t j = 0; j < word.size(); ++j) {
        const char c = word[j] >= 'A' && word[j] <= 'Z' ? static_cast<char>(word[j] + 32) : word[j];
        same = same && c == name[j];
      }
      if (same) found = i;
    }
    if (found < 0) return false;
    bits |= Bit(static_cast<std::uint8_t>(found));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  modifiers = bits;
  return true;
}

std::string StateCaption(const KeyboardState& state) {
  static constexpr const char* kNames[] = {"Left Ctrl",         "Right Ctrl", "Left Alt",
                                           "Right Alt (AltGr)", "Left Win",   "Right Win"};
  std::string caption;
  for (std::uint8_t bit = 0; bit < 6; ++bit) {
    if (!(state.modifiers & Bit(bit))) continue;
    if (!caption.empty()) caption += " + ";
    caption += kNames[bit];
  }
  if (state.capsLock) caption += caption.empty() ? "Caps Lock" : " + Caps Lock";
  return caption.empty() ? "No modifier" : caption;
}

bool FindComposition(const KeyboardDescription& d, unsigned layout, std::string_view steps, Composition& out,
                     std::string& error) {
  const DeadKeys dead(d, layout);
  const std::string where = "layout " + std::to_string(layout % kLayouts);
  Composition c;
  c.table = dead.table();
  std::size_t pos = 0;
  for (int n = 0;; ++n) {
    const std::size_t start = pos;
    const std::string_view rest = steps.substr(pos);
    const bool compose = rest.substr(0, 7) == "compose" && (rest.size() == 7 || rest[7] == ',');
    bool deadStep = n == 0;  // a composition starts with a dead key
    char32_t ch = 0;
    if (compose) {
      pos += 7;
    } else {
      if (rest.substr(0, 5) == "dead:") {
        deadStep = true;
        pos += 5;
      }
      std::size_t hexEnd = pos + 2;
      while (hexEnd < steps.size() && hexEnd < pos + 8 &&
             std::isxdigit(static_cast<unsigned char>(steps[hexEnd]))) {
        ++hexEnd;
      }
      if (steps.substr(pos, 2) == "U+" && hexEnd > pos + 2) {
        ch = *ParseHex(steps.substr(pos + 2, hexEnd - pos - 2), 6);
        pos = hexEnd;
      } else if (pos < steps.size() && steps[pos] != ',') {
        ch = NextUtf8(steps, pos);
      }
    }
    const std::string written(steps.substr(start, pos - start));
    if (!compose && ch == 0) {
      error = "'" + std::string(steps) + "' has an empty step";
      return false;
    }
    if (pos < steps.size() && steps[pos] != ',') {
      error = "'" + std::string(steps) +
              "': each step is one character, U+XXXX, dead:CHAR or compose, and ',' joins them";
      return false;
    }

    char32_t input = ch;
    std::string shown = GlyphOf(ch).text;
    if (compose) {
      if (!dead.HasComposeKey()) {
        error = where + " has no compose key";
        return false;
      }
      input = kComposeKeyInput;
      shown = "\u2384";
    } else if (deadStep) {
      const std::optional<std::uint8_t> byte = dead.Showing(ch);
      if (!byte) {
        error = where + " has no dead key that shows '" + written + "'";
        return false;
      }
      input = c.table ? dead.Input(*byte) : *byte;
      shown = DeadMark(shown);
      c.deadByte = *byte;
    }
    if (!c.table && n > 0) {
      error = where + " composes through the dead-key table: one dead key, and nothing after it";
      return false;
    }
    if (c.table) {
      const ComposeStep step = dead.Step(c.state, input);
      if (step.kind != ComposeStep::kState) {
        error = "'" + written + "' " +
                (step.kind == ComposeStep::kText ? "ends the composition" : "leads nowhere") +
                (n > 0 ? " after " + c.caption : "") + " on " + where;
        return false;
      }
      c.state = step.state;
    }
    c.caption += (n > 0 ? " then " : "") + shown;
    if (pos == steps.size()) break;
    ++pos;  // the ','
  }
  out = std::move(c);
  return true;
}

std::vector<KeyFace> KeyFaces(const KeyboardDescription& d, const RenderOptions& options,
                              const KeyboardState& state) {
  const Picture picture{d, options.layout, DeadKeys(d, options.layout),
                        options.after ? &*options.after : nullptr, options.ansi, options.down};
  KeyLookup lookup(d);
  lookup.Select(options.layout, state);
  std::vector<KeyFace> faces;
  for (const KeyCap& k : KeyboardKeys(options.ansi)) faces.push_back(FaceOfKey(picture, lookup, k, state));
  return faces;
}

std::string RenderSvg(const KeyboardDescription& d, const RenderOptions& options) {
  const std::vector<KeyboardState> states =
      options.states.empty() ? std::vector<KeyboardState>{KeyboardState{}} : options.states;
  const unsigned layout = options.layout;
  const std::vector<KeyCap> keys = KeyboardKeys(options.ansi);
  const Picture picture{d, layout, DeadKeys(d, layout), options.after ? &*options.after : nullptr,
                        options.ansi, options.down};

  const std::size_t columns = states.size() > 1 ? 2 : 1;
  const std::size_t rows = (states.size() + columns - 1) / columns;
  const double caseW = kKeyboardWidth * kUnit + 2 * kCasePad;
  const double caseH = kKeyboardHeight * kUnit + 2 * kCasePad;
  const double panelH = kCaptionHeight + caseH;
  const double width =
      2 * kMargin + static_cast<double>(columns) * caseW + static_cast<double>(columns - 1) * kPanelGap;

  // The legend flows into as many lines as it needs.
  const std::vector<LegendItem> legend = LegendItems(picture);
  std::vector<std::pair<double, double>> legendAt;
  double lx = 0, ly = 0;
  for (const LegendItem& item : legend) {
    const double w = LegendItemWidth(item);
    if (lx > 0 && lx + w > width - 2 * kMargin) lx = 0, ly += kUnit + 6;
    legendAt.push_back({lx, ly});
    lx += w + kLegendItemGap;
  }
  const double panelsTop = kMargin + kHeaderHeight;
  const double legendTop =
      panelsTop + static_cast<double>(rows) * panelH + static_cast<double>(rows - 1) * kPanelGap + kLegendGap;
  const double height = legendTop + ly + kUnit + kMargin;

  const std::string name = LayoutName(d, layout);
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Num(width) + "\" height=\"" + Num(height) +
         "\" viewBox=\"0 0 " + Num(width) + " " + Num(height) + "\">\n<title>";
  AppendEscaped(out, name);
  out += "</title>\n<style>" + std::string(kStyle) + "</style>\n";
  out += "<rect width=\"100%\" height=\"100%\" fill=\"#f5f6f8\"/>\n";
  DrawText(out, kMargin, kMargin + 22, "title", name);
  DrawText(out, kMargin, kMargin + 46, "sub",
           "Layout " + std::to_string(layout) + " \u00B7 " + CharSetCaption(d, layout) + " \u00B7 " +
               (options.ansi ? "ANSI (US) keyboard" : "ISO keyboard") +
               (options.after ? " \u00B7 after " + options.after->caption : ""));

  for (std::size_t i = 0; i < states.size(); ++i) {
    const double px = kMargin + static_cast<double>(i % columns) * (caseW + kPanelGap);
    const double py = panelsTop + static_cast<double>(i / columns) * (panelH + kPanelGap);
    DrawText(out, px + 2, py + 15, "cap", StateCaption(states[i]));
    out += "<rect x=\"" + Num(px) + "\" y=\"" + Num(py + kCaptionHeight) + "\" width=\"" + Num(caseW) +
           "\" height=\"" + Num(caseH) + "\" rx=\"10\" fill=\"#dde0e5\"/>\n";
    const std::vector<KeyFace> faces = KeyFaces(d, options, states[i]);
    const double ox = px + kCasePad, oy = py + kCaptionHeight + kCasePad;
    for (std::size_t n = 0; n < keys.size(); ++n) {
      const KeyCap& k = keys[n];
      DrawKey(out, ox + k.x * kUnit, oy + k.y * kUnit, k.w, k.isoEnter, KeyNameOfScan(k.scan), faces[n]);
    }
  }

  out += "<g class=\"legend\">\n";
  for (std::size_t i = 0; i < legend.size(); ++i) {
    const double x = kMargin + legendAt[i].first, y = legendTop + legendAt[i].second;
    DrawKey(out, x, y, legend[i].w, false, "", legend[i].face);
    DrawText(out, x + legend[i].w * kUnit + 4, y + kUnit / 2 + 3, "note", legend[i].note);
  }
  out += "</g>\n</svg>\n";
  return out;
}

}  // namespace velto::layoutkit
