#include "layoutkit/render.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "layoutkit/vkl.h"

namespace velto::layoutkit {
namespace {

KeyboardDescription Compile(std::string_view text) {
  KeyboardDescription d;
  Diagnostics diags;
  EXPECT_TRUE(CompileVklText(text, "test.vkl", d, diags)) << diags.Text();
  return d;
}

KeyboardDescription Intl() {
  KeyboardDescription d;
  Diagnostics diags;
  EXPECT_TRUE(CompileVklFile(VELTO_SOURCE_DIR "/layouts/intl.vkl", d, diags)) << diags.Text();
  return d;
}

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
  for (const std::string& text : {svg, RenderSvg(Intl(), all)}) {
    const std::string path = ::testing::TempDir() + "render_test.svg";
    std::ofstream(path, std::ios::binary) << text;
    EXPECT_EQ(std::system(("xmllint --noout " + path).c_str()), 0);
  }
}

}  // namespace
}  // namespace velto::layoutkit
