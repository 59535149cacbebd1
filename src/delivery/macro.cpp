#include "delivery/macro.h"

#include <cstring>

#include "delivery/queues.h"
#include "intercept/modifiers.h"
#include "platform/platform.h"

namespace velto {

namespace {

// Where an expansion stands, packed into ControlBlock::macroCursor:
// bits 0..7 index, 8..9 mode, 10..18 next text position (1-based),
// 19 plain, 20..21 phase, 22..29 the modifiers released before the text.
enum class Phase : std::uint8_t { kIdle = 0, kRelease = 1, kText = 2, kClose = 3 };

struct Cursor {
  std::uint8_t index = 0;
  MacroMode mode = MacroMode::kTable;
  std::uint16_t pos = 1;
  bool plain = true;
  Phase phase = Phase::kIdle;
  std::uint8_t released = 0;
};

std::uint32_t Pack(const Cursor& c) {
  if (c.phase == Phase::kIdle) return 0;
  return c.index | static_cast<std::uint32_t>(c.mode) << 8 | static_cast<std::uint32_t>(c.pos) << 10 |
         static_cast<std::uint32_t>(c.plain) << 19 | static_cast<std::uint32_t>(c.phase) << 20 |
         static_cast<std::uint32_t>(c.released) << 22;
}

Cursor Unpack(std::uint32_t v) {
  Cursor c;
  c.index = v & 0xFF;
  const unsigned mode = (v >> 8) & 3;
  c.pos = (v >> 10) & 0x1FF;
  c.plain = ((v >> 19) & 1) != 0;
  c.phase = static_cast<Phase>((v >> 20) & 3);
  c.released = (v >> 22) & 0xFF;
  if (mode > 2 || c.pos == 0 || c.pos > 256) return Cursor{};  // not a cursor of ours
  c.mode = static_cast<MacroMode>(mode);
  return c;
}

struct MacroText {
  char chars[256];
  std::uint16_t length;
  bool literalFirst;  // the character of a one-character macro is never a brace

  bool ChordAt(std::uint16_t pos) const { return chars[pos - 1] == '{' && !(literalFirst && pos == 1); }
};

MacroText TextOf(const Region& region, const Cursor& c) {
  MacroText t{};
  if (c.mode == MacroMode::kTable) {
    const MacroEntry& entry = region.macros().entries[c.index];
    t.length = entry.length;
    std::memcpy(t.chars, entry.text, entry.length);
    t.literalFirst = false;
  } else {
    t.chars[0] = static_cast<char>(c.index);
    t.length = 1;
    if (c.mode == MacroMode::kCharThenLeft) {
      std::memcpy(t.chars + 1, "{LEFT}", 6);
      t.length = 7;
    }
    t.literalFirst = true;
  }
  return t;
}

// The eight modifier keys in the order they are released and pressed again.
struct HeldKey {
  std::uint8_t bit;
  std::uint16_t vk;
};
constexpr HeldKey kHeldKeys[] = {
    {kModLeftShift, 16},  {kModRightShift, 272}, {kModLeftAlt, 18},  {kModRightAlt, 274},
    {kModLeftCtrl, 17},   {kModRightCtrl, 273},  {kModLeftWin, 347}, {kModRightWin, 348},
};

constexpr std::size_t kModifierBlockWords = 2 + 2 * 8 + 2 + 2;  // markers, 8 keys, plain marker
constexpr std::size_t kCharWords = 2 + 3;
constexpr std::size_t kChordWords = 4 * kMaxChordKeys;

void PushModifierBlock(const Region& region, std::uint8_t mods, std::uint16_t op,
                       std::uint8_t start, std::uint8_t end) {
  PushKeyAction(region, kOpKeyUp, start);
  for (const HeldKey& key : kHeldKeys) {
    if (mods & (1u << key.bit)) PushKeyAction(region, op, key.vk);
  }
  PushKeyAction(region, kOpKeyUp, end);
}

// The vk of one chord key name, or 0 when no key stands for it.
std::uint16_t ChordKey(const char* name, const Region& region) {
  if (name[0] == '\0') return 0;
  const std::uint16_t vk = LookupKeyName(name);
  if (vk != 0) return vk;
  const std::int16_t scan = platform::VkKeyScanEx(name[0], region.control().focusLayout);
  if (scan == -1) return 0;
  return static_cast<std::uint16_t>(scan) & 0xFF;
}

// Parses the chord whose "{" stands at `pos`, pushes it, and returns the
// position after its "}" (or after the text when the "}" is missing).
std::uint16_t PushChord(const Region& region, const MacroText& text, std::uint16_t pos) {
  std::uint16_t keys[kMaxChordKeys];
  std::size_t count = 0;
  char name[kMaxKeyName + 1];
  std::size_t nameLength = 0;
  ++pos;  // past "{"
  for (;;) {
    const bool atEnd = pos > text.length;
    const char c = atEnd ? '}' : text.chars[pos - 1];
    if (!atEnd) ++pos;
    if (c == '+' || c == '}') {
      name[nameLength] = '\0';
      nameLength = 0;
      const std::uint16_t vk = ChordKey(name, region);
      if (vk != 0 && count < kMaxChordKeys) keys[count++] = vk;
      if (c == '}') break;
    } else if (nameLength < kMaxKeyName) {
      name[nameLength++] = c;
    }
  }
  for (std::size_t i = 0; i < count; ++i) PushKeyAction(region, kOpKeyDown, keys[i]);
  for (std::size_t i = count; i-- > 0;) PushKeyAction(region, kOpKeyUp, keys[i]);
  return pos;
}

// Runs the expansion from `c` as far as whole steps fit into the queue.
bool Continue(const Region& region, Cursor c) {
  const ControlBlock& cb = region.control();
  const MacroText text = TextOf(region, c);
  bool pushed = false;
  auto room = [&](std::size_t words) { return ActionQueueRoom(region) >= words; };

  if (c.phase == Phase::kRelease) {
    if (!room(kModifierBlockWords)) goto save;
    c.released = cb.modifiers & kHeldKeyMask;
    if (c.released != 0) {
      PushModifierBlock(region, c.released, kOpKeyUp, kMarkReleaseStart, kMarkReleaseEnd);
      c.plain = false;
      const bool chordFirst = text.length > 0 && text.ChordAt(1);
      if (!chordFirst) PushKeyAction(region, kOpKeyUp, kMarkPlainAfterRelease);
      pushed = true;
    }
    c.phase = Phase::kText;
  }

  while (c.phase == Phase::kText && c.pos <= text.length) {
    const char ch = text.chars[c.pos - 1];
    if (text.ChordAt(c.pos)) {
      if (!room(kChordWords)) goto save;
      c.plain = false;
      c.pos = PushChord(region, text, c.pos);
      pushed = true;
    } else if (ch == '\r' || ch == '\n') {
      ++c.pos;
    } else {
      if (!room(kCharWords)) goto save;
      if (!c.plain) {
        PushKeyAction(region, kOpKeyUp, kMarkPlainStart);
        c.plain = true;
      }
      PushPostedMessage(region, kOpPostChar, static_cast<std::uint8_t>(ch), 1u << 16);
      ++c.pos;
      pushed = true;
    }
  }
  c.phase = Phase::kClose;

  if (!room(kModifierBlockWords)) goto save;
  {
    // Press again only what was released and is still held.
    const std::uint8_t again = c.released & cb.modifiers;
    if (again != 0) {
      PushModifierBlock(region, again, kOpKeyDown, kMarkRepressStart, kMarkRepressEnd);
      c.plain = false;
      pushed = true;
    }
    if (!c.plain) {
      PushKeyAction(region, kOpKeyUp, kMarkPlainStart);
      pushed = true;
    }
  }
  c.phase = Phase::kIdle;

save:
  region.control().macroCursor = Pack(c);
  return pushed;
}

}  // namespace

int ModifierBitOfVkWord(std::uint16_t vkWord) {
  for (const HeldKey& key : kHeldKeys) {
    if (key.vk == vkWord) return key.bit;
  }
  return -1;
}

void ExpandMacro(const Region& region, std::uint8_t index, MacroMode mode) {
  Cursor c;
  c.index = index;
  c.mode = mode;
  c.phase = Phase::kRelease;
  Continue(region, c);
}

bool CursorPending(std::uint32_t cursor) { return Unpack(cursor).phase != Phase::kIdle; }

bool ResumeMacro(const Region& region) {
  const Cursor c = Unpack(region.control().macroCursor);
  if (c.phase == Phase::kIdle) {
    region.control().macroCursor = 0;
    return false;
  }
  return Continue(region, c);
}

}  // namespace velto
