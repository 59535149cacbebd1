// Switching layouts and translation by keys: hotkeys, Caps Lock held, the
// Scroll Lock light, system hotkeys with the Win key, and the Alt release.
#include "intercept/modifiers.h"
#include "testing/system_fixture.h"

namespace velto::testing {
namespace {

using layoutkit::KeyboardDescription;

class Switching : public SystemTest {
 protected:
  void SetOptions(std::uint16_t options) {
    KeyboardDescription d = Description();
    d.options.options = options;
    d.options.layoutHotkeyScan = kModifierOnlyHotkey;
    d.options.enableHotkeyScan = kModifierOnlyHotkey;
    d.options.disableHotkeyScan = kModifierOnlyHotkey;
    Load(d);
  }
};

TEST_F(Switching, TheThreeHotkeys) {
  KeyboardDescription d = Description();
  d.options.layoutHotkeyMods = 0x0041;  // left Ctrl + left Shift, alone
  d.options.layoutHotkeyScan = kModifierOnlyHotkey;
  d.options.disableHotkeyMods = 0x0001;  // left Ctrl + F12
  d.options.disableHotkeyScan = scan::kF12;
  d.options.enableHotkeyMods = 0x0001;
  d.options.enableHotkeyScan = scan::kF12;
  Load(d);
  sim::ClearDispatched();

  Press(scan::kLeftCtrl);
  Press(scan::kLeftShift);
  Release(scan::kLeftShift);
  Release(scan::kLeftCtrl);
  EXPECT_EQ(CurrentLayout(), 1u);
  Tap(scan::kS);
  EXPECT_EQ(Typed(), "o");

  TapWith(scan::kLeftCtrl, scan::kF12);
  EXPECT_EQ(DLLEnabled(), 0u);
  Tap(scan::kS);
  EXPECT_EQ(Typed(), "os");

  TapWith(scan::kLeftCtrl, scan::kF12);
  EXPECT_EQ(DLLEnabled(), 1u);
  Tap(scan::kS);
  EXPECT_EQ(Typed(), "oso");
  EXPECT_EQ(Received(sim::kWmKeyDown, 0x7B), 0) << "F12 reached the window";
  // Each switch was announced to the controller with change bit 0.
  int switches = 0;
  for (auto [w, l] : Notices()) switches += (w & 1) != 0;
  EXPECT_EQ(switches, 3);
}

TEST_F(Switching, CapsLockHeldSwitchesTheLayoutForAsLongAsItIsHeld) {
  SetOptions(1u << kOptCapsSwitchesLayout);
  Press(scan::kCapsLock);
  EXPECT_EQ(CurrentLayout(), 1u);
  Tap(scan::kS);
  Release(scan::kCapsLock);
  EXPECT_EQ(CurrentLayout(), 0u);
  Tap(scan::kS);
  EXPECT_EQ(Typed(), "os");
  // Used as a layout key, Caps Lock leaves the lock as it was.
  EXPECT_EQ(Leds() & 2, 0u);
  EXPECT_FALSE(sim::Toggled(kVkCapital));

  // Tapped alone it still toggles Caps Lock.
  Tap(scan::kCapsLock);
  EXPECT_EQ(CurrentLayout(), 0u);
  EXPECT_EQ(Leds() & 2, 2u);
  EXPECT_TRUE(sim::Toggled(kVkCapital));
}

TEST_F(Switching, ScrollLockLightShowsTheLayout) {
  SetOptions(1u << kOptScrollLockShowsLayout);
  EXPECT_FALSE(sim::Toggled(kVkScroll));
  AsController([] { ToggleLayout(); });
  sim::Pump();
  EXPECT_TRUE(sim::Toggled(kVkScroll));
  EXPECT_EQ(Leds() & 4, 4u);

  // A press of Scroll Lock is undone on its release, and no window sees the undoing.
  Tap(scan::kScrollLock);
  EXPECT_TRUE(sim::Toggled(kVkScroll));
  EXPECT_EQ(Leds() & 4, 4u);
  EXPECT_EQ(cb().passThrough, 0);

  AsController([] { SelectLayout(0); });  // SelectLayout leaves the light alone...
  sim::Pump();
  EXPECT_TRUE(sim::Toggled(kVkScroll));
  Tick();  // ...until the timer puts it right
  EXPECT_FALSE(sim::Toggled(kVkScroll));
  EXPECT_EQ(Leds() & 4, 0u);
}

// A key typed while the library puts the light back (under Wine: before every
// key, as Wine first presses Scroll Lock to follow the X server) is typed,
// and the light is put back once, with one notice.
TEST_F(Switching, KeysTypedWhileTheLightIsPutBackAreNotLost) {
  SetOptions(1u << kOptScrollLockShowsLayout);
  AsController([] { SelectLayout(1); });
  Tick();
  sim::ClearKeyEvents();
  auto lightNotices = [this] {
    int n = 0;
    for (const auto& [w, l] : Notices()) n += w != kKeyNoticeWParam && (w & 2) != 0;
    return n;
  };
  const int before = lightNotices();
  sim::KeyDown(scan::kScrollLock);
  sim::KeyUp(scan::kScrollLock);
  sim::KeyDown(scan::kA);  // before the library's own Scroll Lock presses come back
  sim::KeyUp(scan::kA);
  sim::Pump();
  EXPECT_EQ(Typed(), "a");  // Dvorak's a
  EXPECT_EQ(sim::KeyEvents().size(), 3u);  // Scroll Lock down and up, the end marker
  EXPECT_EQ(lightNotices(), before + 1);
  EXPECT_EQ(cb().passThrough, 0);
  EXPECT_TRUE(sim::Toggled(kVkScroll));
}

TEST_F(Switching, ScrollLockAsTheLayoutKeyKeepsTheSystemsLight) {
  KeyboardDescription d = Description();
  d.options.options = 1u << kOptScrollLockShowsLayout;
  d.options.layoutHotkeyScan = kScrollLockScan;
  d.options.layoutHotkeyMods = 0;
  Load(d);
  Tap(scan::kScrollLock);
  EXPECT_EQ(CurrentLayout(), 1u);
  EXPECT_TRUE(sim::Toggled(kVkScroll));
  Tick(3);
  Tap(scan::kScrollLock);
  EXPECT_EQ(CurrentLayout(), 0u);
  EXPECT_FALSE(sim::Toggled(kVkScroll));
  EXPECT_EQ(Received(sim::kWmKeyDown, kVkScroll), 2);  // never swallowed
}

TEST_F(Switching, WinKeyHotkeyIsTranslatedLikeTheKey) {
  KeyboardDescription d = Description();
  d.Put(1, scan::kS, kSlotLeftWin, 0, 'W');
  Load(d);
  AsController([] { SelectLayout(1); });
  Press(scan::kLeftWin);
  sim::Post(app_, sim::kWmHotkey, 7, static_cast<platform::LParam>('S' << 16 | 0x0008));
  sim::Pump();
  Release(scan::kLeftWin);
  EXPECT_EQ(Typed(), "W");
  EXPECT_EQ(Received(sim::kWmHotkey), 0);

  // Without MOD_WIN the hotkey is the application's.
  sim::Post(app_, sim::kWmHotkey, 8, static_cast<platform::LParam>('S' << 16 | 0x0002));
  sim::Pump();
  EXPECT_EQ(sim::DispatchedTo(app_).back().message, sim::kWmHotkey);
}

TEST_F(Switching, WinHotkeyWithoutTranslationIsEatenOnlyWhenTheLayoutSaysSo) {
  KeyboardDescription d = Description();
  d.layouts[0].modMask = 1u << kLayoutMaskWinHotkeyEats;
  Load(d);
  sim::Post(app_, sim::kWmHotkey, 7, static_cast<platform::LParam>(0x70 << 16 | 0x0008));  // Win+F1
  sim::Pump();
  EXPECT_EQ(sim::DispatchedTo(app_).back().message, sim::kWmNull);
}

TEST_F(Switching, AltReleaseAfterAnAltPadTranslationIsSwallowed) {
  KeyboardDescription d = Description();
  d.Put(0, scan::kPad1, kSlotLeftAlt, 0, 0xBD);
  Load(d);
  Tap(scan::kNumLock);
  TapWith(scan::kLeftAlt, scan::kPad1);
  EXPECT_EQ(Typed(), "\xBD");
  EXPECT_EQ(Received(sim::kWmSysKeyUp, kVkMenu) + Received(sim::kWmKeyUp, kVkMenu), 0);
  EXPECT_EQ(cb().modifiers, 0);
  EXPECT_EQ(cb().numpadTranslated, 0);
}

TEST_F(Switching, AltReleaseAfterAnAltGrTranslationIsSwallowedWhenPeekedFirst) {
  KeyboardDescription d = Description();
  d.layouts[1].modMask = 0x000C;
  Load(d);
  AsController([] { SelectLayout(1); });
  Press(scan::kRightAlt);
  Tap(scan::kE);
  Tick(10);
  EXPECT_EQ(Typed(), "\x80");
  // The application peeks at input before it removes it, as menu loops do.
  sim::KeyUp(scan::kRightAlt);
  EXPECT_TRUE(sim::PeekInput());
  sim::Pump();
  EXPECT_EQ(Received(sim::kWmSysKeyUp, kVkMenu), 0) << "the Alt release reached the window";
  EXPECT_EQ(cb().modifiers, 0);
}

}  // namespace
}  // namespace velto::testing
