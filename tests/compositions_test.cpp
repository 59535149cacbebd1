// Dead keys as deep as Compose: a layout that composes through the
// composition table, typed key by key over the simulated system.
#include <cstring>
#include <map>
#include <string>

#include "hooks/procs.h"
#include "layoutkit/composition_builder.h"
#include "shared/charset.h"
#include "testing/system_fixture.h"
#include "testing/unicode_set.h"

namespace velto::testing {
namespace {

constexpr char32_t kAcute = kDeadKeyInputs, kCircumflex = kDeadKeyInputs + 1, kBelowDot = kDeadKeyInputs + 2;
// Bytes of the layout's set for its dead keys and the compose key.
constexpr std::uint8_t kAcuteByte = 0x81, kCircumflexByte = 0x82, kBelowDotByte = 0x83, kComposeByte = 0x84;
constexpr std::uint16_t kC = 0x2E, kJ = 0x24, kX = 0x2D, kZ = 0x2C, kB = 0x30, k1 = 0x02, k2 = 0x03, k3 = 0x04;

class Composing : public SystemTest {
 protected:
  layoutkit::KeyboardDescription Description() const override {
    layoutkit::KeyboardDescription d;
    MarkUnicode(d, 1,
                {{kAcuteByte, kAcute}, {kCircumflexByte, kCircumflex}, {kBelowDotByte, kBelowDot},
                 {kComposeByte, kComposeKeyInput}},
                kUnicodeComposingKind);
    for (const auto& [key, ch] : std::map<std::uint16_t, char>{
             {scan::kA, 'a'}, {scan::kO, 'o'}, {kC, 'c'}, {kJ, 'j'}, {kX, 'x'}, {kZ, 'z'}, {kB, 'b'}, {scan::kSpace, ' '}}) {
      d.Put(1, key, kSlotPlain, 0, static_cast<std::uint8_t>(ch));
    }
    d.Put(1, k1, kSlotPlain, 0, kAcuteByte, layoutkit::Entry::kDeadKey);
    d.Put(1, k2, kSlotPlain, 0, kCircumflexByte, layoutkit::Entry::kDeadKey);
    d.Put(1, k3, kSlotPlain, 0, kBelowDotByte, layoutkit::Entry::kDeadKey);
    d.Put(1, scan::kApps, kSlotPlain, 0, kComposeByte, layoutkit::Entry::kDeadKey);

    layoutkit::CompositionBuilder b;
    const std::uint32_t acute = b.NewState(), circumflex = b.NewState(), both = b.NewState();
    const std::uint32_t compose = b.NewState(), composeO = b.NewState();
    b.AddToState(0, kAcute, acute);
    b.AddToText(acute, U'a', U"á");
    b.AddToText(acute, U' ', U"'");
    b.AddToText(acute, U'j', U"j\u0301");
    b.AddToText(acute, kAcute, U"´");
    b.AddToState(0, kCircumflex, circumflex);
    b.AddToState(circumflex, kBelowDot, both);
    b.AddToText(both, U'a', U"ậ");
    b.AddToState(0, kComposeKeyInput, compose);
    b.AddToState(compose, U'o', composeO);
    b.AddToText(composeO, U'c', U"©");
    b.AddToText(compose, U'x', U"\U0001F600");
    std::string error;
    EXPECT_TRUE(b.Build(d.compositions, error)) << error;
    return d;
  }
  void SetUp() override {
    SystemTest::SetUp();
    AsController([] { SelectLayout(1); });
  }
  std::string TypeKeys(std::initializer_list<std::uint16_t> keys) {
    for (const std::uint16_t key : keys) Tap(key);
    return Typed();
  }
};

TEST_F(Composing, ChainsTextsAndSpaceFollowTheTable) {
  EXPECT_EQ(TypeKeys({k2, k3, scan::kA}), "ậ");              // ^ then the dot below, then a
  EXPECT_EQ(TypeKeys({k1, kJ}), "ậj\u0301");                // two characters
  EXPECT_EQ(TypeKeys({k1, k1}), "ậj\u0301´");               // the dead key twice
  EXPECT_EQ(TypeKeys({k1, scan::kSpace}), "ậj\u0301´'");    // Space as the table says
}

TEST_F(Composing, AKeyThatLeadsNowhereIsTypedAsItselfAndADeadKeyStartsAnew) {
  EXPECT_EQ(TypeKeys({k1, kB}), "b");
  EXPECT_EQ(TypeKeys({k2, k1, scan::kA}), "bá");  // ^ has no ´: the ´ starts anew
  EXPECT_EQ(TypeKeys({k2, k3, kZ, scan::kA}), "báza");
}

TEST_F(Composing, TheComposeKeyTakesItsSequencesEvenOnKeysTheSystemTypesAlike) {
  // c is what the system types on that key too: it must not slip past.
  EXPECT_EQ(TypeKeys({scan::kApps, scan::kO, kC}), "©");
  EXPECT_EQ(TypeKeys({scan::kApps, kX}), "©\U0001F600");
  EXPECT_EQ(TypeKeys({scan::kApps, scan::kO, kZ, kC}), "©\U0001F600zc");
  // The Menu key's release would open the window's context menu.
  for (const sim::Message& m : sim::DispatchedTo(app_)) {
    EXPECT_FALSE((m.message == sim::kWmKeyUp || m.message == sim::kWmKeyDown) && m.wParam == 0x5D);
  }
}

TEST_F(Composing, TheContextMenuOfTheComposeKeysReleaseIsDropped) {
  // The system may post it for the release all the same (Wine does).
  auto contextMenu = [this] {
    sim::Message m{app_, platform::kWmContextMenu, app_, -1};
    sim::RunAs(appThread_);
    GetMessageHookProc(0, 1, reinterpret_cast<platform::LParam>(&m));
    return m.message;
  };
  Tap(scan::kApps);
  EXPECT_EQ(contextMenu(), sim::kWmNull);
  // One that comes after another key (Shift+F10, say) is not the compose key's.
  Tap(scan::kApps);
  Tap(scan::kO);
  EXPECT_EQ(contextMenu(), platform::kWmContextMenu);
}

TEST_F(Composing, ADescriptionThatAsksForATableWithoutOneHasNoCompositions) {
  // Not the last description's table either.
  AsController([this] {
    layoutkit::KeyboardDescription d = Description();
    d.compositions.clear();
    d.LoadInto(TheRegion());
    SelectLayout(1);
  });
  EXPECT_EQ(TypeKeys({k2, k3, scan::kA, scan::kApps, scan::kO, kC}), "aoc");
}

TEST_F(Composing, ALayoutWithoutTheMarkKeepsTheDeadKeyTable) {
  // The same description with a plain Unicode set: the table is not read.
  AsController([this] {
    layoutkit::KeyboardDescription d = Description();
    d.layouts[1].reserved[offsetof(CharSetHeader, kind)] = static_cast<std::uint8_t>(CharSetKind::kUnicode);
    d.compositions.clear();
    d.AddDeadKey(kAcuteByte, 'a', 'b');
    d.LoadInto(TheRegion());
    SelectLayout(1);
  });
  EXPECT_EQ(TypeKeys({k1, scan::kA}), "b");
}

}  // namespace
}  // namespace velto::testing
