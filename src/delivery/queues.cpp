#include "delivery/queues.h"

#include "shared/result.h"
#include "shared/charset.h"

namespace velto {

namespace {

void CheckKeyIndices(ControlBlock& cb) {
  if (cb.keyQWrite >= kKeySlots || cb.keyQRead >= kKeySlots) {
    cb.keyQWrite = 0;
    cb.keyQRead = 0;
    cb.keyQEmpty = 1;
  }
}

void CheckActionIndices(ControlBlock& cb) {
  if (cb.actQWrite >= kActionSlots || cb.actQRead >= kActionSlots) {
    cb.actQWrite = 0;
    cb.actQRead = 0;
    cb.actQEmpty = 1;
  }
}

bool ActionEntryFits(const ControlBlock& cb, std::size_t words) {
  if (cb.actQEmpty != 0) return true;
  if (cb.actQWrite == cb.actQRead) return false;  // full
  if (cb.actQWrite > cb.actQRead) return true;    // free space runs to the end and wraps
  return cb.actQWrite + words <= cb.actQRead;
}

template <std::size_t N>
bool PushActionEntry(const Region& region, const std::uint16_t (&words)[N]) {
  ControlBlock& cb = region.control();
  CheckActionIndices(cb);
  if (!ActionEntryFits(cb, N)) return false;
  // An entry starts below kActionSlots and may run into the spill words after it.
  std::uint16_t* slots = region.queues().actions + cb.actQWrite;
  for (std::size_t i = 0; i < N; ++i) slots[i] = words[i];
  const std::size_t write = cb.actQWrite + N;
  cb.actQWrite = static_cast<std::uint16_t>(write >= kActionSlots ? 0 : write);
  cb.actQEmpty = 0;
  return true;
}

}  // namespace

bool PushKeyResult(const Region& region, std::uint32_t result) {
  ControlBlock& cb = region.control();
  CheckKeyIndices(cb);
  if (cb.keyQEmpty == 0 && cb.keyQWrite == cb.keyQRead) return false;  // 127 unread
  region.queues().keys[cb.keyQWrite] = result;
  if (++cb.keyQWrite >= kKeySlots) cb.keyQWrite = 0;
  cb.keyQEmpty = 0;
  return true;
}

std::uint32_t PopKeyResult(const Region& region) {
  ControlBlock& cb = region.control();
  CheckKeyIndices(cb);
  if (cb.keyQEmpty != 0) return 0;
  const std::uint32_t result = region.queues().keys[cb.keyQRead];
  if (++cb.keyQRead >= kKeySlots) cb.keyQRead = 0;
  if (cb.keyQRead == cb.keyQWrite) cb.keyQEmpty = 1;
  return result;
}

std::uint32_t PeekKeyResult(const Region& region) {
  ControlBlock& cb = region.control();
  CheckKeyIndices(cb);
  return cb.keyQEmpty != 0 ? 0 : region.queues().keys[cb.keyQRead];
}

bool PushKeyAction(const Region& region, std::uint16_t op, std::uint16_t vk) {
  const std::uint16_t words[] = {op, vk};
  return PushActionEntry(region, words);
}

bool PushPostedMessage(const Region& region, std::uint16_t message, std::uint32_t value,
                       std::uint32_t result) {
  const std::uint16_t words[] = {message, static_cast<std::uint16_t>(value & 0xFF), ResultScan(result)};
  return PushActionEntry(region, words);
}

bool PushWideChar(const Region& region, char32_t c, std::uint16_t scan) {
  if (!IsCharacter(c)) return false;
  if (c < 0x10000) {
    const std::uint16_t words[] = {kOpPostWideChar, static_cast<std::uint16_t>(c), scan};
    return PushActionEntry(region, words);
  }
  const char32_t v = c - 0x10000;
  const std::uint16_t words[] = {static_cast<std::uint16_t>(kOpPostWidePair | v >> 16),
                                 static_cast<std::uint16_t>(v & 0xFFFF), scan};
  return PushActionEntry(region, words);
}

std::size_t ActionQueueRoom(const Region& region) {
  ControlBlock& cb = region.control();
  CheckActionIndices(cb);
  constexpr std::size_t kLongestEntry = 3;
  std::size_t free;
  if (cb.actQEmpty != 0) {
    free = kActionSlots;
  } else if (cb.actQWrite >= cb.actQRead) {
    free = kActionSlots - cb.actQWrite + cb.actQRead;
    if (cb.actQWrite == cb.actQRead) free = 0;
  } else {
    free = cb.actQRead - cb.actQWrite;
  }
  // The last entry before the read index may not fit whole.
  return free > kLongestEntry ? free - (kLongestEntry - 1) : 0;
}

ActionReader::ActionReader(const Region& region) : region_(region) {
  CheckActionIndices(region_.control());
}

bool ActionReader::empty() const { return region_.control().actQEmpty != 0; }

std::uint16_t ActionReader::Next() {
  ControlBlock& cb = region_.control();
  if (entryWords_++ == 0) entryStart_ = cb.actQRead;
  // An entry never runs past the two spill words after the last regular slot.
  if (cb.actQRead >= kActionStorageWords) {
    cb.actQRead = 0;
    return 0;
  }
  return region_.queues().actions[cb.actQRead++];
}

void ActionReader::Finish() {
  ControlBlock& cb = region_.control();
  const bool acrossWriter = cb.actQWrite > entryStart_ && cb.actQWrite < entryStart_ + entryWords_;
  entryWords_ = 0;
  if (acrossWriter) {
    cb.actQRead = cb.actQWrite;
    cb.actQEmpty = 1;
    return;
  }
  if (cb.actQRead >= kActionSlots) cb.actQRead = 0;
  if (cb.actQRead == cb.actQWrite) cb.actQEmpty = 1;
}

}  // namespace velto
