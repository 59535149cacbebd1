#include "delivery/queues.h"

#include "testing/region_fixture.h"

namespace velto::testing {
namespace {

using KeyQueue = RegionTest;

TEST_F(KeyQueue, FirstInFirstOutWithTheEmptyFlag) {
  EXPECT_EQ(cb().keyQEmpty, 1);
  EXPECT_TRUE(PushKeyResult(region(), 0x001E0061));
  EXPECT_TRUE(PushKeyResult(region(), 0x001F0362));
  EXPECT_EQ(cb().keyQEmpty, 0);
  EXPECT_EQ(PeekKeyResult(region()), 0x001E0061u);
  EXPECT_EQ(PopKeyResult(region()), 0x001E0061u);
  EXPECT_EQ(cb().keyQEmpty, 0);  // a pop that leaves them different does not touch it
  EXPECT_EQ(PopKeyResult(region()), 0x001F0362u);
  EXPECT_EQ(cb().keyQEmpty, 1);
  EXPECT_EQ(cb().keyQRead, 2);
  EXPECT_EQ(PeekKeyResult(region()), 0u);
}

TEST_F(KeyQueue, HundredTwentySevenFillItAndTheNextIsRefused) {
  cb().keyQWrite = cb().keyQRead = 100;
  for (std::uint32_t i = 0; i < 127; ++i) ASSERT_TRUE(PushKeyResult(region(), i + 1));
  EXPECT_EQ(cb().keyQWrite, 100);
  EXPECT_EQ(cb().keyQEmpty, 0);
  EXPECT_FALSE(PushKeyResult(region(), 999));
  for (std::uint32_t i = 0; i < 127; ++i) ASSERT_EQ(PopKeyResult(region()), i + 1);
  EXPECT_EQ(cb().keyQEmpty, 1);
  EXPECT_EQ(region().queues().keys[100], 1u);  // nothing was overwritten
}

TEST_F(KeyQueue, SlotsLieAtByte776OfTheQueueArea) {
  cb().keyQWrite = cb().keyQRead = 126;
  PushKeyResult(region(), 0xAABBCCDD);
  EXPECT_EQ(cb().keyQWrite, 0);
  const std::uint8_t* slot = region().base() + kQueueOffset + 776 + 126 * 4;
  EXPECT_EQ(slot[0], 0xDD);
  EXPECT_EQ(slot[3], 0xAA);
}

TEST_F(KeyQueue, CorruptIndicesNeverAddressOutsideTheQueue) {
  cb().keyQWrite = 5000;
  cb().keyQRead = 3;
  cb().keyQEmpty = 0;
  EXPECT_EQ(PopKeyResult(region()), 0u);
  EXPECT_EQ(cb().keyQEmpty, 1);
  cb().keyQWrite = 0xFFFF;
  EXPECT_TRUE(PushKeyResult(region(), 7));
  EXPECT_EQ(PopKeyResult(region()), 7u);
}

class ActionQueue : public RegionTest {
 protected:
  std::vector<std::uint16_t> ReadEntry(std::size_t words) {
    ActionReader reader(region());
    std::vector<std::uint16_t> out;
    for (std::size_t i = 0; i < words; ++i) out.push_back(reader.Next());
    reader.Finish();
    return out;
  }
  std::uint16_t* words() const { return region().queues().actions; }
};

TEST_F(ActionQueue, EntriesWrapOnlyAtTheirEnd) {
  cb().actQWrite = cb().actQRead = 382;
  ASSERT_TRUE(PushPostedMessage(region(), kOpPostChar, 0x1261, 0x001E0000));
  EXPECT_EQ(words()[382], 258);
  EXPECT_EQ(words()[383], 0x61);  // only the low 8 bits of the value
  EXPECT_EQ(words()[384], 0x1E);
  EXPECT_EQ(cb().actQWrite, 0);
  EXPECT_EQ(cb().actQEmpty, 0);
  EXPECT_EQ(ReadEntry(3), (std::vector<std::uint16_t>{258, 0x61, 0x1E}));
  EXPECT_EQ(cb().actQRead, 0);
  EXPECT_EQ(cb().actQEmpty, 1);
}

TEST_F(ActionQueue, TwoWordEntriesNearTheEnd) {
  cb().actQWrite = cb().actQRead = 381;
  PushKeyAction(region(), kOpKeyDown, 0x125);
  EXPECT_EQ(cb().actQWrite, 0);
  EXPECT_EQ(words()[382], 0x125);
  ResetState(region());
  cb().actQWrite = cb().actQRead = 380;
  PushKeyAction(region(), kOpKeyUp, 0xC5);
  EXPECT_EQ(cb().actQWrite, 382);
}

TEST_F(ActionQueue, WordsLieAtTheStartOfTheQueueArea) {
  PushKeyAction(region(), kOpKeyUp, 0x1234);
  const std::uint8_t* b = region().base() + kQueueOffset;
  EXPECT_EQ(b[0], 8);
  EXPECT_EQ(b[2], 0x34);
  EXPECT_EQ(b[3], 0x12);
}

TEST_F(ActionQueue, APushNeverOverwritesUnplayedWords) {
  std::size_t pushed = 0;
  while (PushKeyAction(region(), kOpKeyDown, static_cast<std::uint16_t>(pushed))) ++pushed;
  EXPECT_GE(pushed * 2, 380u);
  EXPECT_LE(pushed * 2, 385u);
  // Every entry can still be read back, in order.
  for (std::size_t i = 0; i < pushed; ++i) {
    ASSERT_EQ(ReadEntry(2), (std::vector<std::uint16_t>{kOpKeyDown, static_cast<std::uint16_t>(i)})) << i;
  }
  EXPECT_EQ(cb().actQEmpty, 1);
}

TEST_F(ActionQueue, FullnessAfterTheWriterWrapped) {
  cb().actQWrite = cb().actQRead = 300;
  for (int i = 0; i < 50; ++i) ASSERT_TRUE(PushKeyAction(region(), kOpKeyUp, 1));
  EXPECT_EQ(cb().actQWrite, 16);  // 42 entries up to 382 (the last spilled into 383), 8 after the wrap
  ReadEntry(2);                   // read is now 302
  std::size_t pushed = 0;
  while (PushPostedMessage(region(), kOpPostChar, 'x', 0)) ++pushed;
  EXPECT_EQ(cb().actQWrite, 301);  // 16 + 3 * 95: one more would reach the read index
  EXPECT_LE(cb().actQWrite, cb().actQRead);
  EXPECT_LE(ActionQueueRoom(region()), 2u);
}

TEST_F(ActionQueue, RoomIsWhatCanCertainlyBePushed) {
  EXPECT_EQ(ActionQueueRoom(region()), 381u);
  for (int i = 0; i < 10; ++i) PushPostedMessage(region(), kOpPostChar, 'x', 0);
  const std::size_t room = ActionQueueRoom(region());
  EXPECT_EQ(room, 381u - 30);
  std::size_t words = 0;
  while (words + 3 <= room) {
    ASSERT_TRUE(PushPostedMessage(region(), kOpPostChar, 'y', 0));
    words += 3;
  }
}

TEST_F(ActionQueue, AReaderNeverLapsTheWriterOverGarbledEntries) {
  for (std::size_t i = 0; i < kActionStorageWords; ++i) words()[i] = kOpPostChar;
  cb().actQRead = 4;
  cb().actQWrite = 5;
  cb().actQEmpty = 0;
  ActionReader reader(region());
  int entries = 0;
  while (!reader.empty() && entries < 1000) {
    for (int i = 0; i < 3; ++i) reader.Next();
    reader.Finish();
    ++entries;
  }
  EXPECT_EQ(entries, 1);
  EXPECT_EQ(cb().actQRead, 5);
  EXPECT_EQ(cb().actQEmpty, 1);
}

TEST_F(ActionQueue, CorruptIndicesAreTakenAsAnEmptyQueue) {
  cb().actQWrite = 383;
  cb().actQRead = 10;
  cb().actQEmpty = 0;
  ActionReader reader(region());
  EXPECT_TRUE(reader.empty());
  cb().actQRead = 60000;
  cb().actQEmpty = 0;
  EXPECT_TRUE(PushKeyAction(region(), kOpKeyUp, 0xC5));
  EXPECT_EQ(cb().actQWrite, 2);
}

}  // namespace
}  // namespace velto::testing
