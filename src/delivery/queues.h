// The two circular queues of the shared region.
//
// KeyQueue: 127 TranslationResults from the keyboard hook to the
// message-retrieval hook. ActionQueue: entries of 16-bit words (an operation
// and its operands) for the action player. Both wrap only at entry
// boundaries, and their `...Empty` flags, not an index comparison, say whether
// anything is left to read.
//
// A push never overwrites an unread entry: a push into a full queue is refused
// and returns false. Indices found out of range (the region is writable by
// every process) are taken as an emptied queue before any slot is addressed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "shared/region.h"

namespace velto {

// ActionQueue operation words.
constexpr std::uint16_t kOpKeyUp = 8;
constexpr std::uint16_t kOpKeyDown = 9;
constexpr std::uint16_t kOpPostKeyDown = 256;  // WM_KEYDOWN
constexpr std::uint16_t kOpPostKeyUp = 257;    // WM_KEYUP
constexpr std::uint16_t kOpPostChar = 258;     // WM_CHAR
// QueueArea::postedPress holds the scan code of a posted key press with this bit.
constexpr std::uint16_t kPostedPressMark = 0x8000;
// A character of a layout's character set, posted with PostMessageW:
// (kOpPostWideChar, UTF-16 unit, scan) for one up to U+FFFF;
// (kOpPostWidePair | v >> 16, v & 0xFFFF, scan) with v = c - 0x10000 for one
// beyond, which the player posts as its two halves at once.
constexpr std::uint16_t kOpPostWideChar = 0x1102;
constexpr std::uint16_t kOpPostWidePair = 0x2000;  // up to 0x200F
constexpr bool IsWidePairOp(std::uint16_t op) { return (op & 0xFFF0) == kOpPostWidePair; }

bool PushKeyResult(const Region& region, std::uint32_t result);
// Callers test keyQEmpty first; an empty queue pops 0.
std::uint32_t PopKeyResult(const Region& region);
// The result at the read index, without popping it (0 when empty).
std::uint32_t PeekKeyResult(const Region& region);

// Whether any unread KeyQueue result satisfies `pred`.
template <typename Pred>
bool AnyKeyResult(const Region& region, Pred pred) {
  const ControlBlock& cb = region.control();
  if (cb.keyQEmpty != 0 || cb.keyQRead >= kKeySlots || cb.keyQWrite >= kKeySlots) return false;
  std::uint16_t at = cb.keyQRead;
  do {
    if (pred(region.queues().keys[at])) return true;
    if (++at >= kKeySlots) at = 0;
  } while (at != cb.keyQWrite);
  return false;
}

bool PushKeyAction(const Region& region, std::uint16_t op, std::uint16_t vk);
bool PushPostedMessage(const Region& region, std::uint16_t message, std::uint32_t value,
                       std::uint32_t result);
// A Unicode character as one entry (nothing is pushed for a code point that
// is no character); `scan` as in the posted message's lParam.
bool PushWideChar(const Region& region, char32_t c, std::uint16_t scan);

// Words that can certainly still be pushed, whatever their split into entries.
std::size_t ActionQueueRoom(const Region& region);

// Reads one ActionQueue entry word by word, as the player does: each word at
// the read index followed by an increment; Finish makes the wrap test once
// for the whole entry and sets actQEmpty when the reader has caught up.
// An entry that runs across the write index can only come from garbled
// words: the reader then drops what is left, so that it never laps the writer.
class ActionReader {
 public:
  explicit ActionReader(const Region& region);
  bool empty() const;
  std::uint16_t Next();
  void Finish();

 private:
  const Region& region_;
  std::uint16_t entryStart_ = 0;
  std::uint16_t entryWords_ = 0;
};

}  // namespace velto
