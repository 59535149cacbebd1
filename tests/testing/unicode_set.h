// A Unicode character set for a layout of a description built by hand.
#pragma once

#include <cstdint>
#include <map>

#include "layoutkit/layout_builder.h"
#include "shared/charset.h"

namespace velto::testing {

// Gives layout `layout` a Unicode set of the header kind `kind` (a plain
// one, or kUnicodeComposingKind): bytes 1..0x7F stand for ASCII unless
// `set` says otherwise, the others for nothing. The table sits in the last
// MacroTable entries a set may take.
void MarkUnicode(layoutkit::KeyboardDescription& d, unsigned layout, const std::map<std::uint8_t, char32_t>& set,
                 std::uint8_t kind = static_cast<std::uint8_t>(CharSetKind::kUnicode));

}  // namespace velto::testing
