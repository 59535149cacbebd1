#include "delivery/macro.h"

#include <string_view>

#include "delivery/own_keys.h"
#include "delivery/queues.h"
#include "platform/platform.h"
#include "shared/charset.h"
#include "shared/chords.h"
#include "shared/keys.h"

namespace velto {

namespace {

// Where an expansion stands, packed into ControlBlock::macroCursor:
// bits 0..7 index, 8..9 mode, 10..18 next text position (1-based),
// 19 plain, 20..21 phase, 22..29 the modifiers released before the text,
// 30..31 the layout whose character set the text is read in (a layout
// without one when the text's bytes are ANSI).
enum class Phase : std::uint8_t { kIdle = 0, kRelease = 1, kText = 2, kClose = 3 };

struct Cursor {
  std::uint8_t index = 0;
  MacroMode mode = MacroMode::kTable;
  std::uint16_t pos = 1;
  bool plain = true;
  Phase phase = Phase::kIdle;
  std::uint8_t released = 0;
  std::uint8_t layout = 0;
};

std::uint32_t Pack(const Cursor& c) {
  if (c.phase == Phase::kIdle) return 0;
  return c.index | static_cast<std::uint32_t>(c.mode) << 8 | static_cast<std::uint32_t>(c.pos) << 10 |
         static_cast<std::uint32_t>(c.plain) << 19 | static_cast<std::uint32_t>(c.phase) << 20 |
         static_cast<std::uint32_t>(c.released) << 22 | static_cast<std::uint32_t>(c.layout) << 30;
}

Cursor Unpack(std::uint32_t v) {
  Cursor c;
  c.index = v & 0xFF;
  const unsigned mode = (v >> 8) & 3;
  c.pos = (v >> 10) & 0x1FF;
  c.plain = ((v >> 19) & 1) != 0;
  c.phase = static_cast<Phase>((v >> 20) & 3);
  c.released = (v >> 22) & 0xFF;
  c.layout = (v >> 30) & 3;
  if (mode > 2 || c.pos == 0 || c.pos > 256) return Cursor{};  // not a cursor of ours
  c.mode = static_cast<MacroMode>(mode);
  return c;
}

// A macro's text: its bytes, read as they stand or as what they stand for in
// the character set of `setLayout`.
struct MacroText {
  const Region* region;
  const std::uint8_t* entryText;  // the MacroTable entry's text, or null for `pseudo`
  std::uint8_t pseudo[7];         // a one-character macro: the character, maybe "{LEFT}"
  std::uint16_t length;
  bool literalFirst;  // the character of a one-character macro is never a brace
  int setLayout;      // -1: the characters are ANSI bytes

  char32_t At(std::uint16_t pos) const {
    const std::uint8_t byte = entryText != nullptr ? entryText[pos - 1] : pseudo[pos - 1];
    // The "{LEFT}" after a one-character macro's character is the library's own text.
    if (setLayout < 0 || (literalFirst && pos > 1)) return byte;
    return CharOf(*region, setLayout, byte);
  }
  bool ChordAt(std::uint16_t pos) const { return At(pos) == U'{' && !(literalFirst && pos == 1); }
};

MacroText TextOf(const Region& region, const Cursor& c) {
  MacroText t{};
  t.region = &region;
  t.setLayout = CharSetLayout(region, c.layout);
  if (c.mode == MacroMode::kTable) {
    const MacroEntry& entry = region.macros().entries[c.index];
    t.entryText = reinterpret_cast<const std::uint8_t*>(entry.text);
    t.length = entry.length;
    t.literalFirst = false;
  } else {
    t.pseudo[0] = c.index;
    t.length = 1;
    if (c.mode == MacroMode::kCharThenLeft) {
      for (const char ch : std::string_view("{LEFT}")) t.pseudo[t.length++] = static_cast<std::uint8_t>(ch);
    }
    t.literalFirst = true;
  }
  return t;
}

// The layout a cursor names for a text read in `setLayout`'s character set,
// or, for ANSI bytes (-1), one whose record has no set.
std::uint8_t CursorLayout(const Region& region, int setLayout) {
  if (setLayout >= 0) return static_cast<std::uint8_t>(setLayout);
  for (unsigned layout = 0; layout < kLayouts; ++layout) {
    if (CharSetLayout(region, layout) < 0) return static_cast<std::uint8_t>(layout);
  }
  return 0;
}

constexpr std::size_t kCharWords = 2 + 3;
constexpr std::size_t kChordWords = 4 * kMaxChordKeys;

// The vk of one chord key name, or 0 when no key stands for it: a name of
// the table, else the key that types the name's first character.
std::uint16_t ChordKey(const ChordKeyName& name, const MacroText& text, const Region& region) {
  if (name.text[0] == '\0') return 0;
  const std::uint16_t vk = LookupKeyName(name.text);
  if (vk != 0) return vk;
  const platform::Handle layout = region.control().focusLayout;
  std::int16_t scan = -1;
  if (text.setLayout < 0) {
    scan = platform::VkKeyScanEx(name.text[0], layout);
  } else if (name.first < 0x10000) {
    scan = platform::VkKeyScanExW(static_cast<char16_t>(name.first), layout);
  }
  if (scan == -1) return 0;
  return static_cast<std::uint16_t>(scan) & 0xFF;
}

bool HasChord(const MacroText& text) {
  for (std::uint16_t pos = 1; pos <= text.length; ++pos) {
    if (text.ChordAt(pos)) return true;
  }
  return false;
}

// Parses the chord whose "{" stands at `pos`, pushes it, and returns the
// position after its "}" (or after the text when the "}" is missing).
std::uint16_t PushChord(const Region& region, const MacroText& text, std::uint16_t pos) {
  std::uint16_t keys[kMaxChordKeys];
  std::size_t count = 0;
  // ANSI bytes stand as they are in the names; a set's characters do not.
  const ChordScan chord =
      ScanChord([&text](std::size_t at) { return text.At(static_cast<std::uint16_t>(at)); }, pos,
                text.length + 1u, text.setLayout < 0,
                [&](const ChordKeyName& name) {
                  const std::uint16_t vk = ChordKey(name, text, region);
                  if (vk != 0 && count < kMaxChordKeys) keys[count++] = vk;
                });
  for (std::size_t i = 0; i < count; ++i) PushKeyAction(region, kOpKeyDown, keys[i]);
  for (std::size_t i = count; i-- > 0;) PushKeyAction(region, kOpKeyUp, keys[i]);
  return static_cast<std::uint16_t>(chord.next);
}

// Runs the expansion from `c` as far as whole steps fit into the queue.
bool Continue(const Region& region, Cursor c) {
  const ControlBlock& cb = region.control();
  const MacroText text = TextOf(region, c);
  bool pushed = false;
  auto room = [&](std::size_t words) { return ActionQueueRoom(region) >= words; };

  if (c.phase == Phase::kRelease) {
    if (!room(kModifierBlockWords)) goto save;
    // Only the keys of chords would meet the modifiers held: text alone is
    // posted with them as they are, as the system's own AltGr characters
    // come with Ctrl and Alt down. Letting them go and pressing them again
    // would cost a trip through the input stream, behind every key typed
    // meanwhile, which would all have to wait for it.
    c.released = HasChord(text) ? cb.modifiers & kHeldKeyMask : 0;
    if (c.released != 0) {
      PushReleaseBlock(region, c.released, text.length > 0 && text.ChordAt(1));
      c.plain = false;
      pushed = true;
    }
    c.phase = Phase::kText;
  }

  while (c.phase == Phase::kText && c.pos <= text.length) {
    const char32_t ch = text.At(c.pos);
    if (text.ChordAt(c.pos)) {
      if (!room(kChordWords)) goto save;
      c.plain = false;
      c.pos = PushChord(region, text, c.pos);
      pushed = true;
    } else if (ch == U'\r' || ch == U'\n') {
      ++c.pos;
    } else {
      if (!room(kCharWords)) goto save;
      if (!c.plain) {
        PushPlainStart(region);
        c.plain = true;
      }
      if (text.setLayout < 0) {
        PushPostedMessage(region, kOpPostChar, static_cast<std::uint8_t>(ch), 1u << 16);
      } else {
        PushWideChar(region, ch, 1);
      }
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
      PushRepressBlock(region, again);
      c.plain = false;
      pushed = true;
    }
    if (!c.plain) {
      PushPlainStart(region);
      pushed = true;
    }
  }
  c.phase = Phase::kIdle;

save:
  region.control().macroCursor = Pack(c);
  return pushed;
}

}  // namespace

void ExpandMacro(const Region& region, std::uint8_t index, MacroMode mode, int setLayout) {
  Cursor c;
  c.index = index;
  c.mode = mode;
  c.layout = CursorLayout(region, setLayout);
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
