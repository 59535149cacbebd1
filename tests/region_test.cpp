#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "layoutkit/layout_builder.h"
#include "testing/region_fixture.h"

namespace velto::testing {
namespace {

using RegionLayout = RegionTest;

TEST_F(RegionLayout, ResetClearsTransientStateOnly) {
  cb().enabled = 1;
  cb().keyboardHook = 7;
  cb().clientCount = 2;
  cb().currentLayout = 1;
  cb().leds = 5;
  cb().modifiers = 0x41;
  cb().modsChord = 0x41;
  cb().keyQWrite = 9;
  cb().keyQEmpty = 0;
  cb().actQRead = 4;
  cb().actQEmpty = 0;
  cb().playbackWait = 1;
  cb().passThrough = 1;
  cb().playerBusy = 1;
  cb().lastKeyInfo = 0x41E;
  cb().tickCountdown = 3;
  region().options().options = 0x55;

  ResetState(region());

  EXPECT_EQ(cb().modifiers, 0);
  EXPECT_EQ(cb().modsChord, 0);
  EXPECT_EQ(cb().keyQWrite, 0);
  EXPECT_EQ(cb().actQRead, 0);
  EXPECT_EQ(cb().keyQEmpty, 1);
  EXPECT_EQ(cb().actQEmpty, 1);
  EXPECT_EQ(cb().tickCountdown, 25);
  EXPECT_EQ(cb().playbackWait, 0);
  EXPECT_EQ(cb().passThrough, 0);
  EXPECT_EQ(cb().playerBusy, 0);
  EXPECT_EQ(cb().lastKeyInfo, 0u);
  // Left alone:
  EXPECT_EQ(cb().enabled, 1);
  EXPECT_EQ(cb().keyboardHook, 7u);
  EXPECT_EQ(cb().clientCount, 2);
  EXPECT_EQ(cb().currentLayout, 1);
  EXPECT_EQ(cb().leds, 5);
  EXPECT_EQ(region().options().options, 0x55);
}

TEST_F(RegionLayout, LoadDescriptionCopiesEachBlockWholeAndSkipsNullOnes) {
  std::vector<std::uint8_t> opt(kOptionBlockSize, 0x11), keys(kKeyTableSize, 0x22),
      lay(kLayoutRecordsSize, 0x33), dead(kDeadKeyTableSize, 0x44), mac(kMacroTableSize, 0x55);
  LoadDescription(region(), opt.data(), keys.data(), lay.data(), dead.data(), mac.data());
  const auto bytes = [](const void* block) { return static_cast<const std::uint8_t*>(block); };
  const std::vector<std::uint8_t>* blocks[] = {&opt, &keys, &lay, &dead, &mac};
  const void* places[] = {&region().options(), &region().keyTable(), region().layoutRecords(),
                          &region().deadKeys(), &region().macros()};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(std::memcmp(places[i], blocks[i]->data(), blocks[i]->size()), 0) << "block " << i;
  }
  EXPECT_EQ(bytes(&region().options())[-1], 0);  // the queue area before them is untouched

  std::vector<std::uint8_t> other(kKeyTableSize, 0x66);
  LoadDescription(region(), nullptr, other.data(), nullptr, nullptr, nullptr);
  EXPECT_EQ(bytes(&region().options())[0], 0x11);
  EXPECT_EQ(bytes(&region().keyTable())[0], 0x66);
  EXPECT_EQ(bytes(&region().macros())[0], 0x55);
}

TEST_F(RegionLayout, CurrentLayoutRecordWithoutARecordReadsAsZero) {
  region().layoutRecords()[3].rightModEquivalence = 9;
  cb().currentLayout = 3;
  EXPECT_EQ(region().currentLayoutRecord().rightModEquivalence, 9);
  cb().currentLayout = 4;
  EXPECT_EQ(region().currentLayoutRecord().rightModEquivalence, 0);
  cb().currentLayout = 255;
  EXPECT_EQ(region().currentLayoutRecord().name[0], 0);
}

TEST_F(RegionLayout, AttachIsIdempotentAndDetachLeavesNothingMapped) {
  const std::uint8_t* before = region().base();
  EXPECT_TRUE(AttachRegion());
  EXPECT_EQ(region().base(), before);
  DetachRegion();
  EXPECT_FALSE(TheRegion().valid());
  EXPECT_TRUE(AttachRegion());
}

TEST_F(RegionLayout, AFailedMappingLeavesTheRegionInvalid) {
  DetachRegion();
  sim::FailSharedMemory(true);
  EXPECT_FALSE(AttachRegion());
  EXPECT_FALSE(TheRegion().valid());
  sim::FailSharedMemory(false);
  EXPECT_TRUE(AttachRegion());
}

TEST_F(RegionLayout, TheFirstProcessCreatesItZeroFilled) {
  for (std::size_t i = 0; i < kRegionSize; ++i) {
    if (i == offsetof(ControlBlock, keyQEmpty) || i == offsetof(ControlBlock, actQEmpty) ||
        i == offsetof(ControlBlock, tickCountdown)) {
      continue;  // set by the fixture's reset
    }
    ASSERT_EQ(region().base()[i], 0) << "byte " << i;
  }
}

// A second, real process maps the same named region and sees what the first
// one set; what it writes comes back to the first.
TEST_F(RegionLayout, ASecondProcessSeesTheSameRegion) {
  const layoutkit::KeyboardDescription demo = layoutkit::DemoDescription();
  demo.LoadInto(region());
  cb().currentLayout = 1;
  cb().enabled = 1;

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Forget the inherited mapping and open the region by name, as a newly
    // hooked process does.
    DetachRegion();
    if (!AttachRegion()) ::_exit(10);
    const Region& r = TheRegion();
    if (r.control().currentLayout != 1) ::_exit(11);
    if (r.control().enabled != 1) ::_exit(12);
    if (std::memcmp(r.layoutRecords()[1].name, "Dvorak", 6) != 0) ::_exit(13);
    if (std::memcmp(&r.keyTable(), &demo.keys, sizeof demo.keys) != 0) ::_exit(14);
    if (std::memcmp(&r.macros(), &demo.macros, sizeof demo.macros) != 0) ::_exit(15);
    r.control().currentLayout = 0;
    r.control().leds = 4;
    DetachRegion();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(cb().currentLayout, 0);
  EXPECT_EQ(cb().leds, 4);
}

}  // namespace
}  // namespace velto::testing
