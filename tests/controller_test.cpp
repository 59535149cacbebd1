// The controller's settings file and its rules per program, apart from
// Windows: the file as people write it, the rewrite that keeps their text,
// and what happens on the way into and out of a program with a rule.
#include <gtest/gtest.h>

#include "controller/diagnostics_report.h"
#include "controller/options.h"
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

// The report made from given facts: each fact on a line of its own.
TEST(Diagnostics, TheReportHasEveryFact) {
  DiagnosticFacts f;
  f.version = "1.2.3";
  f.program = "C:\\Velto\\veltoctl.exe";
  f.library = "C:\\Velto\\velto64.dll";
  f.companion = "C:\\Velto\\velto-companion.exe";
  f.hooks = {{"64-bit", true, "by this process (pid 412)"}, {"32-bit", false, "no companion runs"}};
  f.regionName = "quorvexveltodll";
  f.regionSize = 83400;
  f.regionMapped = true;
  f.layoutSource = "C:\\layouts\\intl.vkb";
  f.layouts = {{0, "US", "Unicode", "US"}, {1, "Russian", "code page 1251", "RU"}};
  f.deadKeys = 5, f.chains = 2, f.macros = 1;
  f.settingsFile = "C:\\Users\\me\\settings.ini";
  f.settingsExist = true;
  f.settingsErrors = {"settings.ini:3:1: error: unknown setting 'colour'"};
  f.rules = {"[rule games] game.exe: translation off"};
  f.ruleNow = "[rule games] game.exe: translation off";
  f.inFront = {true, "game.exe", "GameWindow", 32, true, true, true};
  f.ansiCodePage = 1252;
  f.keyboardLayout = 0x04090409;
  const std::string r = DiagnosticsReport(f);
  for (const char* line : {"version: 1.2.3\n", "program: C:\\Velto\\veltoctl.exe\n",
                           "library: C:\\Velto\\velto64.dll\n", "companion: C:\\Velto\\velto-companion.exe\n",
                           "64-bit: installed, by this process (pid 412)\n", "32-bit: not installed, no companion runs\n",
                           "name: quorvexveltodll\n", "size: 83400 bytes\n", "mapped by this process: yes\n",
                           "source: C:\\layouts\\intl.vkb\n",
                           "layout 0: \"US\", character set Unicode, badge \"US\"\n",
                           "layout 1: \"Russian\", character set code page 1251, badge \"RU\"\n",
                           "dead keys: 5, chains: 2, macros: 1\n", "file: C:\\Users\\me\\settings.ini\n",
                           "errors: 1\n  settings.ini:3:1: error: unknown setting 'colour'\n",
                           "[rules]\n[rule games] game.exe: translation off\n",
                           "applies now: [rule games] game.exe: translation off\n", "executable: game.exe\n",
                           "window class: GameWindow\n", "architecture: 32-bit\n", "administrator: yes\n",
                           "AppContainer: yes\n", "Unicode window: yes\n", "ANSI code page: 1252\n",
                           "keyboard layout: 00000409\n"}) {
    EXPECT_NE(r.find(line), std::string::npos) << "no '" << line << "' in\n" << r;
  }
  EXPECT_EQ(r.rfind("Velto diagnostics\n\n", 0), 0u) << "the running instance's report has no note";
}

TEST(Diagnostics, TheOptionIsTakenAndListedInTheHelp) {
  Options o;
  EXPECT_EQ(ParseOptions({"--diagnostics"}, false, o), 0);
  EXPECT_TRUE(o.diagnostics);
  Options sending;
  testing::internal::CaptureStderr();
  EXPECT_EQ(ParseOptions({"--diagnostics", "--send", "quit"}, false, sending), 2);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("--diagnostics reports and stops"), std::string::npos);
  Options help;
  testing::internal::CaptureStdout();
  EXPECT_EQ(ParseOptions({"--help"}, false, help), -1);
  const std::string text = testing::internal::GetCapturedStdout();
  EXPECT_NE(text.find("| --diagnostics"), std::string::npos) << text;
  EXPECT_NE(text.find("  --diagnostics    print a report"), std::string::npos) << text;
}

TEST(Diagnostics, WhatIsMissingOrSeenOnlyHereIsSaid) {
  DiagnosticFacts f;
  f.seenOnlyBy = "Velto is not running: this report shows what this program sees.";
  f.settingsFile = "settings.ini";
  f.keyboardLayout = 0xF0020409;  // a variant layout
  const std::string r = DiagnosticsReport(f);
  EXPECT_EQ(r.rfind("Velto diagnostics\nNote: Velto is not running: this report shows what this program sees.\n", 0),
            0u)
      << r;
  for (const char* line : {"companion: none needed\n", "file: settings.ini (not there: defaults)\n", "errors: none\n",
                           "[rules]\nnone\napplies now: none\n", "[program in front]\nnone\n",
                           "mapped by this process: no\n",
                           "keyboard layout: F0020409 (language 0409, a variant layout)\n"}) {
    EXPECT_NE(r.find(line), std::string::npos) << "no '" << line << "' in\n" << r;
  }
  EXPECT_EQ(r.find("dead keys:"), std::string::npos) << "no counts without layouts";
}

}  // namespace
}  // namespace velto::controller
