#include "shared/compositions.h"

#include <cstring>

namespace velto {

std::size_t CompositionsLength(const void* bytes) {
  CompositionsHeader h;
  std::memcpy(&h, bytes, sizeof h);
  if (std::memcmp(h.mark, kCompositionsMark, sizeof h.mark) != 0) return 0;
  if (h.length < kCompositionsHeaderSize || h.length > kCompositionsSize) return 0;
  return h.length;
}

Compositions::Compositions(const std::uint8_t* bytes, std::size_t size) {
  if (bytes == nullptr || size < kCompositionsHeaderSize) return;
  std::memcpy(&header_, bytes, sizeof header_);
  const CompositionsHeader& h = header_;
  if (std::memcmp(h.mark, kCompositionsMark, sizeof h.mark) != 0 || h.length > size) return;
  const std::uint64_t slots = static_cast<std::uint64_t>(h.slotMask) + 1;
  // The mask is one less than a power of two; slots and texts lie inside.
  if ((slots & h.slotMask) != 0 || h.slotsAt % 8 != 0 || h.textsAt % 4 != 0) return;
  if (h.slotsAt < kCompositionsHeaderSize || h.slotsAt + slots * 8 > h.length) return;
  if (h.textsAt < kCompositionsHeaderSize || h.textsAt + static_cast<std::uint64_t>(h.textUnits) * 4 > h.length) {
    return;
  }
  if (h.longestRun == 0 || h.longestRun > slots) return;
  base_ = bytes;
  slots_ = reinterpret_cast<const std::uint64_t*>(bytes + h.slotsAt);
  texts_ = reinterpret_cast<const std::uint32_t*>(bytes + h.textsAt);
}

const std::uint32_t* Compositions::TextAt(std::uint32_t index, std::uint32_t* length) const {
  if (!valid() || index >= header_.textUnits) return nullptr;
  const std::uint32_t n = texts_[index];
  if (n == 0 || n > kMaxTextLength || n > header_.textUnits - index - 1) return nullptr;
  *length = n;
  return texts_ + index + 1;
}

ComposeStep Compositions::Step(std::uint32_t state, char32_t input) const {
  ComposeStep step;
  if (!valid() || input == 0 || input > kMaxInput || state > kMaxCompositionState) return step;
  const std::uint64_t key = EdgeKey(state, input);
  std::uint32_t slot = SlotOf(key, header_.slotMask);
  for (std::uint32_t probe = 0; probe < header_.longestRun; ++probe, slot = (slot + 1) & header_.slotMask) {
    const std::uint64_t edge = slots_[slot];
    if (edge == 0) return step;
    if ((edge & kEdgeKeyMask) != key) continue;
    if ((edge & kEdgeToState) != 0) {
      step.kind = ComposeStep::kState;
      step.state = static_cast<std::uint32_t>(edge >> 41) & kMaxCompositionState;
      // A state that leads nowhere further is no composition under way.
      if (step.state == 0) step.kind = ComposeStep::kNone;
    } else {
      step.text = TextAt(static_cast<std::uint32_t>(edge >> 41) & kMaxTextIndex, &step.length);
      if (step.text != nullptr) step.kind = ComposeStep::kText;
    }
    return step;
  }
  return step;
}

}  // namespace velto
