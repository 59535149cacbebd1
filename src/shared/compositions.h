// The composition table: dead keys as deep as Compose.
//
// A layout whose character set is of the kind kUnicodeComposing (byte 16 of
// its record's header, shared/charset.h) does not compose through the
// 256-row DeadKeyTable. Its dead keys walk a table of states instead:
//
//   - state 0 is where no composition is under way;
//   - an edge leads from a state, by one input, to another state (a dead
//     key, then another dead key, or the compose key, then a letter) or
//     ends in a text of one or more characters;
//   - an input is what the key's byte stands for in the layout's set: a
//     character, or, for a dead key or the compose key, a value above
//     U+10FFFF that no character has (kDeadKeyIds..kMaxInput).
//
// The table is large (the whole en_US Compose file and a layout's dead keys
// take some 170 KB), so it does not live in the region's five blocks. It has
// a named mapping of its own, beside the region, that every process with
// the library maps. A controlling application hands it over with the
// description: SetupKeyboard reads it from right after the MacroTable, out
// of the same buffer, when a layout record asks for it, and only then.
// Descriptions without such a record never see it.
//
// Layout of the table (all fields little-endian):
//
//   bytes 0..7    the mark, "velto-ct"
//   bytes 8..11   u32  its length in bytes, this header included
//   bytes 12..15  u32  slot mask: the number of slots (a power of two) - 1
//   bytes 16..19  u32  where the slots begin (a multiple of 8)
//   bytes 20..23  u32  where the texts begin (a multiple of 4)
//   bytes 24..27  u32  how many 32-bit units the texts take
//   bytes 28..31  u32  the longest run of slots a lookup probes
//
// A slot is a u64 edge, 0 when empty: bits 0..20 the input, 21..40 the
// state it leaves, 41..63 where it leads. Bit 63 set: to the state in bits
// 41..60. Bit 63 clear: to the text at unit index bits 41..62 of the texts,
// which holds its length n (1..255) and then n code points.
//
// A lookup hashes the state and the input to a slot and probes onward, at
// most the run the header names: it costs the same however large the table.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velto {

constexpr const char* kCompositionsName = "quorvexveltodll-compositions";
constexpr std::size_t kCompositionsSize = 512 * 1024;
constexpr char kCompositionsMark[8] = {'v', 'e', 'l', 't', 'o', '-', 'c', 't'};
constexpr std::size_t kCompositionsHeaderSize = 32;

// Inputs above the characters: the compose key, then the dead keys, each
// by a number of its own.
constexpr char32_t kComposeKeyInput = 0x110000;
constexpr char32_t kDeadKeyInputs = 0x110001;
constexpr char32_t kMaxInput = 0x1FFFFF;
constexpr std::uint32_t kMaxCompositionState = 0xFFFFF;
constexpr std::uint32_t kMaxTextIndex = 0x3FFFFF;
constexpr std::size_t kMaxTextLength = 255;

constexpr bool IsDeadKeyInput(char32_t input) { return input >= kComposeKeyInput && input <= kMaxInput; }

struct CompositionsHeader {
  char mark[8];
  std::uint32_t length;
  std::uint32_t slotMask;
  std::uint32_t slotsAt;
  std::uint32_t textsAt;
  std::uint32_t textUnits;
  std::uint32_t longestRun;
};
static_assert(sizeof(CompositionsHeader) == kCompositionsHeaderSize);

// One edge, packed as a slot holds it.
constexpr std::uint64_t kEdgeToState = 1ull << 63;
constexpr std::uint64_t EdgeKey(std::uint32_t state, char32_t input) {
  return static_cast<std::uint64_t>(state & kMaxCompositionState) << 21 | (input & kMaxInput);
}
constexpr std::uint64_t kEdgeKeyMask = (1ull << 41) - 1;
constexpr std::uint64_t EdgeToState(std::uint32_t state, char32_t input, std::uint32_t to) {
  return EdgeKey(state, input) | kEdgeToState | static_cast<std::uint64_t>(to & kMaxCompositionState) << 41;
}
constexpr std::uint64_t EdgeToText(std::uint32_t state, char32_t input, std::uint32_t textIndex) {
  return EdgeKey(state, input) | static_cast<std::uint64_t>(textIndex & kMaxTextIndex) << 41;
}
// The first slot a key is looked for in.
constexpr std::uint32_t SlotOf(std::uint64_t key, std::uint32_t slotMask) {
  return static_cast<std::uint32_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & slotMask;
}

// Where one input takes a composition.
struct ComposeStep {
  enum Kind : std::uint8_t { kNone, kState, kText } kind = kNone;
  std::uint32_t state = 0;             // kState
  const std::uint32_t* text = nullptr;  // kText: `length` code points
  std::uint32_t length = 0;
};

// A table as mapped: checked once, when it is taken, so that a lookup
// reads nothing outside it.
class Compositions {
 public:
  Compositions() = default;
  // `bytes` of `size` (the mapping): valid only if its header holds.
  Compositions(const std::uint8_t* bytes, std::size_t size);

  bool valid() const { return base_ != nullptr; }
  ComposeStep Step(std::uint32_t state, char32_t input) const;
  // Where one key takes a composition standing at `state` (0: none under
  // way). A dead key (or the compose key) that leads nowhere from there
  // starts anew; any other key that leads nowhere ends the composition and
  // is typed as itself (kNone).
  ComposeStep Walk(std::uint32_t state, char32_t input, bool deadKey) const {
    ComposeStep step = state != 0 ? Step(state, input) : ComposeStep{};
    if (step.kind == ComposeStep::kNone && deadKey) step = Step(0, input);
    return step;
  }

  // Every edge, in slot order (for the tools).
  template <typename Visit>
  void ForEachEdge(Visit visit) const {
    for (std::uint32_t i = 0; valid() && i <= header_.slotMask; ++i) {
      if (slots_[i] != 0) visit(slots_[i]);
    }
  }
  // The text an edge to a text leads to (null if it is not one of the table's).
  const std::uint32_t* TextAt(std::uint32_t index, std::uint32_t* length) const;
  const CompositionsHeader& header() const { return header_; }

 private:
  const std::uint8_t* base_ = nullptr;
  CompositionsHeader header_{};
  const std::uint64_t* slots_ = nullptr;
  const std::uint32_t* texts_ = nullptr;
};

// The length a table in `bytes` says it has, if it carries the mark and
// fits into the mapping; 0 otherwise.
std::size_t CompositionsLength(const void* bytes);

}  // namespace velto
