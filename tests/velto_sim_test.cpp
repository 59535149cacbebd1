// velto-sim: its key events and command line, and whole runs of the demo
// description through the engine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "layoutkit/codepage.h"
#include "layoutkit/vkl.h"
#include "shared/region.h"
#include "simrun/command_line.h"
#include "simrun/session.h"
#include "simrun/simrun.h"
#include "simrun/trace.h"

namespace velto::simrun {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr std::uint16_t kA = 0x1E, kS = 0x1F, kLShift = 0x2A, kLCtrl = 0x1D, kRAlt = 0x138, kEnter = 0x1C;

KeyAction Down(std::uint16_t scan) {
  return {scan, false};
}
KeyAction Up(std::uint16_t scan) {
  return {scan, true};
}

std::vector<KeyAction> Keys(std::string_view text) {
  std::vector<KeyAction> out;
  std::string error;
  EXPECT_TRUE(ParseKeys(text, out, error)) << error;
  return out;
}

SimOutput RunKeys(const layoutkit::KeyboardDescription& d, std::string_view keys, unsigned layout = 0,
                  bool caps = false) {
  SimOptions o;
  o.layout = layout;
  o.capsLock = caps;
  o.keys = Keys(keys);
  return Run(d, o);
}

SimOutput RunText(const layoutkit::KeyboardDescription& d, const std::string& text, unsigned layout = 0) {
  SimOptions o;
  o.layout = layout;
  o.typeText = true;
  o.text = text;
  return Run(d, o);
}

TEST(VeltoSimKeys, TheFormsInAnyCase) {
  EXPECT_THAT(Keys("  a\tShift+A  lctrl+LSHIFT+sc:1f down:RALT UP:ralt lshift"),
              ElementsAre(Down(kA), Up(kA),                                                        //
                          Down(kLShift), Down(kA), Up(kA), Up(kLShift),                            //
                          Down(kLCtrl), Down(kLShift), Down(kS), Up(kS), Up(kLShift), Up(kLCtrl),  //
                          Down(kRAlt), Up(kRAlt), Down(kLShift), Up(kLShift)));
  EXPECT_THAT(Keys(""), ElementsAre());
}

TEST(VeltoSimKeys, BadEventsAreRefusedWithTheirReason) {
  const std::pair<const char*, const char*> bad[] = {
      {"a foo", "unknown key name 'foo'"},
      {"a+b", "'a' in 'a+b' is not a modifier"},
      {"lctrl++a", "empty key name in 'lctrl++a'"},
      {"a+", "empty key name"},
      {"down:", "empty key name"},
      {"up:lctrl+a", "unknown key name 'lctrl+a'"},
      {"sc:200", "unknown key name 'sc:200'"},
  };
  for (const auto& [keys, message] : bad) {
    std::vector<KeyAction> out{Down(kA)};
    std::string error;
    EXPECT_FALSE(ParseKeys(keys, out, error)) << keys;
    EXPECT_THAT(error, HasSubstr(message)) << keys;
    EXPECT_EQ(out.size(), 1u) << keys;  // nothing appended
  }
}

TEST(VeltoSimKeys, TypingTakesTheUsKeysAndShift) {
  std::vector<KeyAction> out;
  std::string error;
  ASSERT_TRUE(TypeKeys("aA\n", false, out, error));
  EXPECT_THAT(out, ElementsAre(Down(kA), Up(kA), Down(kLShift), Down(kA), Up(kA), Up(kLShift), Down(kEnter),
                               Up(kEnter)));
  out.clear();
  ASSERT_TRUE(TypeKeys("a!", true, out, error));  // Caps Lock turns Shift round for letters only
  EXPECT_THAT(out, ElementsAre(Down(kLShift), Down(kA), Up(kA), Up(kLShift), Down(kLShift), Down(0x02),
                               Up(0x02), Up(kLShift)));
  EXPECT_FALSE(TypeKeys("x\xC3\xA9", false, out, error));
  EXPECT_EQ(error, "no US key types '\xC3\xA9' (U+00E9)");
}

TEST(VeltoSimCommandLine, OptionsAndErrors) {
  CommandLine cl;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"my.vkb", "--layout", "3", "--caps", "--numlock", "--keys", "a", "--trace"},
                               cl, error));
  EXPECT_EQ(cl.description, "my.vkb");
  EXPECT_EQ(cl.options.layout, 3u);
  EXPECT_TRUE(cl.options.capsLock && cl.options.numLock && cl.trace && !cl.options.typeText);
  EXPECT_THAT(cl.options.keys, ElementsAre(Down(kA), Up(kA)));
  ASSERT_TRUE(ParseCommandLine({"--type", "hi"}, cl, error));
  EXPECT_TRUE(cl.description.empty() && cl.options.typeText && cl.options.text == "hi");
  ASSERT_TRUE(ParseCommandLine({"--bogus", "--help"}, cl, error));
  EXPECT_TRUE(cl.help);

  const std::pair<std::vector<std::string>, const char*> bad[] = {
      {{"--type", "a", "--verbose"}, "unknown option '--verbose'"},
      {{"--type"}, "--type needs a value"},
      {{"--type", "a", "--keys", "a"}, "not both"},
      {{"a.vkb"}, "nothing to do"},
      {{"--layout", "4", "--type", "a"}, "bad layout number '4'"},
      {{"--keys", "ctrl+x+y"}, "--keys: 'x' in 'ctrl+x+y' is not a modifier"},
      {{"--type", "\xE2\x82\xAC"}, "no US key types"},
      {{"a.vkb", "b.vkb", "--type", "a"}, "more than one description"},
      {{"--keys", "a", "--keys", "b"}, "--keys given twice"},
  };
  for (const auto& [args, message] : bad) {
    EXPECT_FALSE(ParseCommandLine(args, cl, error)) << message;
    EXPECT_THAT(error, HasSubstr(message));
  }
}

TEST(VeltoSimOutput, ControlCharactersAndUndefinedBytes) {
  std::string out;
  for (const std::uint8_t byte : {0x61, 0x0D, 0x09, 0x08, 0x1B, 0x7F, 0x80, 0x81})
    AppendReceived(out, layoutkit::DecodeByte(1252, byte), byte);
  EXPECT_EQ(out, "a\n\t\xE2\x82\xAC\xEF\xBF\xBD");  // the euro sign, then U+FFFD
  out.clear();
  char16_t high = 0;
  for (const char16_t unit : {u'ж', u'\xD83D', u'\xDE00', u'\xD83D', u'a', u'\xDE00', u'\r'})
    AppendReceivedUnit(out, high, unit);
  EXPECT_EQ(out, "ж😀\xEF\xBF\xBD" "a\xEF\xBF\xBD\n");  // lone halves as U+FFFD
}

// This process's shared memory objects now; /dev/shm may also hold those of
// an earlier process of the same pid that was killed.
std::set<std::string> OurSharedMemory() {
  const std::string prefix = "velto-sim-" + std::to_string(::getpid()) + "-";
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm")) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(prefix)) names.insert(name);
  }
  return names;
}

TEST(VeltoSimRun, TheDemoDescriptionThroughTheEngine) {
  const std::set<std::string> before = OurSharedMemory();
  const layoutkit::KeyboardDescription demo = layoutkit::DemoDescription();
  EXPECT_EQ(RunText(demo, "sdf").text, "sdf");     // layout 0: the system's own US layout
  EXPECT_EQ(RunText(demo, "sdf", 1).text, "oeu");  // Dvorak
  EXPECT_EQ(RunText(demo, "Hello", 1).text, "D.nnr");
  // Dead keys: ` then a, ` then A, ' then u.
  EXPECT_EQ(RunKeys(demo, "grave a grave lshift+a q f", 1).text, "\xC3\xA0\xC3\x80\xC3\xBA");
  EXPECT_EQ(RunKeys(demo, "s rshift+s", 1, true).text, "Oo");  // the Caps Lock plane
  EXPECT_EQ(RunKeys(demo, "ralt+m a", 1).text, "Best regards,\nVeltoa");
  EXPECT_EQ(RunKeys(demo, "down:ralt m e up:ralt", 1).text, "Best regards,\nVelto\xE2\x82\xAC");

  // Each run took its shared memory away with it.
  EXPECT_EQ(OurSharedMemory(), before);
  EXPECT_FALSE(TheRegion().valid());
}

// One event at a time, as the playground plays them: what each brought, and
// whether the system made it of the key itself.
TEST(VeltoSimSession, EachEventSaysWhetherItWasSwallowedAndWhatItBrought) {
  const layoutkit::KeyboardDescription demo = layoutkit::DemoDescription();
  SimOutput out;
  Session session(demo, out);
  SimOptions o;
  o.layout = 1;
  ASSERT_TRUE(session.Start(o)) << out.error;
  const auto texts = [](const Played& p, bool fromInput) {
    std::string all;
    for (const Received& r : p.received) all += r.fromInput == fromInput ? r.text : "";
    return all;
  };
  Played p = session.Play(Down(kS));  // Dvorak's o, posted by the library
  EXPECT_TRUE(p.swallowed);
  EXPECT_EQ(texts(p, false), "o");
  EXPECT_EQ(texts(p, true), "");
  EXPECT_FALSE(session.Play(Up(kS)).swallowed);
  session.Play(Down(kRAlt));
  p = session.Play(Down(0x32));  // right Alt + M: the macro, its Enter a key of its own
  EXPECT_TRUE(p.swallowed);
  EXPECT_EQ(texts(p, false) + "|" + texts(p, true), "Best regards,Velto|\n");
  session.Play(Up(0x32));
  session.Play(Up(kRAlt));
  session.Finish();
  EXPECT_EQ(out.text, "oBest regards,\nVelto");
}

TEST(VeltoSimRun, ChainedDeadKeysAndTheComposeKey) {
  const std::set<std::string> before = OurSharedMemory();
  layoutkit::KeyboardDescription d;
  layoutkit::Diagnostics diags;
  ASSERT_TRUE(layoutkit::CompileVklText("unicode\nlayout 1 {\n key A a\n key C c\n key O o\n key 1 dead:circumflex\n"
                                        " key 2 dead:belowdot\n key APP compose\n}\ndeadkey circumflex ^\n"
                                        "deadkey belowdot U+0323\nchain dead:circumflex dead:belowdot a ậ\n"
                                        "compose o c ©\ncompose a a \"ah!\"\n",
                                        "chain.vkl", d, diags))
      << diags.Text();
  EXPECT_EQ(RunKeys(d, "1 2 a app o c app a a app o a", 1).text, "ậ©ah!a");
  EXPECT_EQ(OurSharedMemory(), before);  // the composition table's mapping too
}

TEST(VeltoSimRun, EachLayoutDecodesByItsOwnCodePage) {
  layoutkit::KeyboardDescription d;
  d.layouts[0].reserved[0] = 1251 & 0xFF;  // record bytes 6..7: the code page
  d.layouts[0].reserved[1] = 1251 >> 8;
  for (const unsigned layout : {0u, 1u}) d.Put(layout, kA, kSlotPlain, 0, 0xE0);
  EXPECT_EQ(RunKeys(d, "a").text, "\xD0\xB0");     // U+0430 in 1251
  EXPECT_EQ(RunKeys(d, "a", 1).text, "\xC3\xA0");  // U+00E0 in the default 1252
}

TEST(VeltoSimRun, TheTraceShowsTheHookAndWhatFollowed) {
  const SimOutput out = RunKeys(layoutkit::DemoDescription(), "s a", 1);
  EXPECT_EQ(out.text, "oa");
  EXPECT_THAT(out.trace, HasSubstr("start  layout 1 (Dvorak), translation on, lights: none\n"
                                   "down S          hook: swallowed  queued: char 'o'\n"));
  EXPECT_THAT(out.trace, HasSubstr("  WM_CHAR 'o'\n"));
  EXPECT_THAT(out.trace, HasSubstr("down A          hook: passed\n  WM_KEYDOWN vk 0x41 A\n  WM_CHAR 'a'\n"));
}

}  // namespace
}  // namespace velto::simrun
