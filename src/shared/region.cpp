#include "shared/region.h"

#include <cstring>

#include "shared/charset.h"

namespace velto {

Region::Region(void* base, void* compositions)
    : base_(static_cast<std::uint8_t*>(base)),
      control_(reinterpret_cast<ControlBlock*>(base_ + kControlOffset)),
      queues_(reinterpret_cast<QueueArea*>(base_ + kQueueOffset)),
      options_(reinterpret_cast<OptionBlock*>(base_ + kOptionOffset)),
      keyTable_(reinterpret_cast<KeyTable*>(base_ + kKeyTableOffset)),
      layouts_(reinterpret_cast<LayoutRecord*>(base_ + kLayoutOffset)),
      deadKeys_(reinterpret_cast<DeadKeyTable*>(base_ + kDeadKeyOffset)),
      macros_(reinterpret_cast<MacroTable*>(base_ + kMacroOffset)),
      compositions_(static_cast<std::uint8_t*>(compositions)) {}

void LoadDescription(const Region& region, const void* options, const void* keyTable,
                     const void* layouts, const void* deadKeys, const void* macros) {
  const struct {
    const void* from;
    std::size_t offset;
    std::size_t size;
  } blocks[] = {
      {options, kOptionOffset, kOptionBlockSize},
      {keyTable, kKeyTableOffset, kKeyTableSize},
      {layouts, kLayoutOffset, kLayoutRecordsSize},
      {deadKeys, kDeadKeyOffset, kDeadKeyTableSize},
      {macros, kMacroOffset, kMacroTableSize},
  };
  for (const auto& block : blocks) {
    if (block.from != nullptr) std::memcpy(region.base() + block.offset, block.from, block.size);
  }
  // Only a description that asks for the composition table has one after
  // its macros: any other buffer ends with the MacroTable.
  if (layouts == nullptr || macros == nullptr || region.compositionBytes() == nullptr) return;
  if (!AnyComposesThroughTable(region.layoutRecords())) return;
  const auto* table = static_cast<const std::uint8_t*>(macros) + kMacroTableSize;
  const std::size_t length = CompositionsLength(table);
  if (length != 0) {
    std::memcpy(region.compositionBytes(), table, length);
  } else {
    // Not a table: none rather than the last description's.
    std::memset(region.compositionBytes(), 0, kCompositionsHeaderSize);
  }
}

void ResetState(const Region& region) {
  ControlBlock& cb = region.control();
  cb.modifiers = 0;
  cb.modsChord = 0;
  cb.modsAtKeyDown = 0;
  cb.modsAtModifierDown = 0;
  cb.capsLayoutShift = 0;
  cb.pendingDeadKey = 0;
  cb.keyQWrite = 0;
  cb.keyQRead = 0;
  cb.actQWrite = 0;
  cb.actQRead = 0;
  cb.capsUsedWhileShifted = 0;
  cb.numpadTranslated = 0;
  cb.lastKeyInfo = 0;
  cb.playbackWait = 0;
  cb.passThrough = 0;
  cb.passThroughKeys = 0;
  cb.sentDown = 0;
  cb.hotkeysPressed = 0;
  cb.sentUp = 0;
  cb.playerBusy = 0;
  cb.keyQEmpty = 1;
  cb.actQEmpty = 1;
  cb.tickCountdown = kSweepInterval;
  cb.macroCursor = 0;  // an unfinished macro belongs to the emptied queue
  cb.countHeld = 0;    // and so does its release of the held modifiers
  cb.waitSeenAtSweep = 0;
  region.queues().ownKeys = 0;
  region.queues().postedPress = 0;
  region.queues().composeState = 0;
  region.queues().menuKeyTaken = 0;
}

}  // namespace velto
