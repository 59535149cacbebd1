// Macros, one-character macros and the action player, end to end.
#include "hooks/procs.h"
#include "delivery/macro.h"
#include "delivery/player.h"
#include "delivery/own_keys.h"
#include "delivery/queues.h"
#include "intercept/modifiers.h"
#include "testing/system_fixture.h"

namespace velto::testing {
namespace {

using layoutkit::Entry;
using layoutkit::KeyboardDescription;

class Playback : public SystemTest {
 protected:
  KeyboardDescription Description() const override {
    KeyboardDescription d = layoutkit::DemoDescription();
    d.layouts[1].modMask = 0x000C;  // layout 1 claims the Alt keys
    d.SetMacro(2, std::string(255, 'w'));
    d.Put(1, scan::kA, kSlotRightAlt, 0, 2, Entry::kMacro);
    // The first part that fits into the queue ends among the cursor keys.
    std::string chords;
    for (int i = 0; i < 9; ++i) chords += "{LEFT}";
    d.SetMacro(3, std::string(98, 'w') + chords);
    d.Put(1, scan::kD, kSlotRightAlt, 0, 3, Entry::kMacro);
    return d;
  }
  void SetUp() override {
    SystemTest::SetUp();
    AsController([] { SelectLayout(1); });
  }
  // Lets the timer run until nothing is left to play.
  void PlayOut() {
    for (int i = 0; i < 400 && !(cb().actQEmpty && cb().keyQEmpty && !MacroPending(TheRegion()) &&
                                 cb().playbackWait == 0);
         ++i) {
      Tick();
    }
  }
  bool NothingHeld() const {
    return cb().modifiers == 0 && !sim::AsyncKeyDown(kVkMenu) && !sim::AsyncKeyDown(kVkShift) &&
           !sim::AsyncKeyDown(kVkControl);
  }
};

TEST_F(Playback, MacroWithTextAndChordWhileRightAltIsHeld) {
  Press(scan::kRightAlt);
  Tap(scan::kM);
  // Played at once from the hooks, its text after the chord too: no tick.
  EXPECT_EQ(Typed(), "Best regards,\rVelto");
  EXPECT_EQ(cb().playbackWait, 0);
  EXPECT_TRUE(sim::AsyncKeyDown(kVkMenu));  // pressed again: the user still holds it
  EXPECT_EQ(cb().passThrough, 0);
  Release(scan::kRightAlt);
  EXPECT_TRUE(NothingHeld());

  // The synthesized release and re-press of right Alt reached no window.
  EXPECT_EQ(Received(sim::kWmSysKeyDown, kVkMenu) + Received(sim::kWmSysKeyUp, kVkMenu) +
                Received(sim::kWmKeyDown, kVkMenu) + Received(sim::kWmKeyUp, kVkMenu),
            2);  // the user's own press and release
}

TEST_F(Playback, RightAltLetGoBeforeTheMacroPlaysIsNotPressedAgain) {
  TapWith(scan::kRightAlt, scan::kM);
  PlayOut();
  EXPECT_EQ(Typed(), "Best regards,\rVelto");
  EXPECT_TRUE(NothingHeld());
}

TEST_F(Playback, RightAltLetGoWhileTheMacroPlaysIsNotPressedAgain) {
  Press(scan::kRightAlt);
  Tap(scan::kM);
  // The user lets go just as the player starts: the release reaches the
  // keyboard hook while the player waits for its markers.
  sim::KeyUp(scan::kRightAlt);
  sim::RunAs(controllerThread_);
  PlayActions(TheRegion());
  sim::Pump();
  PlayOut();
  EXPECT_EQ(Typed(), "Best regards,\rVelto");
  EXPECT_TRUE(NothingHeld());
}

TEST_F(Playback, TheModifierSweepLeavesTheModifiersAMacroReleasedAlone) {
  Press(scan::kRightAlt);
  const std::uint16_t sweeps = cb().sweeps;
  // The timer sweeps while right Alt is released for the macro's chords.
  sim::OnKeyEvent([&](const sim::KeyEventCall& k) {
    if (k.vk != kMarkRepressStart || cb().sweeps != sweeps) return;
    cb().tickCountdown = 0;
    TimerProc();
  });
  Tap(scan::kD);
  sim::OnKeyEvent({});
  PlayOut();
  EXPECT_EQ(cb().sweeps, sweeps + 1);
  EXPECT_EQ(Typed(), std::string(98, 'w'));
  EXPECT_TRUE(sim::AsyncKeyDown(kVkMenu));  // still held by the user: pressed again
  EXPECT_EQ(cb().modifiers, 1u << kModRightAlt);
  Release(scan::kRightAlt);
  EXPECT_TRUE(NothingHeld());
}

TEST_F(Playback, TheLongestMacroIsTypedWhole) {
  TapWith(scan::kRightAlt, scan::kA);
  PlayOut();
  EXPECT_EQ(Typed(), std::string(255, 'w'));
  EXPECT_TRUE(NothingHeld());
}

TEST_F(Playback, AMacroWhosePartEndsAmongItsKeysGoesOn) {
  Press(scan::kRightAlt);
  Tap(scan::kD);
  PlayOut();
  Release(scan::kRightAlt);
  EXPECT_EQ(Typed(), std::string(98, 'w'));
  EXPECT_EQ(Received(sim::kWmKeyDown, 0x25), 9);  // VK_LEFT
  EXPECT_EQ(cb().playbackWait, 0);
  EXPECT_FALSE(MacroPending(TheRegion()));
  EXPECT_TRUE(NothingHeld());
}

// The controller's timer and the application's message hook run in two
// threads. While one of them plays or goes on with a long macro, the other
// leaves the macro to it: going on from the same cursor too would type the
// next part twice.
TEST_F(Playback, ALongMacroGoesOnInOneThreadAtATime) {
  Press(scan::kRightAlt);
  cb().focusWnd = app_;
  ExpandMacro(TheRegion(), 2, MacroMode::kTable);  // 255 characters: the first part
  // The timer's thread plays the part, and is about to go on.
  sim::RunAs(controllerThread_);
  PlayActions(TheRegion());
  ASSERT_TRUE(cb().actQEmpty && MacroPending(TheRegion()));
  const std::uint32_t cursor = cb().macroCursor;
  cb().playerBusy = 1;
  sim::Post(app_, cb().notifyMsg, 0, 0);  // a message the message hook acts on
  sim::Pump();
  EXPECT_EQ(cb().macroCursor, cursor);
  EXPECT_NE(cb().actQEmpty, 0);
  cb().playerBusy = 0;
  PlayOut();
  Release(scan::kRightAlt);
  EXPECT_EQ(Typed(), std::string(255, 'w'));
  EXPECT_TRUE(NothingHeld());
}

TEST_F(Playback, OneCharacterMacroUnderRightAlt) {
  Press(scan::kRightAlt);
  Tap(scan::kE);
  PlayOut();
  Release(scan::kRightAlt);
  EXPECT_EQ(Typed(), "\x80");
  EXPECT_TRUE(NothingHeld());
  // Posted as it stands, with right Alt down, as the system's own AltGr
  // characters come: nothing is let go and pressed again.
  EXPECT_TRUE(sim::KeyEvents().empty());
}

// The user lets go of right Alt while the player presses it again for them:
// the release is on its way to the application when the press is sent, so
// the press lands after it. The end of the macro lets the key go again.
TEST_F(Playback, RightAltLetGoWhileThePlayerPressesItAgainIsNotLeftDown) {
  Press(scan::kRightAlt);
  Tap(scan::kE);
  Tick();                          // the release of right Alt around the character
  ASSERT_EQ(cb().playbackWait, 0);
  sim::KeyUp(scan::kRightAlt);     // queued, not yet taken by the application...
  sim::RunAs(controllerThread_);
  TimerProc();                     // ...when the timer presses right Alt again
  sim::Pump();
  PlayOut();
  EXPECT_EQ(Typed(), "\x80");
  EXPECT_TRUE(NothingHeld());
  EXPECT_EQ(cb().sentDown, 0);
}

// Wherever the user's release of right Alt lands among the keys the player
// sends for a one-character macro, nothing stays held, in the system or in
// `modifiers`, and the next key types plainly. The application may also take
// the keys while the player is still sending (it runs in a thread of its own).
TEST_F(Playback, RightAltLetGoAnywhereAmongThePlayersKeysIsNotLeftDown) {
  for (int run = 0; run < 24; ++run) {
    const int k = run % 12 + 1;
    const bool takenAtOnce = run >= 12;
    SCOPED_TRACE("let go after the player's key event " + std::to_string(k) +
                 (takenAtOnce ? ", taken at once" : ""));
    int sent = 0;
    sim::OnKeyEvent([&](const sim::KeyEventCall&) {
      if (++sent != k) return;
      sim::KeyUp(scan::kRightAlt);
      if (takenAtOnce) sim::Pump();
    });
    Press(scan::kRightAlt);
    Tap(scan::kE);
    PlayOut();
    sim::OnKeyEvent({});
    if (sent < k) Release(scan::kRightAlt);
    PlayOut();
    Tap(scan::kS);
    PlayOut();
    EXPECT_TRUE(NothingHeld());
    EXPECT_EQ(cb().sentUp | cb().sentDown, 0);
    EXPECT_EQ(Typed(), "\x80o");
    sim::ClearDispatched();
  }
}

// The user lets go of right Alt right after a key typed with it: the
// release is in the system's key state before the application has taken the
// key, and the timer's sweep of the modifiers comes in between. The key
// still types with right Alt.
TEST_F(Playback, RightAltLetGoJustAfterAKeyStillTypesItWithRightAlt) {
  platform::Handle hook = 0;
  hook = sim::InstallTestHook(sim::kKeyboard, [&](int code, platform::WParam wParam,
                                                   platform::LParam lParam) {
    if (code == 0 && wParam == 'E' && (lParam >> 31 & 1) == 0) {
      sim::SetKeyDown(kVkRightMenu, false);
      sim::SetKeyDown(kVkMenu, false);
      cb().tickCountdown = 0;
      TimerProc();
    }
    return platform::CallNextHook(hook, code, wParam, lParam);
  });
  const std::uint16_t sweeps = cb().sweeps;
  sim::KeyDown(scan::kRightAlt);
  sim::KeyDown(scan::kE);
  sim::KeyUp(scan::kE);
  sim::KeyUp(scan::kRightAlt);
  sim::Pump();
  PlayOut();
  EXPECT_EQ(cb().sweeps, sweeps + 1);
  EXPECT_EQ(Typed(), "\x80");
  EXPECT_TRUE(NothingHeld());
}

// A key the hook swallows while an application only peeks at it is gone:
// the system does not offer it again. The player's release of right Alt,
// swallowed so, is the library's once; the user's release after it is the
// user's.
TEST_F(Playback, ThePlayersReleaseSwallowedWhilePeekedAtIsTheLibrarysOnce) {
  int sent = 0;
  sim::OnKeyEvent([&](const sim::KeyEventCall&) {
    if (++sent == 2) sim::KeyUp(scan::kRightAlt);  // right behind the player's release
  });
  Press(scan::kRightAlt);
  cb().playerBusy = 1;  // the hooks leave it to the timer
  Tap(scan::kM);
  cb().playerBusy = 0;
  sim::RunAs(controllerThread_);
  TimerProc();
  sim::OnKeyEvent({});
  EXPECT_TRUE(sim::PeekInput());  // the start marker
  EXPECT_TRUE(sim::PeekInput());  // the player's release of right Alt
  sim::Pump();
  PlayOut();
  EXPECT_EQ(Typed(), "Best regards,\rVelto");
  EXPECT_TRUE(NothingHeld());
}

TEST_F(Playback, CharacterThenLeftForBitmapCharacters) {
  KeyboardDescription d = Description();
  d.layouts[1].flags = 1;
  d.MarkSystemChar(1, 'o');
  Load(d);
  Tap(scan::kS);
  PlayOut();
  EXPECT_EQ(Typed(), "o");
  std::vector<std::uint32_t> afterChar;
  bool charSeen = false;
  for (const sim::Message& m : sim::DispatchedTo(app_)) {
    charSeen |= m.message == sim::kWmChar;
    if (charSeen && m.message == sim::kWmKeyDown) afterChar.push_back(static_cast<std::uint32_t>(m.wParam));
  }
  EXPECT_THAT(afterChar, ::testing::ElementsAre(0x25u));  // VK_LEFT
}

TEST_F(Playback, ThePlayerStopsAfterThePlainMarkerAndGoesOnLater) {
  const Region& region = TheRegion();
  cb().focusWnd = app_;
  PushKeyAction(region, kOpKeyUp, kMarkPlainStart);
  PushPostedMessage(region, kOpPostChar, 'k', 1u << 16);
  sim::RunAs(controllerThread_);
  PlayActions(region);
  EXPECT_EQ(cb().playbackWait, 1);
  EXPECT_EQ(cb().actQEmpty, 0);
  EXPECT_EQ(sim::KeyEvents().size(), 1u);
  sim::Pump();  // the marker comes back through the keyboard hook, which plays on
  EXPECT_EQ(cb().playbackWait, 0);
  EXPECT_EQ(Typed(), "k");
  EXPECT_EQ(cb().actQEmpty, 1);
}

TEST_F(Playback, PostedCharactersGoToTheFocusAtPlayTime) {
  const platform::Handle other = sim::CreateWindow(appThread_, "Edit");
  const Region& region = TheRegion();
  PushPostedMessage(region, kOpPostChar, 'z', 0x002C0000);
  cb().focusWnd = other;
  Tick();
  EXPECT_EQ(sim::CharsOf(other), "z");
  const std::vector<sim::Message> got = sim::DispatchedTo(other);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.front().lParam, 0x002C0001);
}

TEST_F(Playback, HeldModifiersReleasedAtTheEndOfPlaybackAreThoseCounted) {
  cb().heldCounts[1] = 1;  // right Ctrl
  cb().heldCounts[8] = 2;  // Caps Lock
  cb().countHeld = 1;
  cb().passThrough = 1;
  sim::RunAs(controllerThread_);
  platform::KeybdEvent(kMarkRepressEnd, 0, platform::kKeyEventKeyUp);
  sim::ClearKeyEvents();
  sim::Pump();
  EXPECT_THAT(sim::KeyEvents(), ::testing::ElementsAre(sim::KeyEventCall{kVkControl, 0, 3},
                                                       sim::KeyEventCall{kVkCapital, 0, 2}));
  EXPECT_EQ(cb().passThrough, 0);
  EXPECT_EQ(cb().countHeld, 0);
  ASSERT_EQ(cb().heldCounts[1], 1);  // the counts stay

  cb().heldCounts[1] = cb().heldCounts[8] = 0;
  sim::ClearKeyEvents();
  ReleaseHeldModifiers(TheRegion());
  EXPECT_TRUE(sim::KeyEvents().empty());
}

TEST_F(Playback, AFocusChangeEndsAWaitOnlyWhenBothQueuesAreEmpty) {
  const platform::Handle other = sim::CreateWindow(appThread_, "Edit");
  cb().playbackWait = 1;
  PushKeyAction(TheRegion(), kOpKeyUp, kMarkPlainStart);
  sim::SetFocus(other);
  EXPECT_EQ(cb().playbackWait, 1);
  ResetState(TheRegion());
  cb().playbackWait = 1;
  sim::SetFocus(app_);
  EXPECT_EQ(cb().playbackWait, 0);
}

// Keys typed while output of earlier keys is on its way come after it, and
// those that translate are translated: typed as one burst with the macro's
// key, they are all in the input before the keys the macro sends.
TEST_F(Playback, KeysTypedWhileAMacroPlaysComeAfterItTranslated) {
  constexpr std::uint16_t kOne = 0x02, kLeft = 0x14B;
  Press(scan::kRightAlt);
  sim::KeyDown(scan::kM);
  sim::KeyUp(scan::kM);
  sim::KeyUp(scan::kRightAlt);
  for (const std::uint16_t s : {scan::kS, kOne, kLeft}) sim::KeyDown(s), sim::KeyUp(s);
  sim::Pump();
  EXPECT_EQ(Typed(), "Best regards,\rVeltoo1");  // S types o on layout 1
  // The cursor key, held back, is pressed and let go after the text.
  std::vector<std::uint32_t> afterText;
  for (const sim::Message& m : sim::DispatchedTo(app_)) {
    if (m.wParam == 0x25) afterText.push_back(m.message);
  }
  EXPECT_THAT(afterText, ::testing::ElementsAre(sim::kWmKeyDown, sim::kWmKeyUp));
  EXPECT_EQ(cb().playbackWait, 0);
  EXPECT_TRUE(NothingHeld());
}

// A burst queued before anything is processed: the right-Alt character, a
// one-character macro, is typed before the keys after it, with no tick.
TEST_F(Playback, ARightAltCharacterKeepsItsPlace) {
  constexpr std::uint16_t kOne = 0x02;
  sim::KeyDown(scan::kRightAlt);
  for (const std::uint16_t s : {scan::kE, scan::kRightAlt, scan::kS, kOne}) {
    if (s != scan::kRightAlt) sim::KeyDown(s);
    sim::KeyUp(s);
  }
  sim::Pump();
  EXPECT_EQ(Typed(), "\x80o1");
  EXPECT_TRUE(NothingHeld());
}

// A marker that never comes back (the focus was nowhere) does not keep the
// keys behind it for good: four sweeps in a row that find the wait end it.
TEST_F(Playback, AWaitWhoseMarkerIsLostEnds) {
  cb().playbackWait = 1;
  Tap(scan::kS);
  EXPECT_EQ(Typed(), "");
  Tick(3 * kSweepInterval);
  EXPECT_EQ(Typed(), "");
  Tick(kSweepInterval + 1);
  EXPECT_EQ(Typed(), "o");
}

}  // namespace
}  // namespace velto::testing
