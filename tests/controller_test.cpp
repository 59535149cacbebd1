// The controller's settings file and its rules per program, apart from
// Windows: the file as people write it, the rewrite that keeps their text,
// and what happens on the way into and out of a program with a rule.
#include <gtest/gtest.h>

#include "controller/rules.h"
#include "controller/settings.h"

namespace velto::controller {
namespace {

using layoutkit::Diagnostics;

Settings Parse(const std::string& text, Diagnostics& diags) {
  return ParseSettings(text, "settings.ini", diags);
}

TEST(Settings, TheDefaultFileReadsCleanAndHoldsTheRecommendedRules) {
  Diagnostics diags;
  const Settings s = Parse(DefaultSettingsText(), diags);
  EXPECT_EQ(diags.Text(), "");
  EXPECT_EQ(s.layoutFile, "");
  EXPECT_TRUE(s.translation);
  EXPECT_FALSE(s.startAtSignIn);
  ASSERT_EQ(s.rules.size(), 2u);
  EXPECT_EQ(s.rules[0].programs, (std::vector<std::string>{"mstsc.exe", "msrdc.exe"}));
  EXPECT_TRUE(s.rules[0].off);
  EXPECT_EQ(s.rules[1].programs[1], "virtualboxvm.exe");
}

TEST(Settings, ValuesAsPeopleWriteThem) {
  Diagnostics diags;
  const Settings s = Parse(
      "\xEF\xBB\xBF; written in Notepad\r\n"
      "[Velto]\r\n"
      "Layout  File = \"C:\\My Layouts\\de;x.vkl\"  ; quoted, with a ;\r\n"
      "layout=2\r\n"
      "translation = no\r\n"
      "start at sign-in = Yes # comment\r\n"
      "tray icon = number\r\n"
      "[rule putty]\r\n"
      "class = PuTTY, mintty\r\n"
      "layout = 1\r\n",
      diags);
  EXPECT_EQ(diags.Text(), "");
  EXPECT_EQ(s.layoutFile, "C:\\My Layouts\\de;x.vkl");
  EXPECT_EQ(s.layout, 2);
  EXPECT_FALSE(s.translation);
  EXPECT_TRUE(s.startAtSignIn);
  EXPECT_EQ(s.trayIcon, TrayIcon::kNumber);
  ASSERT_EQ(s.rules.size(), 1u);
  EXPECT_EQ(s.rules[0].name, "putty");
  EXPECT_EQ(s.rules[0].classes, (std::vector<std::string>{"PuTTY", "mintty"}));
  EXPECT_EQ(s.rules[0].Describe(), "layout 1");
}

TEST(Settings, EveryBrokenLineIsReportedAndTheRestStands) {
  Diagnostics diags;
  const Settings s = Parse(
      "layout = 1\n"
      "[velto]\n"
      "layout = 7\n"
      "translation = maybe\n"
      "colour = blue\n"
      "just words\n"
      "tray lights = off\n"
      "[rule empty]\n"
      "translation = off\n"
      "[rule both]\n"
      "program = a.exe\n"
      "translation = off\n"
      "layout = 1\n"
      "[rule on]\n"
      "program = b.exe\n"
      "translation = on\n"
      "[window]\n",
      diags);
  EXPECT_EQ(
      diags.Text(),
      "settings.ini:1:1: error: \"layout\" is outside a section; settings go under [velto]\n"
      "settings.ini:3:10: error: the layout is 0, 1, 2 or 3, not \"7\"\n"
      "settings.ini:4:15: error: \"translation\" is on or off, not \"maybe\"\n"
      "settings.ini:5:1: error: unknown setting \"colour\"; [velto] has layout file, layout, translation, "
      "start at sign-in, tray icon, tray lights, notifications, keyboard window\n"
      "settings.ini:6:1: error: expected \"[SECTION]\" or \"KEY = VALUE\"\n"
      "settings.ini:8:1: error: rule \"empty\" matches nothing: give it a program = or class = line\n"
      "settings.ini:10:1: error: rule \"both\" needs one of translation = off and layout = N\n"
      "settings.ini:16:15: error: a rule can only turn translation off, not \"on\"\n"
      "settings.ini:17:2: error: unknown section [window]; the sections are [velto] and [rule NAME]\n");
  EXPECT_EQ(s.layout, 0);
  EXPECT_TRUE(s.translation);
  EXPECT_FALSE(s.trayLights);
  EXPECT_TRUE(s.rules.empty());
}

TEST(Settings, ARewriteChangesOneValueAndKeepsTheRest) {
  const std::string text =
      "; mine\r\n[velto]\r\nlayout file = a.vkl  ; my layout\r\nlayout = 1\r\n[rule x]\r\nprogram = "
      "x.exe\r\n";
  EXPECT_EQ(WithSetting(text, "Layout File", "C:\\b c.vkl"),
            "; mine\r\n[velto]\r\nlayout file = C:\\b c.vkl  ; my layout\r\nlayout = 1\r\n[rule "
            "x]\r\nprogram = x.exe\r\n");
  EXPECT_EQ(WithSetting(text, "start at sign-in", "on"),
            "; mine\r\n[velto]\r\nlayout file = a.vkl  ; my layout\r\nlayout = 1\r\nstart at sign-in = on\r\n"
            "[rule x]\r\nprogram = x.exe\r\n");
  EXPECT_EQ(WithSetting("", "layout", "2"), "[velto]\nlayout = 2\n");
  EXPECT_EQ(WithSetting("[rule x]\nprogram = x.exe", "layout file", " x;y "),
            "[rule x]\nprogram = x.exe\n\n[velto]\nlayout file = \" x;y \"\n");
  // What is written reads back as written.
  Diagnostics diags;
  EXPECT_EQ(Parse(WithSetting(DefaultSettingsText(), "layout file", "D:\\x #1.vkl"), diags).layoutFile,
            "D:\\x #1.vkl");
  EXPECT_EQ(diags.Text(), "");
}

TEST(Settings, TheKeyboardWindowsPlaceReadsBackAsWritten) {
  Diagnostics diags;
  EXPECT_FALSE(Parse(DefaultSettingsText(), diags).keyboardWindow.known());
  const WindowPlace place{-1200, 40, 900, 330};
  const Settings s = Parse(WithSetting(DefaultSettingsText(), "keyboard window", PlaceText(place)), diags);
  EXPECT_EQ(s.keyboardWindow, place);
  EXPECT_EQ(diags.Text(), "");
  const Settings bad = Parse("[velto]\nkeyboard window = 10, 20, 0, 5\nkeyboard window = 1,2,3\n", diags);
  EXPECT_FALSE(bad.keyboardWindow.known());
  EXPECT_EQ(diags.Text(),
            "settings.ini:2:19: error: \"keyboard window\" is X, Y, WIDTH, HEIGHT in pixels, not \"10, 20, 0, 5\"\n"
            "settings.ini:3:19: error: \"keyboard window\" is X, Y, WIDTH, HEIGHT in pixels, not \"1,2,3\"\n");
}

Rule MakeRule(std::string name, std::string program, bool off, int layout = -1) {
  Rule r;
  r.name = std::move(name);
  r.programs = {std::move(program)};
  r.off = off;
  r.layout = layout;
  return r;
}

TEST(Rules, MatchByProgramOrClassWithoutRegardToCase) {
  std::vector<Rule> rules = {MakeRule("rdp", "mstsc.exe", true), MakeRule("py", "putty.exe", false, 1)};
  rules[1].classes = {"PuTTY"};
  EXPECT_EQ(MatchRule(rules, {"MSTSC.EXE", "TscShellContainerClass"}), &rules[0]);
  EXPECT_EQ(MatchRule(rules, {"other.exe", "putty"}), &rules[1]);
  EXPECT_EQ(MatchRule(rules, {"notepad.exe", "Notepad"}), nullptr);
  EXPECT_EQ(MatchRule(rules, {"", ""}), nullptr);
}

TEST(Rules, TheUsersStateComesBackAndTheirChoicesInsideLast) {
  const Rule off = MakeRule("rdp", "mstsc.exe", true);
  const Rule layout2 = MakeRule("vm", "vm.exe", false, 2);
  RuleFollower f;
  const UserState mine{true, 1};
  EXPECT_EQ(f.Enter(nullptr, mine), std::nullopt);
  EXPECT_EQ(f.Enter(&off, mine), (UserState{false, 1}));
  // Inside, the user turns translation on again: another window of the same
  // program does not turn it off.
  EXPECT_EQ(f.Enter(&off, {true, 1}), std::nullopt);
  // Straight on to another rule: it starts from the user's own state.
  EXPECT_EQ(f.Enter(&layout2, {true, 1}), (UserState{true, 2}));
  EXPECT_EQ(f.Enter(nullptr, {true, 2}), mine);
  EXPECT_EQ(f.saved(), std::nullopt);
  // A rule that asks for what is already so changes nothing, in or out.
  EXPECT_EQ(f.Enter(&off, {false, 0}), std::nullopt);
  EXPECT_EQ(f.Enter(nullptr, {false, 0}), std::nullopt);
  // Rules read again: applied afresh, the user's state still kept.
  EXPECT_EQ(f.Enter(&off, mine), (UserState{false, 1}));
  f.RulesChanged();
  EXPECT_EQ(f.Enter(&off, {true, 1}), (UserState{false, 1}));
  EXPECT_EQ(f.Enter(nullptr, {false, 1}), mine);
}

TEST(Rules, AProgramRunAsAdministratorIsToldOfOnce) {
  ElevationNotices n;
  EXPECT_FALSE(n.ShouldTell(false, false, "notepad.exe"));
  EXPECT_TRUE(n.ShouldTell(false, true, "regedit.exe"));
  EXPECT_FALSE(n.ShouldTell(false, true, "REGEDIT.EXE"));
  EXPECT_TRUE(n.ShouldTell(false, true, "cmd.exe"));
  // Velto itself as administrator reaches them all.
  EXPECT_FALSE(n.ShouldTell(true, true, "taskmgr.exe"));
  // A Store app is out of reach whatever Velto's rights; told of once too.
  EXPECT_FALSE(n.ShouldTellContained(false, "notepad.exe"));
  EXPECT_TRUE(n.ShouldTellContained(true, "CalculatorApp.exe"));
  EXPECT_FALSE(n.ShouldTellContained(true, "calculatorapp.exe"));
}

}  // namespace
}  // namespace velto::controller
