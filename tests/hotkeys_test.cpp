#include "intercept/hotkeys.h"

#include "intercept/modifiers.h"
#include "testing/region_fixture.h"

namespace velto::testing {
namespace {

constexpr std::uint16_t kF12 = 0x58;
constexpr std::uint16_t kScanA = 0x1E;

class Hotkeys : public RegionTest {
 protected:
  void SetUp() override {
    RegionTest::SetUp();
    cb().enabled = 1;
    // Every hotkey off unless a test sets it.
    options().layoutHotkeyScan = kModifierOnlyHotkey;
    options().enableHotkeyScan = kModifierOnlyHotkey;
    options().disableHotkeyScan = kModifierOnlyHotkey;
  }
  int Key(std::uint16_t scan, bool keyUp, bool prevDown = false) {
    cb().keyIsModifier = IsModifierKey(scan);
    return KeyStep(region(), scan, prevDown, keyUp);
  }
  int Press(std::uint16_t scan) { return Key(scan, false); }
  int Repeat(std::uint16_t scan) { return Key(scan, false, true); }
  int Release(std::uint16_t scan) { return Key(scan, true); }
};

TEST_F(Hotkeys, ModifierOnlyChordTogglesOnItsRelease) {
  options().layoutHotkeyMods = 0x0041;
  EXPECT_EQ(Press(kScanLeftCtrl), 0);
  EXPECT_EQ(cb().modsChord, 0x0001);
  EXPECT_EQ(Press(kScanLeftShift), 1);
  EXPECT_EQ(cb().modsChord, 0x0041);
  EXPECT_EQ(cb().currentLayout, 0);
  EXPECT_EQ(Release(kScanLeftShift), 0);  // fires; the application sees Shift go up
  EXPECT_EQ(cb().currentLayout, 1);
  EXPECT_EQ(cb().changeFlags, 0x0001);
  EXPECT_EQ(cb().modsChord, 0);
  EXPECT_EQ(Release(kScanLeftCtrl), 0);
  EXPECT_EQ(cb().currentLayout, 1);
}

TEST_F(Hotkeys, OtherKeyWhileChordArmedIsSwallowedButDisarms) {
  options().layoutHotkeyMods = 0x0041;
  Press(kScanLeftCtrl);
  Press(kScanLeftShift);
  EXPECT_EQ(Press(kScanA), 1);
  EXPECT_EQ(Release(kScanA), 0);
  EXPECT_EQ(cb().currentLayout, 0);
  EXPECT_EQ(Release(kScanLeftShift), 0);
  EXPECT_EQ(cb().currentLayout, 0);
}

TEST_F(Hotkeys, ExactModifierMatchIsRequired) {
  options().layoutHotkeyMods = 0x0001;
  options().layoutHotkeyScan = kF12;
  Press(kScanLeftCtrl);
  Press(kScanRightCtrl);
  EXPECT_EQ(Press(kF12), 0);
  Release(kScanRightCtrl);
  Press(kScanCapsLock);
  EXPECT_EQ(Press(kF12), 0);
  Release(kScanCapsLock);
  EXPECT_EQ(Press(kF12), 1);
  EXPECT_EQ(Press(kF12), 1);  // repeats too
  EXPECT_EQ(cb().currentLayout, 0);
  EXPECT_EQ(Release(kF12), 1);
  EXPECT_EQ(cb().currentLayout, 1);
}

TEST_F(Hotkeys, ZeroMaskChordNeverMatchesButScanZeroDoes) {
  options().layoutHotkeyMods = 0;
  EXPECT_EQ(Press(kScanLeftCtrl), 0);
  EXPECT_EQ(Release(kScanLeftCtrl), 0);
  EXPECT_EQ(cb().currentLayout, 0);

  options().layoutHotkeyScan = 0;  // matches scan 0 events while no modifier is held
  EXPECT_EQ(Press(0), 1);
  EXPECT_EQ(Release(0), 1);
  EXPECT_EQ(cb().currentLayout, 1);
}

TEST_F(Hotkeys, ToggleFlipsBitZeroOnly) {
  options().layoutHotkeyScan = kF12;
  cb().currentLayout = 2;
  Press(kF12);
  Release(kF12);
  EXPECT_EQ(cb().currentLayout, 3);
  Press(kF12);
  Release(kF12);
  EXPECT_EQ(cb().currentLayout, 2);
}

TEST_F(Hotkeys, ToggleRunsScrollLockSync) {
  options().options = 1u << kOptScrollLockShowsLayout;
  options().layoutHotkeyScan = kF12;
  cb().scrollKeyDown = 1;
  Press(kF12);
  EXPECT_TRUE(sim::KeyEvents().empty());
  Release(kF12);
  EXPECT_EQ(cb().scrollKeyDown, 0);
  EXPECT_EQ(cb().leds, 0x0004);
  EXPECT_EQ(cb().changeFlags, 0x0003);
  EXPECT_EQ(sim::KeyEvents().size(), 2u);
}

TEST_F(Hotkeys, ScrollLockAsToggleIsNeverSwallowed) {
  options().options = 1u << kOptScrollLockShowsLayout;
  options().layoutHotkeyScan = kScrollLockScan;
  cb().scrollKeyDown = 1;
  EXPECT_EQ(Press(kScrollLockScan), 0);
  EXPECT_EQ(Release(kScrollLockScan), 0);
  EXPECT_EQ(cb().currentLayout, 1);
  EXPECT_EQ(cb().scrollKeyDown, 1);
  EXPECT_TRUE(sim::KeyEvents().empty());  // the system keeps its own light
}

// People often let go of Ctrl a moment before F12: the key-up still belongs
// to the hotkey whose key-down matched, and to that one alone.
TEST_F(Hotkeys, ModifierLetGoBeforeTheKeyStillActs) {
  options().layoutHotkeyScan = kF12;  // F12 alone toggles...
  options().disableHotkeyScan = kF12;
  options().disableHotkeyMods = 0x0001;  // ...and LCtrl+F12 disables
  Press(kScanLeftCtrl);
  EXPECT_EQ(Press(kF12), 1);
  Release(kScanLeftCtrl);
  EXPECT_EQ(Repeat(kF12), 1);  // Ctrl already up
  EXPECT_EQ(Release(kF12), 1);
  EXPECT_EQ(cb().enabled, 0);
  EXPECT_EQ(cb().currentLayout, 0);

  cb().enabled = 1;
  Press(kScanLeftShift);  // a key-down that matched nothing is not the hotkey's
  EXPECT_EQ(Press(kF12), 0);
  Release(kScanLeftShift);
  EXPECT_EQ(Release(kF12), 1);  // F12 alone now: the toggle, as before
  EXPECT_EQ(cb().currentLayout, 1);
  EXPECT_EQ(cb().enabled, 1);
  EXPECT_EQ(cb().hotkeysPressed, 0);

  // The release of Ctrl+F12 went to a console, where the hook looks at
  // nothing: the next press of F12 alone is the toggle's.
  Press(kScanLeftCtrl);
  EXPECT_EQ(Press(kF12), 1);
  Release(kScanLeftCtrl);
  EXPECT_EQ(Press(kF12), 1);
  EXPECT_EQ(Release(kF12), 1);
  EXPECT_EQ(cb().currentLayout, 0);
  EXPECT_EQ(cb().enabled, 1);
}

TEST_F(Hotkeys, SameKeyForToggleAndDisableDoesBoth) {
  options().layoutHotkeyScan = kF12;
  options().disableHotkeyScan = kF12;
  EXPECT_EQ(Press(kF12), 1);
  EXPECT_EQ(Release(kF12), 1);
  EXPECT_EQ(cb().currentLayout, 1);
  EXPECT_EQ(cb().enabled, 0);
}

TEST_F(Hotkeys, EnableHotkeyOnlyWhileDisabled) {
  options().enableHotkeyScan = kF12;
  options().layoutHotkeyScan = kF12;
  EXPECT_EQ(Press(kF12), 1);  // enabled: the toggle matches, not enable
  Release(kF12);
  EXPECT_EQ(cb().currentLayout, 1);

  cb().enabled = 0;
  EXPECT_EQ(Press(kF12), 1);
  EXPECT_EQ(cb().enabled, 0);
  EXPECT_EQ(Release(kF12), 1);
  EXPECT_EQ(cb().enabled, 1);
  EXPECT_EQ(cb().currentLayout, 1);  // the toggle was not tested while disabled
  EXPECT_EQ(Press(kF12), 1);
  Release(kF12);
  EXPECT_EQ(cb().currentLayout, 0);
}

TEST_F(Hotkeys, EnableAndDisableLeaveTheChordArmed) {
  options().disableHotkeyMods = 0x0004;  // left Alt chord
  EXPECT_EQ(Press(kScanLeftAlt), 1);
  EXPECT_EQ(Release(kScanLeftAlt), 0);
  EXPECT_EQ(cb().enabled, 0);
  EXPECT_EQ(cb().modsChord, 0x0004);
}

}  // namespace
}  // namespace velto::testing
