#include "layoutkit/composition_builder.h"

#include <cstring>

namespace velto::layoutkit {

bool CompositionBuilder::AddToState(std::uint32_t from, char32_t input, std::uint32_t to) {
  return edges_.emplace(std::make_pair(from, input), Target{to, {}}).second;
}

bool CompositionBuilder::AddToText(std::uint32_t from, char32_t input, const std::u32string& text) {
  return edges_.emplace(std::make_pair(from, input), Target{0, text}).second;
}

const CompositionBuilder::Target* CompositionBuilder::Find(std::uint32_t from, char32_t input) const {
  const auto it = edges_.find({from, input});
  return it == edges_.end() ? nullptr : &it->second;
}

bool CompositionBuilder::Build(std::vector<std::uint8_t>& out, std::string& error) const {
  // Texts first, each once.
  std::vector<std::uint32_t> units;
  std::map<std::u32string, std::uint32_t> textIndex;
  for (const auto& [key, target] : edges_) {
    if (target.text.empty() || textIndex.count(target.text) != 0) continue;
    textIndex[target.text] = static_cast<std::uint32_t>(units.size());
    units.push_back(static_cast<std::uint32_t>(target.text.size()));
    units.insert(units.end(), target.text.begin(), target.text.end());
  }
  // At most half the slots full keeps the runs short.
  std::uint32_t slots = 16;
  while (slots < 2 * edges_.size()) slots *= 2;
  const std::uint32_t mask = slots - 1;
  std::vector<std::uint64_t> table(slots, 0);
  std::uint32_t longest = 1;
  for (const auto& [key, target] : edges_) {
    const auto [from, input] = key;
    if (from > kMaxCompositionState || target.to > kMaxCompositionState || input == 0 || input > kMaxInput) {
      error = "a composition state or input is out of range";
      return false;
    }
    if (!target.text.empty() && target.text.size() > kMaxTextLength) {
      error = "a composition's text is longer than 255 characters";
      return false;
    }
    const std::uint64_t edge = target.text.empty() ? EdgeToState(from, input, target.to)
                                                   : EdgeToText(from, input, textIndex.at(target.text));
    std::uint32_t slot = SlotOf(EdgeKey(from, input), mask);
    std::uint32_t run = 1;
    while (table[slot] != 0) {
      slot = (slot + 1) & mask;
      ++run;
    }
    table[slot] = edge;
    if (run > longest) longest = run;
  }
  CompositionsHeader h{};
  std::memcpy(h.mark, kCompositionsMark, sizeof h.mark);
  h.slotMask = mask;
  h.slotsAt = kCompositionsHeaderSize;
  h.textsAt = h.slotsAt + slots * 8;
  h.textUnits = static_cast<std::uint32_t>(units.size());
  h.longestRun = longest;
  const std::size_t length = h.textsAt + units.size() * 4;
  if (length > kCompositionsSize || units.size() > kMaxTextIndex) {
    error = "the compositions take " + std::to_string(length) + " bytes, more than the " +
            std::to_string(kCompositionsSize) + " the library keeps for them";
    return false;
  }
  h.length = static_cast<std::uint32_t>(length);
  out.assign(length, 0);
  std::memcpy(out.data(), &h, sizeof h);
  std::memcpy(out.data() + h.slotsAt, table.data(), table.size() * 8);
  if (!units.empty()) std::memcpy(out.data() + h.textsAt, units.data(), units.size() * 4);
  return true;
}

}  // namespace velto::layoutkit
