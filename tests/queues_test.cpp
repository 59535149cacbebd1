// The two queues against a plain model (a deque): random pushes and pops from
// every starting index, so that each wraps around many times and is driven
// full and empty.
#include "delivery/queues.h"

#include <deque>
#include <random>

#include "intercept/lookup.h"
#include "testing/region_fixture.h"

namespace velto::testing {
namespace {

using KeyQueue = RegionTest;

TEST_F(KeyQueue, BehavesAsAFifoOfAHundredTwentySevenFromEveryStart) {
  std::mt19937 random(1);
  std::size_t refused = 0, emptied = 0;
  for (std::uint16_t start = 0; start < kKeySlots; ++start) {
    ResetState(region());
    cb().keyQWrite = cb().keyQRead = start;
    std::deque<std::uint32_t> model;
    for (int step = 0; step < 600; ++step) {
      // Phases of mostly pushing and mostly popping, so that the queue runs full and empty.
      const bool push = random() % 100 < ((step / 200) % 2 == 0 ? 85u : 15u);
      if (push) {
        const std::uint32_t value = static_cast<std::uint32_t>(random());
        ASSERT_EQ(PushKeyResult(region(), value), model.size() < kKeySlots) << start << " " << step;
        if (model.size() < kKeySlots) {
          model.push_back(value);
        } else {
          ++refused;
        }
      } else {
        const std::uint32_t front = model.empty() ? 0 : model.front();
        ASSERT_EQ(PeekKeyResult(region()), front);
        ASSERT_EQ(PopKeyResult(region()), front) << start << " " << step;
        if (!model.empty()) {
          model.pop_front();
          if (model.empty()) ++emptied;
        }
      }
      ASSERT_EQ(cb().keyQEmpty, model.empty() ? 1 : 0);
      std::size_t unread = 0;
      const bool differs = AnyKeyResult(
          region(), [&](std::uint32_t r) { return unread >= model.size() || r != model[unread++]; });
      ASSERT_FALSE(differs) << start << " " << step;
      ASSERT_EQ(unread, model.size()) << start << " " << step;
    }
  }
  EXPECT_GT(refused, kKeySlots);
  EXPECT_GT(emptied, kKeySlots);
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
  using Entry = std::vector<std::uint16_t>;

  // One entry of a random kind: a key action (two words), a posted character
  // (three: only the value's low byte is kept) or a wide character (three).
  // Returns whether the queue took it, and the words it should hold.
  bool PushRandom(std::mt19937& random, Entry& words) {
    const std::uint16_t n = static_cast<std::uint16_t>(random());
    switch (random() % 3) {
      case 0:
        words = {kOpKeyDown, n};
        return PushKeyAction(region(), kOpKeyDown, n);
      case 1: {
        const std::uint32_t result = (n % 0x1FFu) << 16 | 'x';
        words = {kOpPostChar, static_cast<std::uint16_t>(n & 0xFF), ResultScan(result)};
        return PushPostedMessage(region(), kOpPostChar, n, result);
      }
      default:
        words = {kOpPostWideChar, static_cast<std::uint16_t>(0x400 + n % 0x100), 0x1E};
        return PushWideChar(region(), static_cast<char32_t>(words[1]), 0x1E);
    }
  }
  Entry Read(std::size_t words) {
    ActionReader reader(region());
    Entry out;
    for (std::size_t i = 0; i < words; ++i) out.push_back(reader.Next());
    reader.Finish();
    return out;
  }
  std::uint16_t* words() const { return region().queues().actions; }
};

// Entries come back whole and in order, however they straddle the end; a push
// is refused only when the queue is all but full, and never when
// ActionQueueRoom said the words would fit, for one entry or for a run of them.
// (A refused push can leave at most an entry's words unused: those of an
// entry that ran into the spill words past the end count for less.)
TEST_F(ActionQueue, BehavesAsAFifoOfEntriesFromEveryStart) {
  std::mt19937 random(2);
  std::size_t refused = 0, emptied = 0;
  for (std::uint16_t start = 0; start < kActionSlots; ++start) {
    ResetState(region());
    cb().actQWrite = cb().actQRead = start;
    std::deque<Entry> model;
    std::size_t modelWords = 0;
    for (int step = 0; step < 600; ++step) {
      // Phases of mostly pushing (with runs) and mostly popping.
      const bool pushing = (step / 200) % 2 == 0;
      const unsigned what = random() % 100;
      if (pushing && what < 5) {
        // A run of three-word entries as long as the room said.
        const std::size_t room = ActionQueueRoom(region());
        for (std::size_t used = 0; used + 3 <= room; used += 3) {
          ASSERT_TRUE(PushPostedMessage(region(), kOpPostChar, 'r', 0)) << start << " " << step;
          model.push_back({kOpPostChar, 'r', 0});
          modelWords += 3;
        }
      } else if (what < (pushing ? 85u : 15u)) {
        const std::size_t room = ActionQueueRoom(region());
        Entry entry;
        const bool taken = PushRandom(random, entry);
        if (room >= entry.size()) {
          ASSERT_TRUE(taken) << start << " " << step;
        }
        if (!taken) {
          ASSERT_GT(modelWords + entry.size(), kActionSlots) << start << " " << step;
          ++refused;
          continue;
        }
        model.push_back(entry);
        modelWords += entry.size();
      } else if (!model.empty()) {
        ASSERT_EQ(Read(model.front().size()), model.front()) << start << " " << step;
        modelWords -= model.front().size();
        model.pop_front();
        if (model.empty()) ++emptied;
      }
      ASSERT_EQ(cb().actQEmpty, model.empty() ? 1 : 0) << start << " " << step;
      // The room is never much less than what the entries leave free.
      ASSERT_GE(ActionQueueRoom(region()) + 3 + modelWords, kActionSlots) << start << " " << step;
      ASSERT_LT(std::size_t{cb().actQWrite}, kActionSlots);
      ASSERT_LT(std::size_t{cb().actQRead}, kActionSlots);
    }
  }
  EXPECT_GT(refused, kActionSlots);
  EXPECT_GT(emptied, kActionSlots);
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
