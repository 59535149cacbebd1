// The keyboard language: what the compiler makes of a source, its
// diagnostics, and the round trip through the decompiler.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <string>

#include "layoutkit/badge.h"
#include "layoutkit/codepage.h"
#include "layoutkit/composition_builder.h"
#include "layoutkit/vkb.h"
#include "layoutkit/vkl.h"
#include "layoutkit/vkl_model.h"
#include "layoutkit/vkl_print.h"
#include "layoutkit/vkl_syntax.h"
#include "shared/charset.h"
#include "shared/compositions.h"

namespace velto::layoutkit {
namespace {

const std::string kLayouts = VELTO_SOURCE_DIR "/layouts/";

struct Compiled {
  bool ok;
  KeyboardDescription d;
  std::string diagnostics;
};

Compiled Compile(const std::string& text) {
  Compiled c{false, {}, ""};
  Diagnostics diags;
  c.ok = CompileVklText(text, kLayouts + "test.vkl", c.d, diags);
  c.diagnostics = diags.Text();
  return c;
}

// The file's bytes again after decompiling and compiling them.
std::vector<std::uint8_t> RoundTrip(const KeyboardDescription& d, std::string* source = nullptr) {
  const std::string text = DecompileToVkl(d);
  if (source != nullptr) *source = text;
  KeyboardDescription back;
  Diagnostics diags;
  EXPECT_TRUE(CompileVklText(text, "decompiled.vkl", back, diags)) << diags.Text() << text;
  return ToVkb(back);
}

const KeySlot& Slot(const KeyboardDescription& d, unsigned plane, std::uint16_t scan, KeySlotIndex slot) {
  return d.keys.planes[plane][d.options.scanMap[scan]].slots[slot];
}

std::string Hex(int n) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%x", n);
  return buf;
}

constexpr std::uint16_t kScanA = 0x1E, kScanE = 0x12, kScanM = 0x32, kScanF12 = 0x58;

// A Unicode layout 1 whose keys type `count` CJK characters (which have no
// case) from U+4E00, fifteen to a key line, then `extra` lines.
std::string ManyCharacters(int count, const std::string& extra = "") {
  std::string text = "layout 1 {\n  unicode\n  caps same\n";
  for (int i = 0; i < count; i += 15) {
    text += "  key sc:" + Hex(0x100 + i / 15);
    for (int j = i; j < count && j < i + 15; ++j) {
      static const char* const kLabels[] = {"", " lctrl:", " rctrl:", " lalt:", " ralt:"};
      if (j % 3 == 0) text += kLabels[j % 15 / 3];
      text += " U+" + Hex(0x4E00 + j);
    }
    text += "\n";
  }
  return text + extra + "}\n";
}

TEST(Vkl, KeysOptionsHotkeysAndRecords) {
  const Compiled c = Compile(R"(
option caps-switches-layout
lock numlock on
lock capslock off
hotkey toggle LCtrl+LShift
hotkey enable RCtrl+F12
option-bytes 12 34
layout 1 "Test" {
  claims ralt win-hotkeys
  right-as-left alt shift
  char-then-left
  charset à..â é
  key A   a A         ralt: á Á
  key E   e E É       caps: x
  key M   m M         ralt: macro:sig      caps=same
  key sc:11d  z
  key GRAVE dead:grave
}
deadkey grave `  a à
macro sig "Hi{ENTER}"
)");
  ASSERT_TRUE(c.ok) << c.diagnostics;
  const KeyboardDescription& d = c.d;
  EXPECT_EQ(d.options.options, 0x0001 | 0x0030 | 0x0080);
  EXPECT_EQ(d.options.layoutHotkeyMods, 0x0041);
  EXPECT_EQ(d.options.layoutHotkeyScan, 0xFFFF);
  EXPECT_EQ(d.options.enableHotkeyMods, 0x0002);
  EXPECT_EQ(d.options.enableHotkeyScan, kScanF12);
  EXPECT_EQ(d.options.disableHotkeyMods, 0);
  EXPECT_EQ(d.options.disableHotkeyScan, 0xFFFF);
  EXPECT_EQ(d.options.reserved, 0x3412);
  // Records in the order the keys appear, from 1.
  EXPECT_EQ(d.options.scanMap[kScanA], 1);
  EXPECT_EQ(d.options.scanMap[kScanE], 2);
  EXPECT_EQ(d.options.scanMap[0x11D], 4);
  EXPECT_EQ(d.options.scanMap[0x1F], 0);
  const KeySlot& a = Slot(d, 1, kScanA, kSlotPlain);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(a.ch), 3), "aAA");
  EXPECT_EQ(Slot(d, 1, kScanA, kSlotRightAlt).ch[1], 0xC1);
  // Caps Lock planes: letters swapped by default, given, or the same.
  EXPECT_EQ(Slot(d, 3, kScanA, kSlotPlain).ch[0], 'A');
  EXPECT_EQ(Slot(d, 3, kScanA, kSlotRightAlt).ch[0], 0xC1);
  EXPECT_EQ(Slot(d, 3, kScanE, kSlotPlain).ch[0], 'x');
  EXPECT_EQ(Slot(d, 3, kScanE, kSlotPlain).ch[1], 0);
  EXPECT_EQ(Slot(d, 1, kScanE, kSlotPlain).ch[2], 0xC9);
  const KeySlot& macro = Slot(d, 3, kScanM, kSlotRightAlt);
  EXPECT_EQ(macro.ch[0], 1);
  EXPECT_EQ(macro.flags, 0x08);
  EXPECT_EQ(Slot(d, 1, 0x29, kSlotPlain).flags, 0x01);
  EXPECT_EQ(d.macros.entries[1].length, 9);
  EXPECT_EQ(std::string(d.macros.entries[1].text, 9), "Hi{ENTER}");
  EXPECT_EQ(d.deadKeys.rows[0].dead, '`');
  EXPECT_EQ(d.deadKeys.rows[0].composed, 0xE0);
  const LayoutRecord& r = d.layouts[1];
  EXPECT_EQ(r.flags, 1);
  EXPECT_EQ(r.modMask, 0x0108);
  EXPECT_EQ(r.rightModEquivalence, 0x000A);
  EXPECT_EQ(r.reserved[0] | r.reserved[1] << 8, 1252);
  EXPECT_EQ(r.charBitmap[0xE0 / 8], 0x07);  // à á â
  EXPECT_EQ(r.charBitmap[0xE9 / 8], 0x02);  // é
  EXPECT_EQ(std::string(r.name), "Test");
  // Layouts that are not defined stay all zero.
  EXPECT_EQ(d.layouts[2].reserved[0], 0);
}

TEST(Vkl, CharactersAreEncodedInTheLayoutsCodePage) {
  const std::string layouts = R"(
codepage 1251
layout 0 "Čeština" {
  codepage 1250
  key A  ř Ř
}
layout 1 "Русский" {
  key A  ф Ф   ralt: 0x81 U+0451
  key M  macro:m
}
macro m "Привет"
)";
  const Compiled c = Compile(layouts + "deadkey breve ˘  a ă\n");
  // ă is not in 1251: the dead-key rows are in the description's code page.
  ASSERT_FALSE(c.ok);
  EXPECT_NE(c.diagnostics.find("test.vkl:12:15: error: character U+02D8 '˘' is not in code page 1251"),
            std::string::npos)
      << c.diagnostics;
  const Compiled fixed = Compile(layouts + R"(
layout 2 "Ελληνικά" {
  codepage 1253
}
)");
  ASSERT_TRUE(fixed.ok) << fixed.diagnostics;
  const KeyboardDescription& d = fixed.d;
  EXPECT_EQ(Slot(d, 0, kScanA, kSlotPlain).ch[0], 0xF8);  // ř in 1250
  EXPECT_EQ(Slot(d, 0, kScanA, kSlotPlain).ch[1], 0xD8);
  EXPECT_EQ(Slot(d, 2, kScanA, kSlotPlain).ch[0], 0xD8);  // Caps Lock: Ř
  EXPECT_EQ(Slot(d, 1, kScanA, kSlotPlain).ch[0], 0xF4);  // ф in 1251
  EXPECT_EQ(Slot(d, 1, kScanA, kSlotRightAlt).ch[0], 0x81);
  EXPECT_EQ(Slot(d, 1, kScanA, kSlotRightAlt).ch[1], 0xB8);  // ё
  EXPECT_EQ(std::string(d.layouts[0].name, 3), "\xC8" "e\x9A");  // Če š in 1250
  EXPECT_EQ(std::string(d.layouts[1].name, 7), "\xD0\xF3\xF1\xF1\xEA\xE8\xE9");
  EXPECT_EQ(d.layouts[2].name[0], '\xC5');  // Ε in 1253
  EXPECT_EQ(d.layouts[2].reserved[0] | d.layouts[2].reserved[1] << 8, 1253);
  EXPECT_EQ(std::string(d.macros.entries[1].text, 6), "\xCF\xF0\xE8\xE2\xE5\xF2");
  EXPECT_EQ(EncodeChar(1252, U'€'), 0x80);
  EXPECT_EQ(DecodeByte(1252, 0x81), 0u);
  EXPECT_EQ(SwapCaseByte(1251, 0xF4), 0xD4);
  EXPECT_EQ(SwapCaseByte(1252, 0xB5), 0xB5);  // µ has no capital in 1252
}

TEST(Vkl, EveryErrorIsReportedWithItsPlaceAndNothingIsBuilt) {
  std::string tooMany = "layout 1 {\n";
  for (int scan = 1; scan <= 128; ++scan) tooMany += "key sc:" + Hex(scan) + " x\n";
  tooMany += "}\n";
  const struct {
    std::string source;
    std::string expected;
  } cases[] = {
      {"layout 1 {\nkey FOO a\n}", "test.vkl:2:5: error: unknown key name \"FOO\""},
      {"layout 1 {\nkey A a\nkey A b\n}", "test.vkl:3:5: error: duplicate definition of key A in layout 1"},
      {"hotkey toggle F1\nhotkey toggle F2", "test.vkl:2:8: error: duplicate definition of hotkey toggle"},
      {"layout 1 {\nkey A ж\n}", "test.vkl:2:7: error: character U+0436 'ж' is not in code page 1252"},
      {"macro m \"" + std::string(256, 'x') + "\"",
       "test.vkl:1:7: error: macro m is 256 bytes long once encoded; a macro holds at most 255"},
      {"macro m \"a{LCTRL+FOO}\"", "test.vkl:1:18: error: unknown key name \"FOO\" in a chord"},
      {"macro m \"{a+b+c+d+e+f+g+h+i+j+k+l+m+n+o+p+q}\"",
       "test.vkl:1:10: error: a chord of 17 keys; a chord holds at most 16"},
      {"macro m \"ab{LCTRL+c\"", "test.vkl:1:12: error: missing \"}\" at the end of the chord"},
      {"hotkey toggle LCtrl+sc:200", "test.vkl:1:21: error: scan code \"sc:200\" is above 0x1ff"},
      {"layout 1 \"A name of twenty-one.\" {\n}", "test.vkl:1:10: error: the layout name is 21 bytes"},
      {tooMany, "test.vkl:129:5: error: more than 127 mapped keys"},
      {"layout 1 {\nkey A macro:nope\n}", "test.vkl:2:7: error: no macro named nope"},
      {"layout 1 {\nkey A dead:nope\n}", "test.vkl:2:7: error: no dead key named nope"},
      {"layout 2 {\nkey A a\n}", "test.vkl:2:5: error: layouts 2 and 3 have no planes of their own"},
      {"layout 1 {\nkey A a\n", "test.vkl:1:1: error: layout 1 is not closed"},
      {"frobnicate", "test.vkl:1:1: error: unknown statement \"frobnicate\""},
      // Character sets.
      {ManyCharacters(256), "test.vkl:21:14: error: layout 1 needs 256 characters; a Unicode set holds at most 255"},
      {"unicode\nlayout 1 {\nkey A я\n}\nmacro m @254 \"x\"",
       "test.vkl:5:7: error: macro @254 is where layout 1's character table (macro entries 253 to 255) is kept"},
      {"layout 1 {\nbytes 18 01 00\n}", "test.vkl:2:7: error: bytes 6 to 19 of the record of layout 1 hold its character set"},
      {"layout 1 {\nunicode\nkey A ж macro:m\n}\nmacro m \"é\"",
       "test.vkl:3:9: error: macro m means other characters in layout 1: its byte 0xE9 is U+00E9 'é' in the set of "
       "the macros and dead keys, no character in the layout's"},
      {"unicode\nlayout 0 {\ncodepage 1251\nkey A dead:acute\n}\ndeadkey acute ´ e é",
       "test.vkl:4:7: error: dead key acute means other characters in layout 0: its byte 0x80 is U+00B4 '´'"},
      {"layout 1 {\nunicode\ntable 0x80 ж\nkey A ж я\n}", "test.vkl:4:9: error: character U+044F 'я' is not in the table of layout 1"},
      // Badges.
      {"layout 1 {\nbadge \"ABCD\"\n}", "test.vkl:2:7: error: a badge is 1 to 3 characters; this one has 4"},
      {"layout 1 {\nbadge \"日本語\"\n}", "test.vkl:2:7: error: a badge is at most 6 bytes in UTF-8"},
      {"layout 1 {\nbadge \"U S\"\n}", "test.vkl:2:9: error: a badge is made of letters and digits; U+0020 is neither"},
      {"layout 1 {\nbadge \"A\"\nbadge \"B\"\n}", "test.vkl:3:1: error: duplicate definition of badge"},
      {"layout 1 {\nbytes 30 01 02 03\nbadge \"US\"\n}",
       "test.vkl:3:1: error: the badge takes bytes 32 to 37 of the record, which the bytes of line 2 write"},
      {"layout 1 {\n  badge \"US\"\n  bytes 37 01\n}", "test.vkl:3:9: error: these bytes write over the badge of line 2"},
  };
  for (const auto& c : cases) {
    const Compiled r = Compile(c.source);
    EXPECT_FALSE(r.ok) << c.source;
    EXPECT_NE(r.diagnostics.find(c.expected), std::string::npos) << r.diagnostics;
  }
  // All errors, not only the first; the output is left as it was.
  KeyboardDescription out;
  out.options.options = 0x1234;
  Diagnostics diags;
  EXPECT_FALSE(CompileVklText("layout 1 {\nkey FOO a\nkey BAR b\n}\nmacro m \"{X\"", "t.vkl", out, diags));
  EXPECT_EQ(diags.errors(), 3) << diags.Text();
  EXPECT_EQ(out.options.options, 0x1234);
}

TEST(Vkl, WarningsDoNotStopTheCompile) {
  const Compiled c = Compile(R"(
layout 1 {
  key A dead:^ U+0007
}
macro unused "x"
)");
  ASSERT_TRUE(c.ok) << c.diagnostics;
  EXPECT_NE(c.diagnostics.find("test.vkl:3:9: warning: dead key U+005E '^' has no row"), std::string::npos)
      << c.diagnostics;
  EXPECT_NE(c.diagnostics.find("test.vkl:3:16: warning: character U+0007 is below 32"), std::string::npos);
  EXPECT_NE(c.diagnostics.find("test.vkl:5:7: warning: macro unused is never used"), std::string::npos);
}

// A Caps Lock mode alone makes a plane too, which layouts 2 and 3 lack (the
// compiler once wrote it past the four planes).
TEST(Vkl, LayoutsTwoAndThreeRefuseACapsModeAlone) {
  const Compiled c = Compile("layout 2 \"Two\" {\n  key M caps=same\n}\n");
  EXPECT_FALSE(c.ok);
  EXPECT_NE(c.diagnostics.find("test.vkl:2:7: error: layouts 2 and 3 have no planes of their own"), std::string::npos)
      << c.diagnostics;
}

TEST(Vkl, ShippedLayoutsRoundTripByteForByte) {
  for (const char* name : {"us", "intl", "ru-phonetic", "de"}) {
    KeyboardDescription d;
    Diagnostics diags;
    ASSERT_TRUE(CompileVklFile(kLayouts + name + ".vkl", d, diags)) << diags.Text();
    EXPECT_EQ(diags.all().size(), 0u) << name << ": " << diags.Text();
    std::string source;
    EXPECT_EQ(RoundTrip(d, &source), ToVkb(d)) << name;
    EXPECT_EQ(source.find("table 0x"), std::string::npos) << "a table where the compiler's own placement does:\n" << source;
    for (std::size_t at = source.find(" @"); at != std::string::npos; at = source.find(" @", at + 1)) {
      EXPECT_FALSE(std::isdigit(static_cast<unsigned char>(source[at + 2]))) << "a record number where none is needed:\n" << source;
    }
  }
}

// Any file of the right size decompiles to source that compiles to the same
// bytes, but for what the library never reads.
TEST(Vkl, AnyDescriptionRoundTrips) {
  for (int seed = 0; seed < 60; ++seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> bytes(kVkbSize);
    const unsigned density = 1 + seed % 4;  // from every byte random to one in nine
    for (auto& b : bytes) b = density == 1 || rng() % (density * 3) == 0 ? static_cast<std::uint8_t>(rng()) : 0;
    KeyboardDescription d;
    ASSERT_TRUE(FromVkb(bytes, d));
    // Every third seed, character sets on most layouts: code pages, and
    // Unicode tables of random values at random entries.
    std::set<int> tables;
    for (LayoutRecord& l : d.layouts) {
      if (seed % 3 != 0 || rng() % 4 == 0) continue;
      CharSetHeader h = HeaderOf(l);
      std::memcpy(h.mark, kCharSetMark, sizeof h.mark);
      h.kind = static_cast<std::uint8_t>(1 + rng() % 2);
      h.tableEntry = static_cast<std::uint8_t>(rng() % (kLastUnicodeTableEntry + 1));
      if (h.kind == 1) h.codePage = static_cast<std::uint16_t>(1250 + rng() % 9);
      if (h.kind == 1 && rng() % 2) h.tableEntry = 0, h.count = 0;
      for (int e = 0; e < 3 && h.kind == 2; ++e) tables.insert(h.tableEntry + e);
      std::memcpy(l.reserved, &h, sizeof h);
    }
    bool reached[kKeysPerPlane] = {};
    for (const std::uint8_t r : d.options.scanMap) reached[r % kKeysPerPlane] |= r < kKeysPerPlane;
    for (auto& plane : d.keys.planes) {
      for (std::size_t k = 0; k < kKeysPerPlane; ++k) {
        if (!reached[k]) plane[k] = KeyRecord{};
        for (KeySlot& s : plane[k].slots) s.flags &= 0x3F;
      }
    }
    for (int m = 0; m < static_cast<int>(kMacros); ++m) {
      MacroEntry& e = d.macros.entries[m];
      if (!tables.count(m)) std::memset(e.text + e.length, 0, sizeof e.text - e.length);
    }
    for (LayoutRecord& l : d.layouts) l.flags &= 1;
    ASSERT_EQ(RoundTrip(d), ToVkb(d)) << "seed " << seed;
  }
}

TEST(Vkl, DescriptionWithEveryFieldSetRoundTrips) {
  const Compiled c = Compile(R"(
codepage 1250
option caps-switches-layout
option numpad-without-numlock
option scroll-lock-shows-layout
lock numlock on
lock capslock off
lock scrolllock on
option-bits 0x8402
option-bytes ab cd
hotkey toggle raw 0x0041 0x002a
hotkey enable LCtrl+LAlt+F12
hotkey disable raw 0x0100 0x0058
layout 0 "Zero" {
  caps none
  key sc:0 @0  q
  key A @9     a A b   lctrl: c   rctrl: d  lalt: e  ralt: ř Ř  lwin: f  rwin: g g h  caps: A a
}
layout 1 "Jedna" {
  char-then-left
  claims lctrl rctrl lalt ralt lwin rwin lshift rshift caps win-hotkeys apps-key 0x8000
  right-as-left ctrl alt win shift 0x0100
  charset 0x00..0x1f a..z ř
  bytes 20 01 02 03
  bytes 37 ff
  key A        dead:acute dead+macro:two macro:two   caps=shift
  key B @200
}
layout 3 "Tri" {
  codepage 1251 ansi
  bytes 6 00 00
  bytes 8 01
}
key C @9
deadkey acute ´  a á  - x
deadrow - a b
deadkey acute ´  e é
macro two @7 "dvě {LCTRL+HOME}"
macro nothing @0 unchecked "{FOO"
)");
  ASSERT_TRUE(c.ok) << c.diagnostics;
  std::string source;
  EXPECT_EQ(RoundTrip(c.d, &source), ToVkb(c.d)) << source;
}

// A Unicode layout's bytes stand for the characters its table gives them:
// ASCII on its own bytes, the macros' and dead keys' characters first and
// the same in every set, any character up to U+10FFFF.
TEST(Vkl, UnicodeLayoutsPlaceTheirCharactersAndRoundTrip) {
  const Compiled c = Compile(R"(
unicode
layout 0 "Кириллица" {
  key A  ф Ф   ralt: U+1F600 macro:hi
  key Q  я     ralt: dead:acute
}
layout 1 "Ελληνικά" {
  key A  α     ralt: macro:hi
}
layout 2 "Два" {
}
layout 3 "Win-1253" {
  codepage 1253
}
deadkey acute ´  e é
macro hi "Hé!"
)");
  ASSERT_TRUE(c.ok) << c.diagnostics;
  const KeyboardDescription& d = c.d;
  const CharSetHeader zero = HeaderOf(d.layouts[0]), one = HeaderOf(d.layouts[1]);
  EXPECT_EQ(CharSetOf(d.layouts[0]), CharSetKind::kUnicode);
  EXPECT_EQ(zero.codePage, 1200);
  EXPECT_EQ(zero.tableEntry, 253);
  EXPECT_EQ(one.tableEntry, 250);                          // another set, the next table
  EXPECT_EQ(HeaderOf(d.layouts[2]).tableEntry, 253);       // layout 2 shares layout 0's
  EXPECT_EQ(zero.count, 18);  // ´ e é H !, ф Ф 😀 я Я, and 8 more of the names of layouts 0 and 2
  EXPECT_EQ(CharSetOf(d.layouts[3]), CharSetKind::kCodePage);
  // The shared characters first, from 0x80, in both sets; ASCII as it is.
  for (unsigned layout : {0u, 1u}) {
    EXPECT_EQ(LayoutChar(d, layout, 0x80), U'´') << layout;
    EXPECT_EQ(LayoutChar(d, layout, 0x81), U'é') << layout;
    EXPECT_EQ(LayoutChar(d, layout, 'H'), U'H') << layout;
  }
  EXPECT_EQ(std::string(d.macros.entries[1].text, 3), "H\x81!");
  EXPECT_EQ(LayoutChar(d, 0, Slot(d, 0, kScanA, kSlotPlain).ch[0]), U'ф');
  EXPECT_EQ(LayoutChar(d, 0, Slot(d, 0, kScanA, kSlotRightAlt).ch[0]), U'\U0001F600');
  EXPECT_EQ(LayoutChar(d, 0, Slot(d, 2, 0x10, kSlotPlain).ch[0]), U'Я');  // Caps Lock swaps Cyrillic case
  EXPECT_EQ(LayoutChar(d, 1, Slot(d, 3, kScanA, kSlotPlain).ch[0]), U'Α');  // and Greek
  EXPECT_EQ(LayoutChar(d, 2, static_cast<std::uint8_t>(d.layouts[2].name[0])), U'Д');
  EXPECT_EQ(LayoutChar(d, 3, static_cast<std::uint8_t>(d.layouts[3].name[0])), U'W');
  std::string source;
  EXPECT_EQ(RoundTrip(d, &source), ToVkb(d)) << source;
  EXPECT_EQ(source.find("table"), std::string::npos) << "the compiler's own placement needs no table:\n" << source;

  // More than 128 characters: the rest take the free bytes below 0x80.
  const Compiled many = Compile(ManyCharacters(200));
  ASSERT_TRUE(many.ok) << many.diagnostics;
  EXPECT_EQ(LayoutChar(many.d, 1, 0xFF), U'\u4E7F');
  EXPECT_EQ(LayoutChar(many.d, 1, 0x01), U'\u4E80');
  EXPECT_EQ(RoundTrip(many.d, &source), ToVkb(many.d)) << source;
}

// What a layout types through its table of compositions, as the engine
// walks it: each key's input is what its byte stands for in the set (a
// character, or a dead key's or the compose key's input); a key that ends
// nothing types itself, and a dead key starts anew.
std::u32string Type(const KeyboardDescription& d, unsigned layout, const std::vector<std::pair<std::uint16_t, int>>& keys) {
  const Compositions table(d.compositions.data(), d.compositions.size());
  std::u32string out;
  std::uint32_t state = 0;
  for (const auto& [scan, column] : keys) {
    const KeySlot& s = Slot(d, layout, scan, kSlotPlain);
    const char32_t input = InputOfByte(d.layouts[layout], d.macros, s.ch[column]);
    const ComposeStep step = table.Step(state, input);
    if (step.kind == ComposeStep::kState) {
      state = step.state;
    } else if (step.kind == ComposeStep::kText) {
      out.append(step.text, step.text + step.length);
      state = 0;
    } else if (IsDeadKeyInput(input)) {
      state = table.Step(0, input).state;
    } else {
      out += input;
      state = 0;
    }
  }
  return out;
}

const std::string kComposing = R"vkl(unicode
layout 1 "Test" {
  key A      a A
  key E      e
  key J      j
  key Q      dead:acute dead:grave
  key W      dead:circumflex
  key S      dead:belowdot
  key QUOTE  '\''
  key SPACE  ' '
  key APP    compose
}
deadkey acute       ´       a á   e é   j "j́"   dead:acute ´
deadkey grave       `       a à   dead:circumflex dead:grave+circ
deadkey circumflex  ^       a â
deadkey belowdot    U+0323  a ạ
deadkey grave+circ  U+1DC5  a ầ
chain dead:circumflex dead:belowdot a   ậ
compose a '\''   á
compose e e e   "€ (\u{1F4B6})"
deadkey grave       `       e è
)vkl";

constexpr std::uint16_t kScanJ = 0x24, kScanQ = 0x10, kScanW = 0x11, kScanS = 0x1F, kScanQuote = 0x28,
                        kScanSpace = 0x39, kScanApp = 0x15D;

TEST(Vkl, ChainsTextsAndTheComposeKeyTypeWhatTheySay) {
  const Compiled c = Compile(kComposing);
  ASSERT_TRUE(c.ok) << c.diagnostics;
  const KeyboardDescription& d = c.d;
  EXPECT_EQ(HeaderOf(d.layouts[1]).kind, kUnicodeComposingKind);
  EXPECT_EQ(d.deadKeys.rows[0].dead, 0);  // the 256-row table is not used
  // The set holds what the keys type, and the inputs of the dead keys (by
  // first declaration) and of the compose key; not the results.
  EXPECT_EQ(InputOfByte(d.layouts[1], d.macros, Slot(d, 1, kScanQ, kSlotPlain).ch[1]), kDeadKeyInputs + 1);
  EXPECT_EQ(InputOfByte(d.layouts[1], d.macros, Slot(d, 1, kScanApp, kSlotPlain).ch[0]), kComposeKeyInput);
  EXPECT_EQ(vkl::LayoutCharSet(d, 1).Byte(U'á'), -1);
  const struct {
    std::vector<std::pair<std::uint16_t, int>> keys;
    std::u32string typed;
  } cases[] = {
      {{{kScanQ, 0}, {kScanA, 0}}, U"á"},
      {{{kScanQ, 0}, {kScanA, 1}}, U"A"},  // no pair: the key types itself
      {{{kScanQ, 0}, {kScanJ, 0}}, U"j\u0301"},
      {{{kScanQ, 0}, {kScanQ, 0}}, U"´"},
      {{{kScanQ, 0}, {kScanSpace, 0}}, U"´"},
      {{{kScanQ, 1}, {kScanW, 0}, {kScanA, 0}}, U"ầ"},  // grave, then circumflex: grave+circ
      {{{kScanQ, 1}, {kScanE, 0}}, U"è"},               // a later deadkey line adds to it
      {{{kScanW, 0}, {kScanS, 0}, {kScanA, 0}}, U"ậ"},
      {{{kScanW, 0}, {kScanQ, 0}, {kScanA, 0}}, U"á"},  // a dead key after a dead key without a pair starts anew
      {{{kScanApp, 0}, {kScanA, 0}, {kScanQuote, 0}}, U"á"},
      {{{kScanApp, 0}, {kScanE, 0}, {kScanE, 0}, {kScanE, 0}}, U"€ (\U0001F4B6)"},
      {{{kScanApp, 0}, {kScanE, 0}, {kScanA, 0}}, U"a"},  // the composition is forgotten
  };
  for (const auto& t : cases) {
    EXPECT_EQ(Type(d, 1, t.keys), t.typed) << t.keys.size() << " keys, then " << t.keys.back().first;
  }
  // The decompiler writes the same lines back, and the printer the model.
  std::string source;
  EXPECT_EQ(RoundTrip(d, &source), ToVkb(d));
  for (const char* line : {"deadkey acute       ´  a á  e é  j \"j́\"  dead:acute ´",
                           "deadkey grave       `  a à  e è  dead:circumflex dead:dead4",
                           "chain dead:circumflex dead:belowdot a   ậ", "compose a '\\''   á",
                           "compose e e e   \"€ (💶)\"", "key APP        compose"}) {
    EXPECT_NE(source.find(line), std::string::npos) << line << " in\n" << source;
  }
  EXPECT_EQ(source.find("composition-bytes"), std::string::npos) << source;
}

// The model printed by the printer compiles to the bytes of the source it
// was read from: the shipped layouts and the forms of the table of states.
TEST(Vkl, ThePrintedModelCompilesToTheSameBytes) {
  std::vector<std::pair<std::string, std::string>> sources = {{"composing", kComposing}};
  for (const char* name : {"us", "intl", "ru-phonetic", "de"}) {
    std::vector<std::uint8_t> bytes;
    Diagnostics diags;
    ASSERT_TRUE(ReadFile(kLayouts + name + ".vkl", bytes, diags));
    sources.push_back({name, std::string(bytes.begin(), bytes.end())});
  }
  for (const auto& [name, text] : sources) {
    Diagnostics diags;
    compiler::Reporter report(diags);
    compiler::Model model;
    compiler::ParseVklText(text, kLayouts + name + ".vkl", model, report);
    const std::string printed = PrintModel(model);
    const Compiled original = Compile(text), again = Compile(printed);
    ASSERT_TRUE(original.ok && again.ok) << name << ": " << original.diagnostics << again.diagnostics << printed;
    EXPECT_EQ(ToVkb(again.d), ToVkb(original.d)) << name << ":\n" << printed;
  }
  // One spelling of characters and strings for every tool.
  EXPECT_EQ(vkl::CharText(U' '), "' '");
  EXPECT_EQ(vkl::CharText(U'\u0301'), "U+0301");
  EXPECT_EQ(vkl::CharText(U'\u200B'), "U+200B");
  EXPECT_EQ(vkl::CharText(U'ा'), "ा");
  EXPECT_EQ(vkl::StringText(U"a\"\\\n\u0001j\u0301"), "\"a\\\"\\\\\\n\\u{0001}j\u0301\"");
}

// Dead keys beyond the 256-row table compose through the table of states,
// and a code-page layout cannot use them then.
TEST(Vkl, DeadKeysBeyondTheRowTableComposeThroughTheTable) {
  std::string many = "unicode\nlayout 1 {\n  key A a\n  key Q dead:many\n}\ndeadkey many ¨";
  for (int i = 0; i < 300; ++i) many += " U+" + Hex(0x4E00 + i) + " U+" + Hex(0x5E00 + i);
  const Compiled c = Compile(many + "\n");
  ASSERT_TRUE(c.ok) << c.diagnostics;
  EXPECT_EQ(HeaderOf(c.d.layouts[1]).kind, kUnicodeComposingKind);
  const Compositions table(c.d.compositions.data(), c.d.compositions.size());
  const ComposeStep step = table.Step(table.Step(0, kDeadKeyInputs).state, 0x4E00 + 299);
  ASSERT_EQ(step.kind, ComposeStep::kText);
  EXPECT_EQ(step.text[0], 0x5E00u + 299);
  std::string source;
  EXPECT_EQ(RoundTrip(c.d, &source), ToVkb(c.d)) << source;
  const Compiled codePage = Compile("layout 0 {\n  codepage 1252\n  key Q dead:many\n}\n" + many + "\n");
  EXPECT_NE(codePage.diagnostics.find("test.vkl:3:9: error: dead key many composes through the table of states"),
            std::string::npos)
      << codePage.diagnostics;
}

TEST(Vkl, CompositionErrorsHaveTheirPlace) {
  const std::string head = "unicode\nlayout 1 {\n  key A compose dead:acute\n}\ndeadkey acute ´\n";
  std::string huge = head;
  for (int i = 0; i < 200; ++i) {
    for (int j = 0; j < 200; ++j) huge += "compose U+" + Hex(0x4E00 + i) + " U+" + Hex(0x4E00 + j) + " x\n";
  }
  const struct {
    std::string source;
    std::string expected;
  } cases[] = {
      {head + "compose a b x\ncompose a b y\n", "test.vkl:7:9: error: the keys of line 6 again, with another result"},
      {head + "compose a b x\ncompose a b c y\n",
       "test.vkl:7:9: error: the composition of line 6 is complete before these keys are"},
      {head + "deadkey acute ´  a dead:grave\n", "test.vkl:6:20: error: no dead key named grave"},
      {head + "chain dead:acute a b\n", "test.vkl:6:20: error: a chain has a dead key, two keys or more"},
      {head + "chain acute a b c\n", "test.vkl:6:7: error: a chain starts with a dead key: dead:NAME"},
      {head + "compose a 0x80\n", "test.vkl:6:11: error: a composition makes characters, not raw bytes"},
      {head + "compose include \"nowhere.XCompose\"\n", "test.vkl:6:17: error: cannot read Compose file"},
      {head + "compose a \"\\u{D800}\"\n", "test.vkl:6:12: error: unknown escape"},
      {"layout 1 {\n  key A compose\n}\n", "test.vkl:2:9: error: the compose key needs a layout whose dead keys"},
      {huge, "test.vkl:6:9: error: the compositions take 1048624 bytes, more than the 524288 the library keeps"},
  };
  for (const auto& c : cases) {
    const Compiled r = Compile(c.source);
    EXPECT_FALSE(r.ok) << c.source.substr(0, 400);
    EXPECT_NE(r.diagnostics.find(c.expected), std::string::npos) << c.expected << "\n" << r.diagnostics.substr(0, 400);
  }
}

// Tables another tool made, and layouts marked otherwise than the compiler
// would mark them, come back as they were: where the lines would not build
// the same table, as its bytes.
TEST(Vkl, HandMadeCompositionTablesRoundTrip) {
  const Compiled c = Compile(kComposing);
  ASSERT_TRUE(c.ok) << c.diagnostics;
  std::string source;
  // An edge the compiler never writes: from state 0 by a character.
  KeyboardDescription odd = c.d;
  layoutkit::CompositionBuilder builder;
  for (int i = 0; i < 6; ++i) builder.NewState();
  builder.AddToState(0, kDeadKeyInputs, 1);
  builder.AddToText(0, U'x', U"y");
  std::string error;
  ASSERT_TRUE(builder.Build(odd.compositions, error)) << error;
  EXPECT_EQ(RoundTrip(odd, &source), ToVkb(odd));
  EXPECT_NE(source.find("composition-bytes 0 76656c746f2d6374"), std::string::npos) << source;
  // A layout that composes without a table, and one that does not though
  // the description composes.
  KeyboardDescription marks = c.d;
  marks.compositions.clear();
  marks.layouts[0] = marks.layouts[1];
  marks.layouts[0].reserved[offsetof(CharSetHeader, kind)] = 2;
  EXPECT_EQ(RoundTrip(marks, &source), ToVkb(marks));
  EXPECT_NE(source.find("unicode @253 composing"), std::string::npos) << source;
  EXPECT_NE(source.find("unicode @253 classic"), std::string::npos) << source;
  // Random tables of random edges, on random layouts marked to compose.
  for (int seed = 0; seed < 20; ++seed) {
    std::mt19937 rng(seed);
    KeyboardDescription d = c.d;
    layoutkit::CompositionBuilder random;
    const std::uint32_t states = 1 + rng() % 40;
    for (std::uint32_t i = 0; i < states; ++i) random.NewState();
    for (int e = 0; e < 200; ++e) {
      const std::uint32_t from = rng() % (states + 1);
      const char32_t input = seed % 2 ? kDeadKeyInputs + rng() % 8 : 0x20 + rng() % 0x60;
      if (rng() % 2) {
        random.AddToState(from, input, rng() % (states + 1));
      } else {
        random.AddToText(from, input, std::u32string(1 + rng() % 3, static_cast<char32_t>(0x41 + rng() % 26)));
      }
    }
    ASSERT_TRUE(random.Build(d.compositions, error)) << error;
    ASSERT_EQ(RoundTrip(d, &source), ToVkb(d)) << "seed " << seed << "\n" << source.substr(0, 2000);
  }
}

// An `ansi` layout is the record of old: the code page in bytes 6..7 and no
// mark. Without `ansi` the record carries the mark and the same bytes.
TEST(Vkl, AnsiLayoutsKeepTheOldRecordAndMarkedOnesDecode) {
  const Compiled ansi = Compile("layout 1 {\n  codepage 1251 ansi\n  key A ф\n}\n");
  const Compiled marked = Compile("layout 1 {\n  codepage 1251\n  key A ф\n}\n");
  ASSERT_TRUE(ansi.ok && marked.ok) << ansi.diagnostics << marked.diagnostics;
  const std::uint8_t old[32] = {0xE3, 0x04};  // 1251
  EXPECT_EQ(std::memcmp(ansi.d.layouts[1].reserved, old, sizeof old), 0);
  EXPECT_EQ(CharSetOf(ansi.d.layouts[1]), CharSetKind::kNone);
  EXPECT_EQ(CharSetOf(marked.d.layouts[1]), CharSetKind::kCodePage);
  EXPECT_EQ(HeaderOf(marked.d.layouts[1]).codePage, 1251);
  EXPECT_EQ(Slot(marked.d, 1, kScanA, kSlotPlain).ch[0], 0xF4);
  EXPECT_EQ(LayoutChar(marked.d, 1, 0xF4), U'ф');
  EXPECT_EQ(LayoutChar(marked.d, 1, 0xDB), U'Ы');
  std::string source;
  EXPECT_EQ(RoundTrip(ansi.d, &source), ToVkb(ansi.d));
  EXPECT_NE(source.find("codepage 1251 ansi"), std::string::npos) << source;
}

// Another tool may keep a table elsewhere, fill slots no key uses, and
// order it otherwise: the source then pins the table, and a mark that is
// not valid is no mark.
TEST(Vkl, HandMadeTablesAndBrokenMarksRoundTrip) {
  const Compiled c = Compile(R"(
unicode
layout 1 "Ж" {
  key A  ж Ж   ralt: macro:hi
  key B  ÿ
}
layout 0 "Broken" {
  codepage 1252
  key A  x
}
macro hi "жЖ"
)");
  ASSERT_TRUE(c.ok) << c.diagnostics;
  KeyboardDescription d = c.d;
  auto* macros = reinterpret_cast<std::uint8_t*>(&d.macros);
  std::memcpy(macros + 100 * 256, macros + 253 * 256, 768);  // the table at entry 100
  std::memset(macros + 253 * 256, 0, 768);
  d.layouts[1].reserved[offsetof(CharSetHeader, tableEntry)] = 100;
  std::swap_ranges(macros + 100 * 256 + 3 * 0x80, macros + 100 * 256 + 3 * 0x81, macros + 100 * 256 + 3 * 0x81);
  const std::uint8_t snowman[3] = {0x03, 0x26, 0x00}, surrogate[3] = {0x00, 0xD8, 0x00};
  std::memcpy(macros + 100 * 256 + 3 * 0xF0, snowman, 3);
  std::memcpy(macros + 100 * 256 + 3 * 0xF1, surrogate, 3);
  d.keys.planes[1][2].slots[kSlotPlain].ch[1] = 101;  // key B, Shift: "macro" 101, which is the table
  d.keys.planes[1][2].slots[kSlotPlain].flags = 0x10;
  d.layouts[0].reserved[offsetof(CharSetHeader, kind)] = 7;
  ASSERT_EQ(CharSetOf(d.layouts[0]), CharSetKind::kNone);
  std::string source;
  EXPECT_EQ(RoundTrip(d, &source), ToVkb(d)) << source;
  for (const char* expected : {"unicode @100", "table 0x80 Ж ж ÿ Ÿ", "☃ U+D800", "macro:@101", "codepage 1252 ansi",
                               "bytes 8 76 65 6c 74 6f 2d 63 73 07"}) {
    EXPECT_NE(source.find(expected), std::string::npos) << expected << " in\n" << source;
  }
}

// A badge takes record bytes 32..37 in UTF-8, beside any set's header and
// raw bytes up to 31; the decompiler writes it back only where the bytes
// are what the statement would write.
TEST(Vkl, BadgesAreStoredAndDecompiled) {
  const Compiled c = Compile(R"(
layout 0 "US" {
  codepage 1251 ansi
  badge "US"
}
layout 1 "Russian" {
  unicode
  badge "РУС"
  bytes 30 aa bb
  key A ф
}
)");
  ASSERT_TRUE(c.ok) << c.diagnostics;
  const auto* one = reinterpret_cast<const std::uint8_t*>(&c.d.layouts[1]);
  const std::vector<std::uint8_t> want = {0xAA, 0xBB, 0xD0, 0xA0, 0xD0, 0xA3, 0xD0, 0xA1};
  EXPECT_EQ(std::vector<std::uint8_t>(one + 30, one + 38), want);
  EXPECT_EQ(CharSetOf(c.d.layouts[1]), CharSetKind::kUnicode);
  std::uint8_t ansi[32] = {0xE3, 0x04};  // code page 1251, then the badge at 32
  ansi[26] = 'U', ansi[27] = 'S';
  EXPECT_EQ(std::memcmp(c.d.layouts[0].reserved, ansi, sizeof ansi), 0);
  std::string source;
  EXPECT_EQ(RoundTrip(c.d, &source), ToVkb(c.d));
  for (const char* expected : {"badge \"US\"", "badge \"РУС\"", "bytes 30 aa bb\n"}) {
    EXPECT_NE(source.find(expected), std::string::npos) << expected << " in\n" << source;
  }
  // Bytes the statement would not write stay raw bytes: a zero inside, a
  // space, four letters, an overlong form of 'A'.
  const std::vector<std::vector<std::uint8_t>> raw = {{'U', 0, 'S'}, {'U', ' ', 'S'}, {'A', 'B', 'C', 'D'}, {0xC1, 0x81}};
  for (const auto& bytes : raw) {
    KeyboardDescription d = c.d;
    std::memset(d.layouts[1].reserved + 26, 0, 6);
    std::copy(bytes.begin(), bytes.end(), d.layouts[1].reserved + 26);
    EXPECT_FALSE(StoredBadge(d.layouts[1]));
    EXPECT_EQ(RoundTrip(d, &source), ToVkb(d));
    EXPECT_EQ(source.find("badge", source.find("layout 1")), std::string::npos) << source;
  }
}

TEST(Vkl, LayoutBadgeIsTheStoredOneOrMadeOfTheName) {
  KeyboardDescription d;
  const struct {
    const char* name;
    const char* badge;
  } names[] = {{"US International", "USI"}, {"US", "US"}, {"ABC Extra", "ABC"}, {"Russian phonetic", "RP"},
               {"de-CH", "DC"}, {"Dvorak", "DV"}, {"a", "A"}, {"", "2"}, {"--", "2"}};
  for (const auto& n : names) {
    d.SetLayoutName(2, n.name);
    EXPECT_EQ(LayoutBadge(d, 2), n.badge) << n.name;
  }
  const Compiled c = Compile(R"(
unicode
layout 0 "Ελληνικά" {
}
layout 1 "русский язык" {
}
layout 2 "Dvorak" {
  badge "ДВ1"
}
)");
  ASSERT_TRUE(c.ok) << c.diagnostics;
  EXPECT_EQ(LayoutName(c.d, 1), "русский язык");
  EXPECT_EQ(LayoutBadge(c.d, 0), "ΕΛ");
  EXPECT_EQ(LayoutBadge(c.d, 1), "РЯ");
  EXPECT_EQ(LayoutBadge(c.d, 2), "ДВ1");
}

TEST(Vkl, CompiledFilesAreExactlyTheFiveBlocks) {
  const std::string path = ::testing::TempDir() + "short.vkb";
  Diagnostics diags;
  ASSERT_TRUE(WriteFile(path, std::vector<std::uint8_t>(kVkbSize - 1), diags));
  KeyboardDescription d;
  EXPECT_FALSE(ReadVkb(path, d, diags));
  EXPECT_NE(diags.Text().find("it has 81527 bytes, a .vkb file has 81528"), std::string::npos);
  // What follows the blocks must be one whole composition table.
  std::vector<std::uint8_t> longer(kVkbSize + kCompositionsHeaderSize);
  EXPECT_FALSE(FromVkb(longer, d));
  CompositionBuilder table;
  table.AddToText(0, U'a', U"b");
  std::vector<std::uint8_t> tableBytes;
  std::string error;
  ASSERT_TRUE(table.Build(tableBytes, error)) << error;
  longer.resize(kVkbSize);
  longer.insert(longer.end(), tableBytes.begin(), tableBytes.end());
  ASSERT_TRUE(FromVkb(longer, d));
  EXPECT_EQ(ToVkb(d), longer);
  longer.pop_back();
  EXPECT_FALSE(FromVkb(longer, d));
  const Compiled c = Compile("hotkey toggle F1\nlayout 1 {\nkey A x\n}\n");
  const std::vector<std::uint8_t> bytes = ToVkb(c.d);
  ASSERT_EQ(bytes.size(), 81528u);
  EXPECT_EQ(bytes[4], 0x3B);                                      // the toggle hotkey's scan code
  EXPECT_EQ(bytes[kOptionBlockSize + kKeyTableSize + 90 + 70], 0);  // layout 1's (empty) name
}

}  // namespace
}  // namespace velto::layoutkit
