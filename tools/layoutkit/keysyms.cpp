#include "layoutkit/keysyms.h"

#include <algorithm>
#include <charconv>
#include <iterator>

namespace velto::layoutkit {

namespace {

struct Row {
  const char* name;
  std::uint32_t value;
  char32_t ch;
};

constexpr Row kKeysyms[] = {
#include "layoutkit/keysyms.inc"
};

// The dead keysyms, each under one name (the aliases dead_perispomeni,
// dead_psili and dead_dasia share the keysym of another), with the
// character the dead key shows: its spacing accent where Unicode has one,
// else the combining mark itself.
struct DeadRow {
  std::uint32_t value;
  std::string_view name;
  char32_t ch;
};
constexpr DeadRow kDeadKeys[] = {
    {0xfe50, "grave", U'`'},           {0xfe51, "acute", U'´'},          {0xfe52, "circumflex", U'^'},
    {0xfe53, "tilde", U'~'},           {0xfe54, "macron", U'¯'},         {0xfe55, "breve", U'˘'},
    {0xfe56, "abovedot", U'˙'},        {0xfe57, "diaeresis", U'¨'},      {0xfe58, "abovering", U'˚'},
    {0xfe59, "doubleacute", U'˝'},     {0xfe5a, "caron", U'ˇ'},          {0xfe5b, "cedilla", U'¸'},
    {0xfe5c, "ogonek", U'˛'},          {0xfe5d, "iota", U'ͺ'},           {0xfe5e, "voiced_sound", U'゛'},
    {0xfe5f, "semivoiced_sound", U'゜'}, {0xfe60, "belowdot", U'\u0323'}, {0xfe61, "hook", U'\u0309'},
    {0xfe62, "horn", U'\u031B'},       {0xfe63, "stroke", U'\u0335'},    {0xfe64, "abovecomma", U'\u0313'},
    {0xfe65, "abovereversedcomma", U'\u0314'}, {0xfe66, "doublegrave", U'\u030F'},
    {0xfe67, "belowring", U'\u0325'},  {0xfe68, "belowmacron", U'\u0331'}, {0xfe69, "belowcircumflex", U'\u032D'},
    {0xfe6a, "belowtilde", U'\u0330'}, {0xfe6b, "belowbreve", U'\u032E'}, {0xfe6c, "belowdiaeresis", U'\u0324'},
    {0xfe6d, "invertedbreve", U'\u0311'}, {0xfe6e, "belowcomma", U'\u0326'}, {0xfe6f, "currency", U'¤'},
    {0xfe80, "a", U'a'},               {0xfe81, "A", U'A'},              {0xfe82, "e", U'e'},
    {0xfe83, "E", U'E'},               {0xfe84, "i", U'i'},              {0xfe85, "I", U'I'},
    {0xfe86, "o", U'o'},               {0xfe87, "O", U'O'},              {0xfe88, "u", U'u'},
    {0xfe89, "U", U'U'},               {0xfe8a, "small_schwa", U'ə'},    {0xfe8b, "capital_schwa", U'Ə'},
    {0xfe8c, "greek", U'µ'},           {0xfe90, "lowline", U'_'},        {0xfe91, "aboveverticalline", U'\u030D'},
    {0xfe92, "belowverticalline", U'\u0329'}, {0xfe93, "longsolidusoverlay", U'\u0338'},
};

constexpr std::uint32_t kMultiKey = 0xff20;
constexpr std::uint32_t kUnicodeKeysyms = 0x1000000;

Keysym FromValue(std::uint32_t value, char32_t ch) {
  Keysym k;
  k.value = value;
  if (value == kMultiKey) {
    k.kind = Keysym::kCompose;
    return k;
  }
  for (const DeadRow& d : kDeadKeys) {
    if (d.value == value) {
      k.kind = Keysym::kDead;
      k.deadName = d.name;
      k.ch = d.ch;
      return k;
    }
  }
  if (ch == 0 && value >= kUnicodeKeysyms + 0x20 && value <= kUnicodeKeysyms + 0x10FFFF) ch = value - kUnicodeKeysyms;
  if (ch == 0 && ((value >= 0x20 && value <= 0x7E) || (value >= 0xA0 && value <= 0xFF))) ch = value;
  k.ch = ch;
  k.kind = ch != 0 ? Keysym::kChar : Keysym::kNoChar;
  return k;
}

bool ParseHex(std::string_view digits, std::uint32_t& value) {
  if (digits.empty() || digits.size() > 8) return false;
  const auto [end, err] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
  return err == std::errc() && end == digits.data() + digits.size();
}

}  // namespace

Keysym KeysymByName(std::string_view name) {
  const auto* end = std::end(kKeysyms);
  const auto* it = std::lower_bound(std::begin(kKeysyms), end, name,
                                    [](const Row& r, std::string_view n) { return std::string_view(r.name) < n; });
  if (it != end && name == it->name) return FromValue(it->value, it->ch);
  std::uint32_t value = 0;
  // U+XXXX as a keysym of its own, and keysyms by number.
  if (name.size() >= 2 && name[0] == 'U' && ParseHex(name.substr(1), value) && value <= 0x10FFFF) {
    return value < 0x100 ? FromValue(value, value >= 0x20 && value != 0x7F ? value : 0)
                         : FromValue(kUnicodeKeysyms + value, value);
  }
  if (name.size() > 2 && name[0] == '0' && (name[1] == 'x' || name[1] == 'X') && ParseHex(name.substr(2), value)) {
    for (const Row& r : kKeysyms) {
      if (r.value == value) return FromValue(value, r.ch);
    }
    return FromValue(value, 0);
  }
  if (name == "NoSymbol" || name == "VoidSymbol") return FromValue(0xffffff, 0);
  return Keysym{};
}

}  // namespace velto::layoutkit
