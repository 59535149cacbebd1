// The shared region: one named, pagefile-backed mapping that every process
// with the library loaded maps. All translation state lives here; a process
// keeps only the pointers into it.
//
// Any process can write the region, so every index or count read from it is
// checked before it addresses memory.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "shared/compositions.h"
#include "shared/tables.h"

static_assert(std::endian::native == std::endian::little,
              "the region's multi-byte fields are little-endian");

namespace velto {

// A name without "Global\": the region lives in the sign-in session's own
// namespace, so that a second user signed in on the same machine shares no
// state, and no keys, with the first.
constexpr const char* kRegionName = "quorvexveltodll";
constexpr const char* kNotifyMessageName = "quorvexmessage";
constexpr std::size_t kRegionSize = 83400;
constexpr std::size_t kMaxClients = 32;
constexpr std::size_t kClassNameSize = 32;
constexpr std::uint16_t kSweepInterval = 25;
constexpr std::size_t kHeldCounters = 9;
constexpr std::size_t kHeldCountsClearSize = 12;

// changeFlags bits, posted as wParam of the notification.
constexpr std::uint8_t kChangeLayoutOrEnable = 0;
constexpr std::uint8_t kChangeLeds = 1;
constexpr std::uint32_t kKeyNoticeWParam = 4;
// The key notice's lParam (lastKeyInfo): the scan code, and this bit for a key-up.
constexpr std::uint8_t kKeyNoticeKeyUpBit = 10;

// leds bits.
enum LedBit : std::uint8_t { kLedNumLock = 0, kLedCapsLock = 1, kLedScrollLock = 2 };

struct ControlBlock {
  std::int32_t enabled;
  std::uint32_t getMsgHook;
  std::uint32_t keyboardHook;
  std::uint32_t cbtHook;
  std::uint32_t timerId;
  std::uint16_t clientCount;
  std::uint8_t currentLayout;
  std::uint8_t passThroughKeys;  // which of the library's own keys `passThrough` lets by (kPass... bits)
  std::uint32_t notifyMsg;
  std::uint16_t changeFlags;
  std::uint16_t changeFlagsHigh;  // always zero
  std::uint32_t lastKeyInfo;
  std::uint32_t clients[kMaxClients];
  std::uint32_t currentKR;
  char foregroundClass[kClassNameSize];
  std::uint32_t focusWnd;
  std::uint32_t focusLayout;
  std::uint16_t keyQWrite;
  std::uint16_t keyQRead;
  std::int32_t keyQEmpty;
  std::uint16_t actQWrite;
  std::uint16_t actQRead;
  std::int32_t actQEmpty;
  std::uint16_t modifiers;
  std::uint16_t modsAtKeyDown;
  std::uint16_t modsChord;
  std::uint16_t modsAtModifierDown;
  std::uint16_t leds;
  std::uint16_t ledsReported;
  std::uint16_t pendingDeadKey;
  std::uint16_t swallowedScan;
  std::uint8_t heldCounts[kHeldCounters];
  // `modifiers` bits 0..7 of the keys pressed since the last sweep: their
  // release may still be on its way to the keyboard hook, so the next sweep
  // judges them. Cleared together with heldCounts.
  std::uint8_t pressedSinceSweep;
  // `modifiers` bits 6 and 7 of the Shift keys let go since
  // `modsAtModifierDown` was taken: the numeric pad puts back only the others.
  std::uint8_t shiftsLetGo;
  // How many sweeps in a row found playback waiting with nothing left to
  // play, or a posted key press not yet taken: after a few, the marker or
  // the application is taken to be lost, and the wait ends.
  std::uint8_t waitSeenAtSweep;
  std::int32_t countHeld;
  std::int32_t playbackWait;
  std::int32_t passThrough;
  std::int32_t playerBusy;
  std::uint16_t tickCountdown;
  // `modifiers` bits 0..7 of the keys the player pressed again (sentDown) or
  // let go (sentUp) around a macro that have not yet come back through the
  // keyboard hook: while `passThrough` is set, only these are the library's.
  std::uint8_t sentDown;
  std::uint8_t sentUp;
  std::int32_t keyIsModifier;
  std::int32_t capsLayoutShift;
  std::int32_t deadKeyPending;
  std::int32_t capsUsedWhileShifted;
  std::int32_t numpadTranslated;
  std::int32_t capsKeyDown;
  std::int32_t scrollKeyDown;
  std::int32_t numKeyDown;
  std::uint32_t macroCursor;  // where an unfinished macro expansion resumes
  std::int32_t timerAlive;
  // How far the hooks got, counted and never read, a trail for a debugger:
  // keys (with translation on) looked up, come to the queueing of their
  // translation, and decided; messages (with translation on) before and after
  // their thread delivered what was pending. Neighbours that differ point at
  // the step that did not return.
  std::uint16_t keysLookedUp;
  std::uint16_t keysToQueue;
  std::uint16_t keysDecided;
  std::uint16_t messagesToDeliver;
  std::uint16_t messagesDelivered;
  std::uint16_t cbtCalls;
  std::uint16_t sweeps;
  // Hotkeys whose key-down matched, by kHotkey* bit: their key-up acts even
  // when the modifiers were let go first.
  std::uint16_t hotkeysPressed;
};

static_assert(sizeof(ControlBlock) == 328);
static_assert(offsetof(ControlBlock, enabled) == 0);
static_assert(offsetof(ControlBlock, getMsgHook) == 4);
static_assert(offsetof(ControlBlock, keyboardHook) == 8);
static_assert(offsetof(ControlBlock, cbtHook) == 12);
static_assert(offsetof(ControlBlock, timerId) == 16);
static_assert(offsetof(ControlBlock, clientCount) == 20);
static_assert(offsetof(ControlBlock, currentLayout) == 22);
static_assert(offsetof(ControlBlock, notifyMsg) == 24);
static_assert(offsetof(ControlBlock, changeFlags) == 28);
static_assert(offsetof(ControlBlock, lastKeyInfo) == 32);
static_assert(offsetof(ControlBlock, clients) == 36);
static_assert(offsetof(ControlBlock, currentKR) == 164);
static_assert(offsetof(ControlBlock, foregroundClass) == 168);
static_assert(offsetof(ControlBlock, focusWnd) == 200);
static_assert(offsetof(ControlBlock, focusLayout) == 204);
static_assert(offsetof(ControlBlock, keyQWrite) == 208);
static_assert(offsetof(ControlBlock, keyQRead) == 210);
static_assert(offsetof(ControlBlock, keyQEmpty) == 212);
static_assert(offsetof(ControlBlock, actQWrite) == 216);
static_assert(offsetof(ControlBlock, actQRead) == 218);
static_assert(offsetof(ControlBlock, actQEmpty) == 220);
static_assert(offsetof(ControlBlock, modifiers) == 224);
static_assert(offsetof(ControlBlock, modsAtKeyDown) == 226);
static_assert(offsetof(ControlBlock, modsChord) == 228);
static_assert(offsetof(ControlBlock, modsAtModifierDown) == 230);
static_assert(offsetof(ControlBlock, leds) == 232);
static_assert(offsetof(ControlBlock, ledsReported) == 234);
static_assert(offsetof(ControlBlock, pendingDeadKey) == 236);
static_assert(offsetof(ControlBlock, swallowedScan) == 238);
static_assert(offsetof(ControlBlock, heldCounts) == 240);
static_assert(offsetof(ControlBlock, pressedSinceSweep) == 249);
static_assert(offsetof(ControlBlock, shiftsLetGo) == 250);
static_assert(offsetof(ControlBlock, waitSeenAtSweep) == 251);
static_assert(offsetof(ControlBlock, countHeld) == 252);
static_assert(offsetof(ControlBlock, playbackWait) == 256);
static_assert(offsetof(ControlBlock, passThrough) == 260);
static_assert(offsetof(ControlBlock, playerBusy) == 264);
static_assert(offsetof(ControlBlock, tickCountdown) == 268);
static_assert(offsetof(ControlBlock, keyIsModifier) == 272);
static_assert(offsetof(ControlBlock, capsLayoutShift) == 276);
static_assert(offsetof(ControlBlock, deadKeyPending) == 280);
static_assert(offsetof(ControlBlock, capsUsedWhileShifted) == 284);
static_assert(offsetof(ControlBlock, numpadTranslated) == 288);
static_assert(offsetof(ControlBlock, capsKeyDown) == 292);
static_assert(offsetof(ControlBlock, scrollKeyDown) == 296);
static_assert(offsetof(ControlBlock, numKeyDown) == 300);
static_assert(offsetof(ControlBlock, macroCursor) == 304);
static_assert(offsetof(ControlBlock, passThroughKeys) == 23);
static_assert(offsetof(ControlBlock, sentDown) == 270);
static_assert(offsetof(ControlBlock, sentUp) == 271);
static_assert(offsetof(ControlBlock, timerAlive) == 308);
static_assert(offsetof(ControlBlock, keysLookedUp) == 312);
static_assert(offsetof(ControlBlock, messagesDelivered) == 320);
static_assert(offsetof(ControlBlock, cbtCalls) == 322);
static_assert(offsetof(ControlBlock, sweeps) == 324);
static_assert(offsetof(ControlBlock, hotkeysPressed) == 326);

constexpr std::uint16_t kMenuKeyPressTaken = 1;
constexpr std::uint16_t kMenuKeyReleaseTaken = 2;

// The queue area: ActionQueue words, KeyQueue slots, key-state scratch.
constexpr std::size_t kActionSlots = 383;       // entries start at 0..382
constexpr std::size_t kActionStorageWords = 385;  // an entry may run into 383, 384
constexpr std::size_t kKeySlots = 127;

struct QueueArea {
  std::uint16_t actions[kActionStorageWords];
  // Set while the keys of one run of the player come back through the
  // keyboard hook: from the marker that starts it (0xC1, 0xC3 or 0xC6) to
  // the 0xC5 that ends it. The player sends them one right after the other,
  // so every other key in between is its own; the user's come before or after.
  std::uint16_t ownKeys;
  // A key press the player posted (its scan code with bit 15 set) whose
  // WM_KEYDOWN the application has not taken yet: the character
  // TranslateMessage makes of it joins the posted messages only then, so
  // nothing more is posted before it. 0 when there is none.
  std::uint16_t postedPress;
  // kMenuKeyPressTaken from a press of the Menu key that the layout
  // translated (the compose key, say) to its release, which is swallowed
  // too: the system would open the window's context menu on it. Then
  // kMenuKeyReleaseTaken until the next key: a context menu the system
  // posts for that release all the same is dropped.
  std::uint16_t menuKeyTaken;
  std::uint32_t keys[kKeySlots];
  // Where a composition through the composition table stands (its state;
  // 0 when none is under way), as delivery has walked it.
  std::uint32_t composeState;
  std::uint8_t keyState[256];
};

static_assert(sizeof(QueueArea) == 1544);
static_assert(offsetof(QueueArea, ownKeys) == 770);
static_assert(offsetof(QueueArea, postedPress) == 772);
static_assert(offsetof(QueueArea, menuKeyTaken) == 774);
static_assert(offsetof(QueueArea, keys) == 776);
static_assert(offsetof(QueueArea, composeState) == 1284);
static_assert(offsetof(QueueArea, keyState) == 1288);

// Block offsets within the region.
constexpr std::size_t kControlOffset = 0;
constexpr std::size_t kQueueOffset = 328;
constexpr std::size_t kOptionOffset = 1872;
constexpr std::size_t kKeyTableOffset = 2400;
constexpr std::size_t kLayoutOffset = 16736;
constexpr std::size_t kDeadKeyOffset = 17096;
constexpr std::size_t kMacroOffset = 17864;

static_assert(kQueueOffset == kControlOffset + sizeof(ControlBlock));
static_assert(kOptionOffset == kQueueOffset + sizeof(QueueArea));
static_assert(kKeyTableOffset == kOptionOffset + kOptionBlockSize);
static_assert(kLayoutOffset == kKeyTableOffset + kKeyTableSize);
static_assert(kDeadKeyOffset == kLayoutOffset + kLayoutRecordsSize);
static_assert(kMacroOffset == kDeadKeyOffset + kDeadKeyTableSize);
static_assert(kRegionSize == kMacroOffset + kMacroTableSize);

// Typed views of one mapped region. A default-constructed Region is not
// attached: valid() is false and the engine does nothing with it.
class Region {
 public:
  Region() = default;
  // `compositions`: this process's mapping of the composition table
  // (kCompositionsSize bytes), or null where there is none.
  explicit Region(void* base, void* compositions = nullptr);

  bool valid() const { return base_ != nullptr; }
  std::uint8_t* base() const { return base_; }

  ControlBlock& control() const { return *control_; }
  QueueArea& queues() const { return *queues_; }
  OptionBlock& options() const { return *options_; }
  KeyTable& keyTable() const { return *keyTable_; }
  LayoutRecord* layoutRecords() const { return layouts_; }
  DeadKeyTable& deadKeys() const { return *deadKeys_; }
  MacroTable& macros() const { return *macros_; }
  std::uint8_t* compositionBytes() const { return compositions_; }
  // The composition table as it now stands; not valid when there is none.
  Compositions compositions() const {
    return Compositions(compositions_, compositions_ != nullptr ? kCompositionsSize : 0);
  }

  // The LayoutRecord of `currentLayout`; a layout number without a record
  // (4 or more) reads as an all-zero record.
  const LayoutRecord& currentLayoutRecord() const {
    static constexpr LayoutRecord kNone{};
    const std::uint8_t layout = control_->currentLayout;
    return layout < kLayouts ? layouts_[layout] : kNone;
  }

 private:
  std::uint8_t* base_ = nullptr;
  ControlBlock* control_ = nullptr;
  QueueArea* queues_ = nullptr;
  OptionBlock* options_ = nullptr;
  KeyTable* keyTable_ = nullptr;
  LayoutRecord* layouts_ = nullptr;
  DeadKeyTable* deadKeys_ = nullptr;
  MacroTable* macros_ = nullptr;
  std::uint8_t* compositions_ = nullptr;
};

// Copies the five description blocks into place. A null block is left as it
// was. When a layout record of the new blocks composes through the
// composition table, the table is read from right after the MacroTable, in
// the same buffer, and copied into its mapping.
void LoadDescription(const Region& region, const void* options, const void* keyTable,
                     const void* layouts, const void* deadKeys, const void* macros);

// Clears the transient keyboard and queue state; leaves `enabled`, hooks,
// clients, `currentLayout`, `leds` and the tables alone.
void ResetState(const Region& region);

// This process's mapping of the named region.
// Attach maps it (creating it zero-filled if no process has it yet); Detach
// unmaps it. Until Attach succeeds, TheRegion() is not valid.
bool AttachRegion();
void DetachRegion();
const Region& TheRegion();

// What holds for the keyboard focus of the thread of this process that last
// took a key: the focus window, the thread's keyboard layout, the foreground
// window and its class. The system is asked once, and again only when it may
// have changed: a key comes in another thread, or the focus hook sees a
// window of this process activated, focused or destroyed, or the message
// hook a request to change the keyboard layout (ForgetFocusFacts). A window
// keeps its class for its whole life, and its handle names no other window
// while it lives. Forgotten whenever the region is attached or detached.
struct FocusFacts {
  std::uint32_t thread = 0;  // whose focus it is; 0 when nothing is known
  std::uint32_t focus = 0;
  std::uint32_t layout = 0;
  std::uint32_t foreground = 0;
  bool named = false;    // name is the foreground window's class
  bool console = false;  // and it is the console's
  char name[kClassNameSize] = {};
};
FocusFacts& FocusFactsOfThisProcess();
inline void ForgetFocusFacts() { FocusFactsOfThisProcess().thread = 0; }

}  // namespace velto
