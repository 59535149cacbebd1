// The shipped layouts typed on the real engine over the simulated system,
// as velto-sim runs them.
#include <gtest/gtest.h>

#include <string>

#include "layoutkit/vkl.h"
#include "simrun/simrun.h"

namespace velto {
namespace {

layoutkit::KeyboardDescription Shipped(const char* name) {
  layoutkit::KeyboardDescription d;
  layoutkit::Diagnostics diags;
  EXPECT_TRUE(layoutkit::CompileVklFile(std::string(VELTO_SOURCE_DIR "/layouts/") + name + ".vkl", d, diags))
      << diags.Text();
  return d;
}

// What the window receives for `keys` (velto-sim's --keys) from `layout`.
std::string Keys(const layoutkit::KeyboardDescription& d, unsigned layout, const std::string& keys,
                 bool caps = false) {
  simrun::SimOptions options;
  options.layout = layout;
  options.capsLock = caps;
  std::string error;
  EXPECT_TRUE(simrun::ParseKeys(keys, options.keys, error)) << error;
  const simrun::SimOutput out = simrun::Run(d, options);
  EXPECT_EQ(out.error, "");
  return out.text;
}

std::string Type(const layoutkit::KeyboardDescription& d, unsigned layout, const std::string& text) {
  simrun::SimOptions options;
  options.layout = layout;
  options.typeText = true;
  options.text = text;
  return simrun::Run(d, options).text;
}

TEST(ShippedLayouts, InternationalDeadKeysAndRightAlt) {
  const auto d = Shipped("intl");
  EXPECT_EQ(Type(d, 1, "'e \"u `a ^o ~n 'C"), "é ü à ô ñ Ç");
  EXPECT_EQ(Type(d, 1, "' x"), "´x");          // the accent itself, then a letter it does not take
  EXPECT_EQ(Type(d, 1, "'x"), "x");            // no row: the letter as it is
  EXPECT_EQ(Keys(d, 1, "ralt+e ralt+lshift+z ralt+5 ralt+quote ralt+lshift+quote"), "éÆ€'\"");
  EXPECT_EQ(Type(d, 0, "'e"), "'e");           // layout 0 is the US keyboard
}

TEST(ShippedLayouts, InternationalMacros) {
  const auto d = Shipped("intl");
  EXPECT_EQ(Keys(d, 1, "ralt+v"), "Velto");
  EXPECT_EQ(Keys(d, 1, "a ralt+g b"), "aBest regards,\nVeltob");
}

TEST(ShippedLayouts, InternationalCapsLockPlanes) {
  const auto d = Shipped("intl");
  EXPECT_EQ(Keys(d, 1, "e lshift+e ralt+q ralt+lshift+q", true), "EeÄä");
  EXPECT_EQ(Keys(d, 1, "quote e", true), "É");
}

TEST(ShippedLayouts, InternationalHotkeys) {
  const auto d = Shipped("intl");
  // Both Shift keys switch layouts 0 and 1; left Ctrl + F12 turns
  // translation off and on again.
  EXPECT_EQ(Keys(d, 0, "quote e lshift+rshift quote e lshift+rshift quote e"), "'eé'e");
  EXPECT_EQ(Keys(d, 1, "quote e lctrl+f12 quote e lctrl+f12 quote e"), "é'eé");
}

TEST(ShippedLayouts, German) {
  const auto d = Shipped("de");
  EXPECT_EQ(Keys(d, 1, "lshift+semicolon y z minus equals e lshift+equals lshift+a"), "ÖzyßéÀ");
  EXPECT_EQ(Keys(d, 1, "ralt+q ralt+e grave space"), "@€^");
  // The capital sharp s, beyond Windows-1252; Caps Lock leaves ß as it is.
  EXPECT_EQ(Keys(d, 1, "ralt+lshift+minus minus", true), "ẞß");
}

TEST(ShippedLayouts, RussianPhonetic) {
  const auto d = Shipped("ru-phonetic");
  EXPECT_EQ(Type(d, 1, "privet, mir"), "привет, мир");
  EXPECT_EQ(Keys(d, 1, "q w ralt+e", true), "ЯЖЁ");
  EXPECT_EQ(Keys(d, 1, "ralt+p"), "Привет!");
}

}  // namespace
}  // namespace velto
