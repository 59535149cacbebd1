// Keystrokes end to end: from the keyboard hook to the characters the
// focused window receives.
#include "delivery/queues.h"
#include "intercept/lookup.h"
#include "intercept/modifiers.h"
#include "testing/system_fixture.h"

namespace velto::testing {
namespace {

using layoutkit::KeyboardDescription;

class Typing : public SystemTest {};

TEST_F(Typing, EachLayoutTypesItsOwnCharacters) {
  Tap(scan::kS);
  Tap(scan::kD);
  EXPECT_EQ(Typed(), "sd");  // layout 0 is the US layout: the system types it
  AsController([] { SelectLayout(1); });
  Tap(scan::kS);
  Tap(scan::kD);
  Tap(scan::kE);
  EXPECT_EQ(Typed(), "sdoe.");
}

TEST_F(Typing, ATranslatedKeyDownNeverReachesTheWindowButItsKeyUpDoes) {
  AsController([] { SelectLayout(1); });
  Tap(scan::kS);
  std::vector<std::uint32_t> keyMessages;
  for (const sim::Message& m : sim::DispatchedTo(app_)) {
    if (m.message == sim::kWmKeyDown || m.message == sim::kWmKeyUp) keyMessages.push_back(m.message);
  }
  EXPECT_THAT(keyMessages, ::testing::ElementsAre(sim::kWmKeyUp));
  EXPECT_EQ(Typed(), "o");
}

TEST_F(Typing, ShiftColumnsAndRightModifierEquivalence) {
  KeyboardDescription d = Description();
  d.Put(1, scan::kA, kSlotPlain, 0, 'x');
  d.Put(1, scan::kA, kSlotPlain, 1, 'y');
  d.Put(1, scan::kA, kSlotPlain, 2, 'z');
  d.Put(1, scan::kA, kSlotLeftCtrl, 0, '1');
  d.Put(1, scan::kA, kSlotRightCtrl, 0, '2');
  Load(d);
  AsController([] { SelectLayout(1); });

  Tap(scan::kA);
  TapWith(scan::kLeftShift, scan::kA);
  TapWith(scan::kRightShift, scan::kA);
  TapWith(scan::kRightCtrl, scan::kA);
  EXPECT_EQ(Typed(), "xyz2");

  d.layouts[1].rightModEquivalence = 0x0009;  // right Ctrl and right Shift count as left
  Load(d);
  TapWith(scan::kRightShift, scan::kA);
  TapWith(scan::kRightCtrl, scan::kA);
  EXPECT_EQ(Typed(), "xyz2y1");
}

TEST_F(Typing, CapsLockSelectsTheCapsPlanes) {
  Tap(scan::kCapsLock);
  EXPECT_EQ(Leds() & 2, 2u);
  Tap(scan::kS);
  AsController([] { SelectLayout(1); });
  Tap(scan::kS);
  Tap(scan::kCapsLock);
  Tap(scan::kS);
  EXPECT_EQ(Typed(), "SOo");
}

TEST_F(Typing, CharactersTheSystemTypesAlikePassUntouched) {
  AsController([] { SelectLayout(1); });
  Tap(scan::kA);  // 'a' sits on the same key in both
  EXPECT_EQ(cb().keyQEmpty, 1);
  EXPECT_EQ(cb().swallowedScan, 0);
  EXPECT_EQ(Typed(), "a");
  EXPECT_EQ(Received(sim::kWmKeyDown), 1);
}

TEST_F(Typing, AFullKeyQueueLetsTheKeyThroughUntranslated) {
  AsController([] { SelectLayout(1); });
  // 127 results that produce nothing when delivered (dead keys without a character).
  for (int i = 0; i < 127; ++i) ASSERT_TRUE(PushKeyResult(TheRegion(), MakeResult(static_cast<std::uint16_t>(i), kKindDeadKey, 0)));
  Tap(scan::kS);
  EXPECT_EQ(Typed(), "s");
  EXPECT_EQ(cb().keyQEmpty, 1);  // the key's own messages drained the queue
  Tap(scan::kS);
  EXPECT_EQ(Typed(), "so");
}

TEST_F(Typing, ConsoleWindowsAreLeftAlone) {
  const platform::Handle consoleThread = sim::CreateThread();
  const platform::Handle console = sim::CreateWindow(consoleThread, "ConsoleWindowClass");
  AsController([] { SelectLayout(1); });
  sim::SetFocus(console);
  Tap(scan::kS);
  Press(scan::kLeftShift);
  EXPECT_EQ(cb().modifiers, 0);  // not even tracked
  Release(scan::kLeftShift);
  EXPECT_EQ(sim::CharsOf(console), "s");
  EXPECT_EQ(cb().keyQEmpty, 1);
}

// Ctrl+F12 pressed in the application and F12 let go in a console, where the
// hook looks at nothing: that press is over, and F12 held again in the
// application is no hotkey's.
TEST_F(Typing, AHotkeyKeyLetGoInAConsoleIsNoLongerTheHotkeys) {
  KeyboardDescription d = Description();
  d.options.disableHotkeyScan = scan::kF12;
  d.options.disableHotkeyMods = 0x0001;  // left Ctrl
  Load(d);
  const platform::Handle console = sim::CreateWindow(sim::CreateThread(), "ConsoleWindowClass");
  Press(scan::kLeftCtrl);
  Press(scan::kF12);
  Release(scan::kLeftCtrl);
  sim::SetFocus(console);
  Release(scan::kF12);
  Press(scan::kF12);
  sim::SetFocus(app_);
  Press(scan::kF12);  // a repeat
  Release(scan::kF12);
  EXPECT_EQ(cb().enabled, 1);
  EXPECT_EQ(Received(sim::kWmKeyDown, 0x7B), 1);  // VK_F12
}

// For an application of the other architecture the system runs the hooks in
// the controller's thread, where the application's windows are unknown: its
// keys pass untranslated, none is lost, and the one beside it still types by
// the layout.
TEST_F(Typing, AnApplicationOfTheOtherArchitectureTypesAsTheSystemDoes) {
  const platform::Handle other = sim::CreateWindow(sim::CreateOtherArchitectureThread(), "Edit");
  AsController([] { SelectLayout(1); });
  const std::uint16_t cbtCalls = cb().cbtCalls;
  sim::SetFocus(other);
  EXPECT_EQ(cb().cbtCalls, cbtCalls);  // the focus hook did nothing
  Tap(scan::kS);
  TapWith(scan::kRightAlt, scan::kM);
  Tap(scan::kD);
  Tick(30);
  sim::SetFocus(app_);
  Tap(scan::kS);
  sim::SetFocus(other);
  Tap(scan::kE);
  EXPECT_EQ(sim::CharsOf(other), "sde");
  EXPECT_EQ(Typed(), "o");
  EXPECT_EQ(cb().keyQEmpty, 1);
  EXPECT_EQ(cb().modifiers, 0);
}

TEST_F(Typing, CtrlAndAltCombinationsWithoutTranslationAreSwallowedWhereTheLayoutClaimsThem) {
  KeyboardDescription d = Description();
  d.layouts[1].modMask = 0x000F;
  Load(d);
  AsController([] { SelectLayout(1); });
  TapWith(scan::kLeftCtrl, scan::kS);
  EXPECT_EQ(Received(sim::kWmKeyDown, 'S'), 0) << "Ctrl+S reached the window";
  // Without the claim the combination reaches the window.
  AsController([] { SelectLayout(0); });
  TapWith(scan::kLeftCtrl, scan::kS);
  EXPECT_EQ(Typed(), "\x13");
}

TEST_F(Typing, AppsKeyIsSwallowedWhenTheLayoutSaysSo) {
  KeyboardDescription d = Description();
  d.layouts[0].modMask = 1u << kLayoutMaskAppsKeyEats;
  Load(d);
  Tap(scan::kApps);
  EXPECT_EQ(Received(sim::kWmKeyDown), 0);
}

TEST_F(Typing, NumericPadDigitsFollowNumLock) {
  KeyboardDescription d = Description();
  for (unsigned plane = 0; plane < 4; ++plane) d.Put(plane, scan::kPad7, kSlotPlain, 0, 'x');
  Load(d);
  Tap(scan::kPad7);  // Num Lock off: the key is Home
  EXPECT_EQ(Typed(), "");
  Tap(scan::kNumLock);
  EXPECT_EQ(Leds() & 1, 1u);
  Tap(scan::kPad7);
  EXPECT_EQ(Typed(), "x");
  Tap(scan::kNumLock);
  d.options.options = 1u << kOptNumpadWithoutNumLock;
  Load(d);
  Tap(scan::kPad7);
  EXPECT_EQ(Typed(), "xx");

  // The library's Num Lock light is on while the system's is off, so the key
  // is Home: the Shift keys are put back as they were pressed, but not one
  // that the user has let go since.
  Press(scan::kLeftShift);
  Press(scan::kRightAlt);
  Release(scan::kLeftShift);
  Release(scan::kRightAlt);
  cb().leds |= 1;
  Tap(scan::kPad7);
  EXPECT_EQ(cb().modifiers, 0);
}

}  // namespace
}  // namespace velto::testing

namespace velto::testing {
namespace {

// A keyboard hook installed before the library's sits behind it in the chain
// and sees only what the library passes on.
class HookChain : public SystemTest {
 protected:
  void SetUp() override {
    SystemTest::SetUp();
    AsController([&] { RemoveHook(controller_); });
    sim::InstallTestHook(sim::kKeyboard, [this](int code, platform::WParam w, platform::LParam l) {
      seen_.push_back({code, static_cast<std::uint32_t>(w)});
      (void)l;
      return platform::LParam{0};
    });
    AsController([&] {
      InstallHook(controller_);
      Enable(1);
      SelectLayout(1);
    });
    sim::SetFocus(app_);
    seen_.clear();
  }
  std::vector<std::pair<int, std::uint32_t>> seen_;
};

TEST_F(HookChain, TranslationPathNeverCallsTheNextHook) {
  Tap(scan::kS);  // translated down, key-up passed
  Tap(scan::kA);  // typed by the system alike
  EXPECT_TRUE(seen_.empty());
  EXPECT_EQ(Typed(), "oa");
}

TEST_F(HookChain, ConsoleKeysAndDisabledTranslationGoToTheNextHookWithTheirCode) {
  const platform::Handle console = sim::CreateWindow(sim::CreateThread(), "ConsoleWindowClass");
  sim::SetFocus(console);
  sim::KeyDown(scan::kS);
  EXPECT_TRUE(sim::PeekInput());
  sim::Pump();
  EXPECT_THAT(seen_, ::testing::ElementsAre(std::pair{3, 'S'}, std::pair{0, 'S'}));

  sim::SetFocus(app_);
  AsController([] { Enable(0); });
  seen_.clear();
  Tap(scan::kS);
  EXPECT_THAT(seen_, ::testing::ElementsAre(std::pair{0, 'S'}, std::pair{0, 'S'}));
  EXPECT_EQ(sim::CharsOf(console) + Typed(), "ss");
}

}  // namespace
}  // namespace velto::testing
