// A layout's badge: the two or three letters a tray controller shows for
// the active layout. A `badge` statement stores one in bytes 32..37 of the
// layout record, which belong to the controlling application and which the
// library never reads; a layout without one gets a badge made of its name.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "layoutkit/layout_builder.h"
#include "shared/tables.h"

namespace velto::layoutkit {

// Where a stored badge lives: record bytes 32..37, UTF-8, zero-padded.
constexpr std::size_t kBadgeOffset = 32;
constexpr std::size_t kBadgeBytes = 6;
constexpr std::size_t kBadgeChars = 3;
constexpr std::size_t kBadgeReserved = kBadgeOffset - offsetof(LayoutRecord, reserved);  // its index in `reserved`
static_assert(kBadgeReserved + kBadgeBytes == sizeof(LayoutRecord::reserved));

// Whether a character is a letter of any script or a decimal digit: what a
// badge is made of.
bool IsLetterOrDigit(char32_t c);

// The badge a record stores, or nothing where bytes 32..37 are not one that
// the `badge` statement writes: valid UTF-8 of 1 to 3 letters or digits,
// then zeros only.
std::optional<std::string> StoredBadge(const LayoutRecord& record);

// Stores a badge's UTF-8 (at most six bytes) in bytes 32..37, zero-padded.
void StoreBadge(LayoutRecord& record, std::string_view utf8);

// A layout's name as a user reads it, in UTF-8: its bytes up to the first
// zero through the layout's set (LayoutChar), U+FFFD for a byte that stands
// for no character. Empty for a layout number above 3.
std::string LayoutName(const KeyboardDescription& d, unsigned layout);

// The badge to show for a layout, in UTF-8: the stored one; else one made
// of the name's words (runs of letters and digits):
//  - a first word of 2 or 3 characters without lower case letters and with
//    a capital ("US", "DE") stands, with the first letter of the next word
//    after it while that makes 3 characters or fewer ("US International"
//    gives "USI");
//  - else, of two words or more, the first letters of up to three, upper
//    case ("Russian phonetic" gives "RP");
//  - else the first two characters of the one word, upper case ("Dvorak"
//    gives "DV");
//  - a name without letters or digits gives the layout's number ("0".."3").
// Upper case reaches every script with simple case pairs (ж gives Ж). A
// badge made of the name is not held to the six bytes of a stored one.
// Empty for a layout number above 3.
std::string LayoutBadge(const KeyboardDescription& d, unsigned layout);

}  // namespace velto::layoutkit
