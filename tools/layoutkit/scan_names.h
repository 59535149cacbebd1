// Names of the keys of a US keyboard, by 9-bit scan code (256 added for the
// extended keys): the library's own key names (ESC, LCTRL, NUM_5, ...) and
// the names of the character keys (A, 1, GRAVE, MINUS, ...).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velto::layoutkit {

// Case-insensitive. Also takes `sc:HEX` for any scan code up to 0x1FF, and
// the short modifier names SHIFT (left), CTRL (left), ALT (left), WIN (left)
// and CAPS.
std::optional<std::uint16_t> ScanOfKeyName(std::string_view name);

// The canonical name of a scan code (upper case), or `sc:HEX` (lower case
// hex) for a key without a name.
std::string KeyNameOfScan(std::uint16_t scan);

}  // namespace velto::layoutkit
