#include "layoutkit/render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "layoutkit/composition_builder.h"
#include "layoutkit/vkl.h"
#include "shared/charset.h"
#include "shared/keys.h"
#include "testing/unicode_set.h"

namespace velto::layoutkit {
namespace {

KeyboardDescription Compile(std::string_view text) {
  KeyboardDescription d;
  Diagnostics diags;
  EXPECT_TRUE(CompileVklText(text, "test.vkl", d, diags)) << diags.Text();
  return d;
}

KeyboardDescription Shipped(const char* name) {
  KeyboardDescription d;
  Diagnostics diags;
  EXPECT_TRUE(CompileVklFile(std::string(VELTO_SOURCE_DIR "/layouts/") + name, d, diags)) << diags.Text();
  return d;
}
KeyboardDescription Intl() { return Shipped("intl.vkl"); }
// Its dead keys are those of the 256-row table, and it has no compose key.
KeyboardDescription German() { return Shipped("de.vkl"); }

std::string Render(const KeyboardDescription& d, KeyboardState state, bool ansi = false) {
  RenderOptions o;
  o.states = {state};
  o.ansi = ansi;
  return RenderSvg(d, o);
}

// The group of the key named `name`, from its opening tag to its end.
std::string Key(const std::string& svg, const std::string& name) {
  const std::size_t at = svg.find("data-key=\"" + name + "\"");
  if (at == std::string::npos) return "";
  const std::size_t start = svg.rfind("<g ", at);
  return svg.substr(start, svg.find("</g>", at) - start);
}

// Layout 1 composes through the table: its bytes stand for themselves up to
// 0x7F; 0x80 for the compose key, 0x81 for the dead key circumflex and 0x82
// for dot below, both on QUOTE, the compose key on APP (Menu).
KeyboardDescription Composing() {
  KeyboardDescription d;
  const char32_t circumflex = kDeadKeyInputs, dotBelow = kDeadKeyInputs + 1;
  testing::MarkUnicode(d, 1, {{0x80, kComposeKeyInput}, {0x81, circumflex}, {0x82, dotBelow}},
                       kUnicodeComposingKind);

  d.SetLayoutName(1, "Composing");
  d.PutRow(1, kTopRow, "qwertyuiop", "QWERTYUIOP");
  d.PutRow(1, kHomeRow, "asdfghjkl", "ASDFGHJKL");
  d.PutRow(1, kBottomRow, "zxcvbnm", "ZXCVBNM");
  d.Put(1, 0x39, kSlotPlain, 0, ' ');
  d.Put(1, 0x28, kSlotPlain, 0, 0x81, Entry::kDeadKey);
  d.Put(1, 0x28, kSlotPlain, 1, 0x82, Entry::kDeadKey);
  d.Put(1, kScanApps, kSlotPlain, 0, 0x80, Entry::kDeadKey);

  CompositionBuilder b;
  const std::uint32_t hat = b.NewState(), dot = b.NewState(), both = b.NewState();
  const std::uint32_t compose = b.NewState(), composeO = b.NewState();
  b.AddToState(0, circumflex, hat);
  b.AddToText(hat, U' ', U"^");
  b.AddToText(hat, U'a', U"\u00E2");
  b.AddToText(hat, U'A', U"\u00C2");
  b.AddToText(hat, U'n', U"n\u0302");  // no letter of its own: two characters
  b.AddToState(hat, dotBelow, both);   // a chain: ^ then dot below
  b.AddToState(0, dotBelow, dot);
  b.AddToText(dot, U' ', U"\u0323");
  b.AddToText(dot, U'a', U"\u1EA1");
  b.AddToState(dot, circumflex, both);
  b.AddToText(both, U'a', U"\u1EAD");
  b.AddToState(0, kComposeKeyInput, compose);
  b.AddToState(compose, U'o', composeO);
  b.AddToText(composeO, U'c', U"\u00A9");
  b.AddToText(compose, U'g', U"Good morning");
  std::string error;
  EXPECT_TRUE(b.Build(d.compositions, error)) << error;
  return d;
}

std::string RenderAfter(const KeyboardDescription& d, std::string_view steps) {
  RenderOptions o;
  o.after.emplace();
  std::string error;
  EXPECT_TRUE(FindComposition(d, o.layout, steps, *o.after, error)) << steps << ": " << error;
  return RenderSvg(d, o);
}

// The classes of the text element in `key` that shows `text`.
std::string ClassOf(const std::string& key, const std::string& text) {
  const std::size_t at = key.find(">" + text + "</text>");
  if (at == std::string::npos) return "(not shown)";
  const std::size_t start = key.rfind("<text class=\"", at) + 13;
  return key.substr(start, key.find('"', start) - start);
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(Render, KeysShowWhatTheyTypeInTheState) {
  const KeyboardDescription d = Intl();
  const std::string plain = Render(d, {});
  EXPECT_NE(Key(plain, "E").find(">e</text>"), std::string::npos);
  EXPECT_NE(Key(plain, "E").find(">E</text>"), std::string::npos);
  const std::string quote = Key(plain, "QUOTE");
  EXPECT_NE(quote.find("class=\"key dead\""), std::string::npos);
  EXPECT_NE(quote.find("\u25CC\u00B4"), std::string::npos);  // acute
  EXPECT_NE(quote.find("\u25CC\u00A8"), std::string::npos);  // diaeresis on Shift
  EXPECT_NE(Key(plain, "F1").find("class=\"key system\""), std::string::npos);

  const std::string ralt = Render(d, {1u << 3, false});
  EXPECT_NE(Key(ralt, "E").find(">\u00E9</text>"), std::string::npos);
  EXPECT_NE(Key(ralt, "E").find(">\u00C9</text>"), std::string::npos);
  EXPECT_NE(Key(ralt, "G").find("class=\"key macro\""), std::string::npos);
  EXPECT_NE(Key(ralt, "G").find(">Best\u2026</text>"), std::string::npos);
  EXPECT_NE(Key(ralt, "V").find(">Velto</text>"), std::string::npos);
  // F has nothing on right Alt: grey, with the US legend; the held key is marked.
  EXPECT_NE(Key(ralt, "F").find("class=\"key system\""), std::string::npos);
  EXPECT_NE(Key(ralt, "F").find("class=\"c u\""), std::string::npos);
  EXPECT_NE(Key(ralt, "F").find(">F</text>"), std::string::npos);
  EXPECT_NE(Key(ralt, "RALT").find("held"), std::string::npos);
  EXPECT_EQ(Key(plain, "RALT").find("held"), std::string::npos);
  // Keys typed live are drawn pressed, as a held modifier is.
  RenderOptions live;
  live.down = {0x12, 0x2A};
  const std::string typing = RenderSvg(d, live);
  EXPECT_NE(Key(typing, "E").find("class=\"key char held\""), std::string::npos) << Key(typing, "E");
  EXPECT_NE(Key(typing, "LSHIFT").find("held"), std::string::npos);
  EXPECT_EQ(Key(typing, "R").find("held"), std::string::npos);
}

TEST(Render, ShiftColumnsAndUndefinedBytes) {
  const std::string svg = Render(Compile(R"(
layout 1 "T" {
  key A  a A B
  key C  0x81
}
layout 0 "R" {
  right-as-left shift
  key A  a A B
}
)"),
                                 {});
  EXPECT_NE(Key(svg, "A").find("class=\"c r\""), std::string::npos);
  EXPECT_NE(Key(svg, "A").find(">B</text>"), std::string::npos);
  EXPECT_NE(Key(svg, "C").find(">0x81</text>"), std::string::npos);
  // With right Shift as left, the right Shift column is never read.
  RenderOptions layout0;
  layout0.layout = 0;
  const std::string same = RenderSvg(Compile(R"(
layout 0 "R" {
  right-as-left shift
  key A  a A B
}
)"),
                                     layout0);
  EXPECT_EQ(Key(same, "A").find(">B</text>"), std::string::npos);
}

TEST(Render, IsoHasTheKeyBesideLeftShiftAndAllDrawsFourStates) {
  const KeyboardDescription d = Intl();
  const std::string iso = Render(d, {}), ansi = Render(d, {}, true);
  EXPECT_EQ(Count(iso, "class=\"key "), Count(ansi, "class=\"key ") + 1);
  EXPECT_NE(iso.find("data-key=\"OEM102\""), std::string::npos);
  EXPECT_EQ(ansi.find("data-key=\"OEM102\""), std::string::npos);

  RenderOptions all;
  all.states = MainStates();
  const std::string sheet = RenderSvg(d, all);
  EXPECT_EQ(Count(sheet, "data-key=\"E\""), 4u);
  for (const char* caption :
       {">No modifier<", ">Caps Lock<", ">Right Alt (AltGr)<", ">Right Alt (AltGr) + Caps Lock<"})
    EXPECT_NE(sheet.find(caption), std::string::npos) << caption;
}

// Bytes are read in the layout's own set; the caption names it.
TEST(Render, EveryCharacterSetShowsItsCharacters) {
  const KeyboardDescription hindi = Compile(R"(
unicode
layout 1 "हिन्दी" {
  claims ralt
  key K  क ख  ralt: U+1F600
  key F  ि ई
  key N  dead:nukta
}
deadkey nukta  U+093C  क U+0958
)");
  const std::string svg = Render(hindi, {});
  EXPECT_NE(svg.find("Layout 1 \u00B7 Unicode \u00B7"), std::string::npos);
  EXPECT_NE(svg.find(">हिन्दी</text>"), std::string::npos);
  EXPECT_NE(Key(svg, "K").find(">क</text>"), std::string::npos);
  EXPECT_NE(Key(svg, "K").find(">ख</text>"), std::string::npos);
  EXPECT_NE(Key(svg, "F").find(">\u00A0ि</text>"), std::string::npos);  // a vowel sign on a space
  EXPECT_NE(Key(svg, "N").find(">\u25CC\u093C</text>"), std::string::npos);  // or on the dead key's circle
  // Emoji in the emoji font, which elsewhere would take the digits too.
  EXPECT_NE(Key(Render(hindi, {1u << 3, false}), "K").find("><tspan class=\"e\">\U0001F600</tspan></text>"),
            std::string::npos);

  const std::string cyrillic = Render(Compile("layout 1 \"Ру\" {\n  codepage 1251\n  key A  ф Ф\n}\n"), {});
  EXPECT_NE(cyrillic.find("Layout 1 \u00B7 code page 1251 \u00B7"), std::string::npos);
  EXPECT_NE(cyrillic.find(">Ру</text>"), std::string::npos);
  EXPECT_NE(Key(cyrillic, "A").find(">ф</text>"), std::string::npos);
  // A record without a set: its bytes are posted as they are.
  EXPECT_NE(Render(DemoDescription(), {}).find("Layout 1 \u00B7 code page 1252 (ANSI) \u00B7"),
            std::string::npos);
}

TEST(Render, ComposingLayoutShowsItsDeadKeysAndTheComposeKey) {
  const std::string svg = Render(Composing(), {});
  const std::string quote = Key(svg, "QUOTE");
  EXPECT_NE(quote.find("class=\"key dead\""), std::string::npos);
  EXPECT_NE(quote.find(">\u25CC^</text>"), std::string::npos);       // what it types with Space
  EXPECT_NE(quote.find(">\u25CC\u0323</text>"), std::string::npos);  // a mark, on the circle
  const std::string apps = Key(svg, "APP");
  EXPECT_NE(apps.find("class=\"key compose\""), std::string::npos);
  EXPECT_EQ(ClassOf(apps, "\u2384"), "c k");
  EXPECT_NE(svg.find(">compose key</text>"), std::string::npos);
  // A layout without a compose key has no such entry in the legend.
  EXPECT_EQ(Render(German(), {}).find(">compose key</text>"), std::string::npos);
}

TEST(Render, AfterDeadKeysEachKeyShowsWhatItComposes) {
  const KeyboardDescription d = Composing();
  const std::string hat = RenderAfter(d, "^");
  EXPECT_NE(hat.find(" \u00B7 after \u25CC^</text>"), std::string::npos);
  EXPECT_NE(Key(hat, "A").find(">\u00E2</text>"), std::string::npos);
  EXPECT_NE(Key(hat, "A").find(">\u00C2</text>"), std::string::npos);
  EXPECT_NE(Key(hat, "N").find(">n\u0302</text>"), std::string::npos);
  EXPECT_NE(Key(hat, "SPACE").find(">^</text>"), std::string::npos);
  // Dot below leads on from here; ^ itself and B compose nothing.
  const std::string quote = Key(hat, "QUOTE");
  EXPECT_NE(quote.find("class=\"key dead\""), std::string::npos);
  EXPECT_EQ(ClassOf(quote, "\u25CC\u0323"), "c d");
  EXPECT_EQ(ClassOf(quote, "\u25CC^"), "c u");
  EXPECT_NE(Key(hat, "B").find("class=\"key none\""), std::string::npos);
  EXPECT_NE(hat.find(">no composition</text>"), std::string::npos);

  const std::string chain = RenderAfter(d, "^,dead:U+0323");
  EXPECT_NE(chain.find("after \u25CC^ then \u25CC\u0323</text>"), std::string::npos);
  EXPECT_NE(Key(chain, "A").find(">\u1EAD</text>"), std::string::npos);
  EXPECT_NE(Key(RenderAfter(d, "U+0323"), "A").find(">\u1EA1</text>"), std::string::npos);

  const std::string compose = RenderAfter(d, "compose");
  EXPECT_NE(compose.find("after \u2384</text>"), std::string::npos);
  EXPECT_NE(Key(compose, "O").find("class=\"key dead\""), std::string::npos);
  EXPECT_NE(Key(compose, "O").find(">\u25CCo</text>"), std::string::npos);
  // A long text: small, as far as it fits.
  const std::string g = Key(compose, "G");
  EXPECT_NE(g.find("<text class=\"c s\""), std::string::npos);
  EXPECT_NE(g.find(">Go"), std::string::npos);
  EXPECT_NE(g.find("\u2026</text>"), std::string::npos);
  EXPECT_NE(Key(RenderAfter(d, "compose,o"), "C").find(">\u00A9</text>"), std::string::npos);
}

// A layout of the DeadKeyTable: one dead key, its rows.
TEST(Render, AfterADeadKeyOfTheTableItsRowsShow) {
  const std::string svg = RenderAfter(German(), "\u00B4");
  EXPECT_NE(Key(svg, "E").find(">\u00E9</text>"), std::string::npos);
  EXPECT_NE(Key(svg, "E").find(">\u00C9</text>"), std::string::npos);
  EXPECT_NE(Key(svg, "SPACE").find(">\u00B4</text>"), std::string::npos);
  EXPECT_NE(Key(svg, "B").find("class=\"key none\""), std::string::npos);
  EXPECT_NE(Key(svg, "EQUALS").find("class=\"key dead\""), std::string::npos);  // a dead key takes over
}

TEST(Render, FindCompositionSaysWhyAStepLeadsNowhere) {
  const KeyboardDescription composing = Composing(), german = German();
  struct Case {
    const KeyboardDescription& d;
    const char* steps;
    const char* reason;
  } cases[] = {
      {composing, "x", "layout 1 has no dead key that shows 'x'"},
      {composing, "^,b", "'b' leads nowhere after \u25CC^ on layout 1"},
      {composing, "^,a", "'a' ends the composition after \u25CC^"},
      {composing, "^,", "has an empty step"},
      {composing, "^b", "each step is one character"},
      {german, "compose", "layout 1 has no compose key"},
      {german, "\u00B4,a", "composes through the dead-key table"},
  };
  for (const Case& c : cases) {
    Composition out;
    std::string error;
    EXPECT_FALSE(FindComposition(c.d, 1, c.steps, out, error)) << c.steps;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.steps << ": " << error;
  }
}

// The API the picture and the on-screen keyboard share: the keys where they
// are, and what each shows, as the picture draws it.
TEST(Render, KeyFacesAreThePicturesKeys) {
  const std::vector<KeyCap> iso = KeyboardKeys(false), ansi = KeyboardKeys(true);
  EXPECT_EQ(iso.size(), ansi.size() + 1);  // the key beside left Shift
  EXPECT_EQ(std::count_if(iso.begin(), iso.end(), [](const KeyCap& k) { return k.isoEnter; }), 1);
  EXPECT_EQ(std::count_if(ansi.begin(), ansi.end(), [](const KeyCap& k) { return k.isoEnter; }), 0);
  for (const KeyCap& k : iso) EXPECT_LE(k.x + k.w, kKeyboardWidth) << k.scan;

  const KeyboardDescription d = Intl();
  RenderOptions o;
  o.down = {kScanLeftShift};
  const std::vector<KeyFace> faces = KeyFaces(d, o, {static_cast<std::uint16_t>(1u << kModRightAlt), false});
  ASSERT_EQ(faces.size(), iso.size());
  auto face = [&](std::uint16_t scan) {
    const auto at = std::find_if(iso.begin(), iso.end(), [&](const KeyCap& k) { return k.scan == scan; });
    return faces[static_cast<std::size_t>(at - iso.begin())];
  };
  const KeyFace e = face(0x12), g = face(0x22), f = face(0x21), rightAlt = face(0x138), shift = face(0x2A);
  ASSERT_NE(TypingLabel(e, false, false), nullptr);
  EXPECT_EQ(TypingLabel(e, false, false)->text, "é");
  EXPECT_EQ(TypingLabel(e, true, false)->text, "É");
  EXPECT_TRUE(g.macro);
  EXPECT_TRUE(f.system);
  EXPECT_TRUE(rightAlt.held && shift.held);
  o.down.clear();
  const KeyFace quote = KeyFaces(d, o, {})[static_cast<std::size_t>(
      std::find_if(iso.begin(), iso.end(), [](const KeyCap& k) { return k.scan == 0x28; }) - iso.begin())];
  EXPECT_TRUE(quote.dead);
  EXPECT_EQ(TypingLabel(quote, false, false)->kind, LabelKind::kDead);
  // Where a label goes: its baseline, from the face's corner.
  const KeyBox box = KeyFaceBox(0, 0, 1, false);
  const LabelSpot top = SpotOf(box, {"A", LabelKind::kChar, LabelPlace::kTopLeft});
  const LabelSpot right = SpotOf(box, {"a", LabelKind::kChar, LabelPlace::kTopRight});
  EXPECT_EQ(top.x, box.x + 5);
  EXPECT_EQ(top.size, 15);
  EXPECT_TRUE(right.alignRight && right.size == 12);
}

TEST(Render, EscapesTextAndIsWellFormed) {
  const std::string svg = Render(Compile(R"(
layout 1 "Caf\xE9 & <\"Co\">" {
  codepage 1252
  key B  < & '\''
  key N  n "
}
)"),
                                 {});
  EXPECT_NE(svg.find(">Caf\u00E9 &amp; &lt;&quot;Co&quot;&gt;</text>"), std::string::npos);
  const std::string b = Key(svg, "B");
  EXPECT_NE(b.find(">&lt;</text>"), std::string::npos);
  EXPECT_NE(b.find(">&amp;</text>"), std::string::npos);
  EXPECT_NE(b.find(">&apos;</text>"), std::string::npos);
  EXPECT_NE(Key(svg, "N").find(">&quot;</text>"), std::string::npos);

  if (std::system("command -v xmllint >/dev/null 2>&1") != 0) GTEST_SKIP() << "xmllint is not installed";
  RenderOptions all;
  all.states = MainStates();
  for (const std::string& text : {svg, RenderSvg(Intl(), all), RenderAfter(Composing(), "compose")}) {
    const std::string path = ::testing::TempDir() + "render_test.svg";
    std::ofstream(path, std::ios::binary) << text;
    EXPECT_EQ(std::system(("xmllint --noout " + path).c_str()), 0);
  }
}

}  // namespace
}  // namespace velto::layoutkit
