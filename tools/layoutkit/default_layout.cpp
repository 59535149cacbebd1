#include "layoutkit/default_layout.h"

#include <vector>

#include "layoutkit/vkb.h"

namespace velto::layoutkit {

namespace {

// The bytes of the compiled default layout, generated at build time.
const unsigned char kDefaultVkb[] = {
#include "default_layout.inc"
};
static_assert(sizeof kDefaultVkb >= kVkbSize);  // the blocks, then its composition table

}  // namespace

const KeyboardDescription& DefaultDescription() {
  static const KeyboardDescription d = [] {
    KeyboardDescription out;
    FromVkb(std::vector<std::uint8_t>(kDefaultVkb, kDefaultVkb + sizeof kDefaultVkb), out);
    return out;
  }();
  return d;
}

}  // namespace velto::layoutkit
