// Builds the composition table (shared/compositions.h) from states and
// edges, the same bytes for the same edges whatever order they came in.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "shared/compositions.h"

namespace velto::layoutkit {

class CompositionBuilder {
 public:
  // A new state (1, 2, ...); state 0 is where no composition is under way.
  std::uint32_t NewState() { return ++states_; }
  std::uint32_t states() const { return states_; }

  // False when the state already has an edge for the input.
  bool AddToState(std::uint32_t from, char32_t input, std::uint32_t to);
  bool AddToText(std::uint32_t from, char32_t input, const std::u32string& text);
  // Where an edge leads: to a state (`to` set) or a text; null if none.
  struct Target {
    std::uint32_t to = 0;
    std::u32string text;
  };
  const Target* Find(std::uint32_t from, char32_t input) const;
  std::size_t edges() const { return edges_.size(); }

  // The table; false with a reason when it is larger than the mapping.
  bool Build(std::vector<std::uint8_t>& out, std::string& error) const;

 private:
  std::uint32_t states_ = 0;
  std::map<std::pair<std::uint32_t, char32_t>, Target> edges_;
};

}  // namespace velto::layoutkit
