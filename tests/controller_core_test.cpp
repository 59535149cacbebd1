// The controller's core on a stand-in host: commands parsed and run through
// the library, layout and settings files loaded again when they change and
// have settled, errors that keep the last good layouts, and the rules per
// program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "controller/controller_core.h"
#include "shared/keys.h"
#include "shared/notice.h"

namespace velto::controller {
namespace {

namespace fs = std::filesystem;
using Kind = Command::Kind;

// The system as the controller sees it: a library that keeps what it is
// given, real files in a folder of the test's own, whose changes the test
// announces, and a window in front that the test chooses.
class StandInHost : public Host {
 public:
  std::vector<std::string> watched;
  unsigned lookIn = 0;  // ms; 0: no look is due
  int setups = 0;
  unsigned layout = 0;
  bool on = true;
  bool quit = false;
  std::string runKey;
  std::vector<std::string> edited;
  WindowInFront front;
  std::string folder;
  bool companionNeeded = false;
  int companionStarts = 0;
  std::uint32_t clock = 1000;  // ms

  void SetupKeyboard(const layoutkit::KeyboardDescription&) override { ++setups; }
  void SelectLayout(unsigned n) override { layout = n; }
  void Enable(bool yes) override { on = yes; }
  unsigned CurrentLayout() const override { return layout; }
  bool Enabled() const override { return on; }
  unsigned Leds() const override { return 0; }
  std::string CurrentLayoutName() const override { return "theirs"; }
  // A stamp that changes with the content, as a write time would.
  FileStamp StampOf(const std::string& path) const override {
    std::string text, error;
    if (!ReadText(path, text, error)) return {};
    return {true, std::hash<std::string>{}(text), text.size()};
  }
  bool ReadText(const std::string& path, std::string& text, std::string& error) const override {
    std::ifstream in(path, std::ios::binary);
    if (!in) return error = path + ": cannot open", false;
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return true;
  }
  bool WriteText(const std::string& path, const std::string& text, std::string& error) override {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return out ? true : (error = path + ": cannot write", false);
  }
  std::string FullPath(const std::string& path) const override {
    return IsAbsolute(path) ? path : folder + path;
  }
  std::string ExpandVariables(const std::string& text) const override { return text; }
  std::string ProfileFolder() override { return folder; }
  void MakeFolder(const std::string& path) override { fs::create_directories(path); }
  void OpenForEditing(const std::string& path) override { edited.push_back(path); }
  void WatchFiles(const std::vector<std::string>& paths) override { watched = paths; }
  void LookAgainIn(unsigned ms) override { lookIn = ms; }
  std::string ThisProgram() const override { return "C:\\Velto\\velto.exe"; }
  bool Elevated() const override { return false; }
  bool StartAsAdministrator(const std::string&) override { return false; }
  unsigned AnsiCodePage() const override { return 1252; }
  std::uint32_t Milliseconds() const override { return clock; }
  std::uintptr_t ForegroundWindow() const override { return front.window; }
  WindowInFront InFront() const override { return front; }
  std::string SignInCommand() const override { return runKey; }
  bool SetSignInCommand(const std::string& command, std::string&) override {
    runKey = command;
    return true;
  }
  bool CompanionNeeded() const override { return companionNeeded; }
  const char* CompanionArchitecture() const override { return "32-bit"; }
  bool StartCompanion(std::string&) override {
    ++companionStarts;
    return true;
  }
  void Quit() override { quit = true; }
  // The on-screen keyboard: shown or not, how often told to draw again, and the modifiers held.
  bool keyboard = false;
  int keyboardChanges = 0;
  std::uint16_t held = 0;
  void ShowKeyboard(bool show) override { keyboard = show; }
  bool KeyboardShown() const override { return keyboard; }
  void KeyboardChanged() override { ++keyboardChanges; }
  std::uint16_t HeldModifiers() const override { return held; }
};

class RecordingView : public View {
 public:
  std::vector<std::string> said, problems;
  void Say(const std::string& line) override { said.push_back(line); }
  void Problems(const std::string& summary, const std::vector<std::string>& lines) override {
    problems.push_back(summary);
    problems.insert(problems.end(), lines.begin(), lines.end());
  }
  void Tell(const std::string& text) override { Say(text); }
  void Refresh() override {}
  void ShowErrors() override {}
  void Show() override {}
  int SaidCount(const std::string& text) const {
    return static_cast<int>(std::count(said.begin(), said.end(), text));
  }
};

class CoreTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("velto-core-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    host_.folder = dir_.string() + "/";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& text) {
    std::string error;
    host_.WriteText(host_.folder + name, text, error);
    return host_.folder + name;
  }
  static std::string Layout(const std::string& name, const std::string& extra = "") {
    return "unicode\nlayout 1 \"" + name + "\" {\n  key E e E\n" + extra + "}\n";
  }
  // The tray program (no file that must load), or veltoctl with `file`.
  Controller& Start(Options o, bool trayProgram) {
    o.tray = trayProgram;
    c_ = std::make_unique<Controller>(o, host_, view_);
    std::vector<std::string> diagnostics;
    EXPECT_TRUE(c_->Prepare(trayProgram, diagnostics));
    c_->Start(trayProgram, "velto64.dll");
    c_->StartFollowing();
    return *c_;
  }
  // The look the core asked for, if it asked: false if it did not.
  bool LookAgain() {
    if (host_.lookIn == 0) return false;
    host_.lookIn = 0;
    c_->LookAgain();
    return true;
  }
  // A watched folder changed: the core is told, and given the looks it asks
  // for until it asks no more. Returns how many it took.
  int Changed() {
    c_->FilesMayHaveChanged();
    int looks = 0;
    while (looks < 10 && LookAgain()) ++looks;
    EXPECT_EQ(host_.lookIn, 0u) << "still looking";
    return looks;
  }

  fs::path dir_;
  StandInHost host_;
  RecordingView view_;
  std::unique_ptr<Controller> c_;
};

TEST(Commands, EveryCommandReadsBackAndBadOnesAreRefused) {
  std::vector<Command> all = {Command::Layout(3), Command::Use("C:\\My Layouts\\de.vkl"), Command::Use(""),
                              Command::SignIn(true), Command::SignIn(false), Command::Icon(TrayIcon::kNumber),
                              Command::Icon(TrayIcon::kBadge)};
  for (Kind k : {Kind::kOn, Kind::kOff, Kind::kToggle, Kind::kReload, Kind::kErrors, Kind::kState, Kind::kShow,
                 Kind::kEdit, Kind::kSettings, Kind::kAdministrator, Kind::kQuit}) {
    all.push_back(Command::Of(k));
  }
  for (const auto shown : {Command::Shown::kShow, Command::Shown::kHide, Command::Shown::kToggle}) {
    all.push_back(Command::Keyboard(shown));
  }
  for (const Command& c : all) {
    const auto back = ParseCommand(CommandText(c));
    ASSERT_TRUE(back.has_value()) << CommandText(c);
    EXPECT_EQ(*back, c) << CommandText(c);
  }
  // As people type them: any case, blanks and line ends after.
  EXPECT_EQ(ParseCommand("LAYOUT 2 \r\n"), Command::Layout(2));
  EXPECT_EQ(ParseCommand("use Built-In"), Command::Use(""));
  EXPECT_EQ(ParseCommand("use  My File.VKL "), Command::Use("My File.VKL"));
  EXPECT_EQ(ParseCommand("Tray Icon NUMBER"), Command::Icon(TrayIcon::kNumber));
  EXPECT_EQ(ParseCommand("keyboard Toggle"), Command::Keyboard(Command::Shown::kToggle));
  for (const char* bad : {"", "bogus", "layout", "layout 4", "layout x", "on now", "use", "sign-in maybe",
                          "tray icon big", " quit", "help", "keyboard", "keyboard up"}) {
    EXPECT_FALSE(ParseCommand(bad).has_value()) << bad;
  }
  EXPECT_EQ(UnknownCommand("bogus"), "unknown command 'bogus' (help lists them)");
}

TEST(Commands, SendRefusesWhatIsNotACommandBeforeAnythingElse) {
  Options o;
  EXPECT_EQ(ParseOptions({"--send", "layout 2"}, true, o), 0);
  EXPECT_EQ(o.send, Command::Layout(2));
  testing::internal::CaptureStderr();
  EXPECT_EQ(ParseOptions({"--send", "bogus"}, true, o), 2);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "velto: unknown command 'bogus' (help lists them)\n");
}

TEST_F(CoreTest, CommandsRunThroughTheLibraryAndTheSettings) {
  Controller& c = Start(Options{}, true);
  EXPECT_EQ(host_.setups, 1);
  EXPECT_TRUE(c.Execute(Command::Layout(2)));
  EXPECT_EQ(host_.layout, 2u);
  c.Execute(Command::Of(Kind::kOff));
  EXPECT_FALSE(host_.on);
  c.Execute(Command::Of(Kind::kToggle));
  EXPECT_TRUE(host_.on);
  c.Execute(Command::SignIn(true));
  EXPECT_EQ(host_.runKey, "\"C:\\Velto\\velto.exe\"");
  c.Execute(Command::Icon(TrayIcon::kNumber));
  std::string text, error;
  ASSERT_TRUE(host_.ReadText(c.SettingsFile(), text, error));
  EXPECT_NE(text.find("start at sign-in = on"), std::string::npos);
  EXPECT_NE(text.find("tray icon = number"), std::string::npos);
  EXPECT_EQ(c.settings().trayIcon, TrayIcon::kNumber);
  c.Execute(Command::Use(Write("mine.vkl", Layout("Mine"))));
  EXPECT_EQ(c.LayoutName(1), "Mine");
  EXPECT_EQ(host_.setups, 2);
  c.Execute(Command::Of(Kind::kEdit));
  EXPECT_EQ(host_.edited, std::vector<std::string>{host_.folder + "mine.vkl"});
  c.Execute(Command::Of(Kind::kQuit));
  EXPECT_TRUE(host_.quit);
}

// The on-screen keyboard: shown and hidden by the command, its place kept,
// and a dead key the library took marked until the next key it takes.
TEST_F(CoreTest, TheKeyboardShowsTheLayoutAndTheDeadKeyThatWaits) {
  Controller& c = Start(Options{}, true);
  c.Execute(Command::Layout(1));
  c.Execute(Command::Keyboard(Command::Shown::kToggle));
  EXPECT_TRUE(host_.keyboard);
  EXPECT_EQ(view_.said.back(), "The on-screen keyboard is shown.");
  const int changes = host_.keyboardChanges;
  const std::uintptr_t keyNotice = 4, up = 1u << 10;
  c.Notice(keyNotice, 0x28);  // QUOTE: a dead key of US International
  EXPECT_EQ(c.Keyboard().pendingDead, 0x28);
  EXPECT_EQ(host_.keyboardChanges, changes + 1);
  c.Notice(keyNotice, 0x28 | up);
  c.Notice(keyNotice, 0x46);  // Scroll Lock, as Wine presses it before keys
  c.Notice(2, 0);             // and the light it changed
  EXPECT_EQ(c.Keyboard().pendingDead, 0x28);
  c.Notice(keyNotice, 0x12);  // E ends it
  EXPECT_EQ(c.Keyboard().pendingDead, 0);
  host_.held = 1u << kModLeftShift;  // Shift+6: the circumflex
  c.Notice(keyNotice, 0x07);
  EXPECT_EQ(c.Keyboard().pendingDead, 0x07);
  host_.held = 0;
  c.Notice(keyNotice, 0x07);  // 6 alone types 6
  EXPECT_EQ(c.Keyboard().pendingDead, 0);
  c.Notice(keyNotice, 0x28);
  c.Execute(Command::Layout(0));
  c.Notice(2, 0);  // a layout switch ends it
  EXPECT_EQ(c.Keyboard().pendingDead, 0);

  c.KeyboardMoved({-20, 600, 640, 280});
  std::string text, error;
  ASSERT_TRUE(host_.ReadText(c.SettingsFile(), text, error));
  EXPECT_NE(text.find("keyboard window = -20, 600, 640, 280"), std::string::npos);
  EXPECT_EQ(c.settings().keyboardWindow, (WindowPlace{-20, 600, 640, 280}));
  c.Execute(Command::Keyboard(Command::Shown::kHide));
  EXPECT_FALSE(host_.keyboard);
  c.Notice(keyNotice, 0x28);  // hidden: nothing is followed
  EXPECT_EQ(c.Keyboard().pendingDead, 0);
}

TEST_F(CoreTest, AWatcherTakesOnlyTheLibrarysCommands) {
  Options o;
  o.attach = true;
  Controller& c = Start(o, false);
  EXPECT_TRUE(c.Execute(Command::Layout(1)));
  EXPECT_EQ(c.LayoutName(1), "theirs");
  EXPECT_FALSE(c.Execute(Command::Of(Kind::kReload)));
  EXPECT_EQ(view_.said.back(), "unknown command 'reload' (help lists them)");
  EXPECT_EQ(host_.setups, 0);
  EXPECT_TRUE(host_.watched.empty());
}

TEST_F(CoreTest, AFileChangedAndSettledIsLoadedAgainOnce) {
  Options o;
  o.file = Write("mine.vkl", Layout("First"));
  Controller& c = Start(o, false);
  ASSERT_EQ(host_.setups, 1);
  EXPECT_EQ(c.LayoutName(1), "First");
  EXPECT_EQ(host_.watched, (std::vector<std::string>{c.SettingsFile(), o.file}));
  EXPECT_EQ(host_.lookIn, 0u);
  Write("mine.vkl", Layout("Second"));
  c.FilesMayHaveChanged();  // the change is seen
  EXPECT_GT(host_.lookIn, 0u);
  Write("mine.vkl", Layout("Third"));  // and is still being written at the next look
  EXPECT_TRUE(LookAgain());
  EXPECT_EQ(host_.setups, 1);
  EXPECT_TRUE(LookAgain());  // it has settled
  EXPECT_EQ(host_.setups, 2);
  EXPECT_EQ(c.LayoutName(1), "Third");
  EXPECT_FALSE(LookAgain());
  // Another file of the folder changed: one look, and nothing loaded.
  EXPECT_EQ(Changed(), 1);
  EXPECT_EQ(host_.setups, 2);
  EXPECT_EQ(view_.SaidCount("Loaded " + o.file + "."), 1);
}

TEST_F(CoreTest, SavedSettingsAreReadAgainWithTheLayoutFileTheyName) {
  Controller& c = Start(Options{}, true);
  EXPECT_EQ(host_.watched, std::vector<std::string>{c.SettingsFile()});
  const std::string other = Write("other.vkl", Layout("Other"));
  Write("settings.ini", "[velto]\nlayout file = other.vkl\ntray icon = number\n");
  EXPECT_EQ(Changed(), 1);
  EXPECT_EQ(view_.SaidCount("Settings read again from " + c.SettingsFile() + "."), 1);
  EXPECT_EQ(c.settings().trayIcon, TrayIcon::kNumber);
  EXPECT_EQ(c.LayoutName(1), "Other");
  EXPECT_EQ(host_.watched, (std::vector<std::string>{c.SettingsFile(), other}));
}

TEST_F(CoreTest, ErrorsKeepTheLastGoodLayoutsAndAreShownWithTheirPlace) {
  Options o;
  o.file = Write("mine.vkl", Layout("Good"));
  Controller& c = Start(o, false);
  Write("mine.vkl", Layout("Broken", "  bogus\n"));
  Changed();
  EXPECT_EQ(host_.setups, 1);
  EXPECT_EQ(c.LayoutName(1), "Good");
  ASSERT_EQ(c.Errors().size(), 1u);
  EXPECT_EQ(c.Errors()[0], o.file + ":4:3: error: unknown statement \"bogus\" in a layout block");
  EXPECT_EQ(view_.problems, (std::vector<std::string>{"mine.vkl has errors; the layouts in use stay.",
                                                      c.Errors()[0]}));
  Write("mine.vkl", Layout("Mended"));
  Changed();
  EXPECT_EQ(host_.setups, 2);
  EXPECT_TRUE(c.Errors().empty());
  EXPECT_EQ(c.LayoutName(1), "Mended");

  // At a start a broken file of the settings leaves the built-in layouts;
  // one named on veltoctl's command line stops it.
  Write("settings.ini", "[velto]\nlayout file = broken.vkl\n");
  o.file = Write("broken.vkl", Layout("Broken", "  bogus\n"));
  Controller named(o, host_, view_);
  std::vector<std::string> diagnostics;
  EXPECT_FALSE(named.Prepare(false, diagnostics));
  EXPECT_EQ(diagnostics, (std::vector<std::string>{o.file + ":4:3: error: unknown statement \"bogus\" in a layout block"}));
  view_.problems.clear();
  Controller& tray = Start(Options{}, true);
  EXPECT_EQ(tray.LayoutFile(), "");
  EXPECT_EQ(tray.LayoutName(1), "US International");
  EXPECT_EQ(view_.problems.at(0), "broken.vkl has errors; the built-in layouts are in use.");
}

TEST_F(CoreTest, ARuleHoldsWhileItsProgramIsInFrontAndLeavingGivesBack) {
  Write("settings.ini",
        "[velto]\nlayout = 1\n[rule games]\nprogram = Game.exe\ntranslation = off\n"
        "[rule terminal]\nclass = ConsoleWindowClass\nlayout = 2\n");
  Controller& c = Start(Options{}, true);
  EXPECT_EQ(host_.layout, 1u);
  auto bringToFront = [&](std::uintptr_t window, const std::string& program, const std::string& windowClass) {
    host_.front = {window, false, program, windowClass, false};
    c.FollowForeground();
  };
  bringToFront(1, "notepad.exe", "Notepad");
  EXPECT_TRUE(host_.on);
  bringToFront(2, "game.exe", "GameWindow");
  EXPECT_FALSE(host_.on);
  EXPECT_EQ(view_.said.back(), "game.exe in front: rule \"games\", translation off");
  bringToFront(3, "", "#32768");  // the tray menu passes through
  EXPECT_FALSE(host_.on);
  bringToFront(1, "notepad.exe", "Notepad");
  EXPECT_TRUE(host_.on);
  bringToFront(4, "cmd.exe", "ConsoleWindowClass");
  EXPECT_EQ(host_.layout, 2u);
  c.Execute(Command::Layout(3));  // a choice inside lasts until leaving
  bringToFront(5, "cmd.exe", "ConsoleWindowClass");
  EXPECT_EQ(host_.layout, 3u);
  bringToFront(1, "notepad.exe", "Notepad");
  EXPECT_EQ(host_.layout, 1u);
  EXPECT_EQ(view_.said.back(), "notepad.exe in front: back to layout 1, translation on");
}

// A companion that keeps stopping is given up after five starts in a minute,
// says so until it is started again, and starts again when asked.
TEST_F(CoreTest, AGivenUpCompanionSaysSoUntilItIsStartedAgain) {
  host_.companionNeeded = true;
  Controller& c = Start({}, true);
  ASSERT_EQ(host_.companionStarts, 1);
  for (int i = 0; i < 4; ++i) {
    host_.clock += 1000;
    c.CompanionStopped(1);
  }
  EXPECT_EQ(host_.companionStarts, 5);
  EXPECT_FALSE(c.CompanionGivenUp());
  host_.clock += 1000;
  c.CompanionStopped(1);
  EXPECT_EQ(host_.companionStarts, 5);
  EXPECT_TRUE(c.CompanionGivenUp());
  EXPECT_THAT(c.StateLine(), testing::HasSubstr("32-bit applications type untranslated (the companion was given up)"));
  DiagnosticFacts facts;
  facts.companion = "velto-companion.exe";
  c.Diagnose({}, facts);
  EXPECT_THAT(DiagnosticsReport(facts), testing::HasSubstr("companion: velto-companion.exe (given up"));
  EXPECT_THAT(view_.problems, testing::Contains(testing::HasSubstr("\"companion\" starts it again")));

  ASSERT_TRUE(c.Execute(*ParseCommand("companion")));
  EXPECT_EQ(host_.companionStarts, 6);
  EXPECT_FALSE(c.CompanionGivenUp());
  EXPECT_THAT(c.StateLine(), testing::Not(testing::HasSubstr("given up")));
}

// A Store app in front is told of once, and named in the tooltip's facts while it is there.
TEST_F(CoreTest, AStoreAppInFrontIsToldOfOnce) {
  Controller& c = Start({}, true);
  const auto front = [&](std::uintptr_t window, const char* program, bool contained) {
    host_.front = {window, false, program, "Windows.UI.Core.CoreWindow", false, contained};
    c.FollowForeground();
  };
  front(1, "calculatorapp.exe", true);
  EXPECT_EQ(c.ContainedInFront(), "calculatorapp.exe");
  front(2, "notepad.exe", false);
  EXPECT_EQ(c.ContainedInFront(), "");
  front(3, "calculatorapp.exe", true);
  const auto told = std::count_if(view_.said.begin(), view_.said.end(),
                                  [](const std::string& s) { return s.find("is a Store app") != std::string::npos; });
  EXPECT_EQ(told, 1);
}

// What the controller puts into the report: the layouts in use, counted,
// the settings' errors and rules, the rule for the window in front; and no
// key typed changes any of it.
TEST_F(CoreTest, TheReportDescribesTheLayoutsSettingsAndRulesButNothingTyped) {
  Write("settings.ini", "[velto]\nlayout = 1\ncolour = blue\n[rule notes]\nprogram = notepad.exe\nlayout = 0\n");
  const std::string file = Write("mine.vkl",
                                 "unicode\nlayout 1 \"Mine\" {\n  badge \"MN\"\n  claims ralt\n  key E e E\n"
                                 "  key QUOTE dead:acute dead:grave\n  key G g G ralt: macro:sig\n}\n"
                                 "deadkey acute \u00b4 e \u00e9\ndeadkey grave ` e \u00e8\n"
                                 "chain dead:acute dead:grave e \u1ebd\nmacro sig \"Hi\"\n");
  Options o;
  o.file = file;
  Controller& c = Start(o, false);
  host_.front = {7, false, "notepad.exe", "Notepad", false};
  auto report = [&] {
    DiagnosticFacts f;
    c.Diagnose(host_.InFront(), f);
    return f;
  };
  const DiagnosticFacts f = report();
  EXPECT_EQ(f.version, VELTO_VERSION_FOR_TESTS);
  EXPECT_EQ(f.layoutSource, file);
  ASSERT_EQ(f.layouts.size(), 4u);
  EXPECT_EQ(f.layouts[1].name, "Mine");
  EXPECT_EQ(f.layouts[1].badge, "MN");
  EXPECT_EQ(f.layouts[1].charSet, "Unicode");
  EXPECT_EQ(f.deadKeys, 2);
  EXPECT_EQ(f.chains, 1);
  EXPECT_EQ(f.macros, 1);
  EXPECT_EQ(f.settingsFile, host_.folder + "settings.ini");
  EXPECT_TRUE(f.settingsExist);
  ASSERT_EQ(f.settingsErrors.size(), 1u);
  EXPECT_NE(f.settingsErrors[0].find("settings.ini:3:"), std::string::npos) << f.settingsErrors[0];
  ASSERT_EQ(f.rules.size(), 1u);
  EXPECT_EQ(f.rules[0], "[rule notes] notepad.exe: layout 0");
  EXPECT_EQ(f.ruleNow, f.rules[0]);

  const std::string before = DiagnosticsReport(f);
  for (const std::uint16_t scan : {0x12, 0x28, 0x12, 0x22}) {  // E, QUOTE, E, G
    c.Notice(kKeyNoticeWParam, KeyInfo(scan, false));
    c.Notice(kKeyNoticeWParam, KeyInfo(scan, true));
  }
  const std::string after = DiagnosticsReport(report());
  EXPECT_EQ(after, before);
  for (const char* typed : {"\u00e9", "\u1ebd", "Hi", "QUOTE", "scan"}) {
    EXPECT_EQ(after.find(typed), std::string::npos) << typed << " in\n" << after;
  }
}

}  // namespace
}  // namespace velto::controller
