// The compiled keyboard description: the five blocks that SetupKeyboard
// takes, in its order (81,528 bytes), then the composition table of a
// description that has one. Any controlling application can hand them over
// as they stand: the table is read from right after the macros.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "layoutkit/diagnostics.h"
#include "layoutkit/layout_builder.h"

namespace velto::layoutkit {

constexpr std::size_t kVkbSize =
    kOptionBlockSize + kKeyTableSize + kLayoutRecordsSize + kDeadKeyTableSize + kMacroTableSize;
static_assert(kVkbSize == 81528);

std::vector<std::uint8_t> ToVkb(const KeyboardDescription& d);
// False (and `out` untouched) unless `bytes` is the kVkbSize bytes of the
// blocks, followed by nothing or by one whole composition table.
bool FromVkb(const std::vector<std::uint8_t>& bytes, KeyboardDescription& out);

// Reads a whole file; false with a diagnostic when it cannot be read.
bool ReadFile(const std::string& path, std::vector<std::uint8_t>& bytes, Diagnostics& diags);
// Writes a whole file through a temporary beside it, so that a failed write
// leaves no half-written file; false with a diagnostic on failure.
bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes, Diagnostics& diags);

// Reads a .vkb file: refused with a message unless it is 81,528 bytes, followed by nothing or by a
// whole composition table.
bool ReadVkb(const std::string& path, KeyboardDescription& out, Diagnostics& diags);

// The code page a layout's characters are in: the number its record keeps
// in bytes 6..7, or the default when that is not a supported code page.
int LayoutCodePage(const KeyboardDescription& d, unsigned layout);

// The character a byte of a layout stands for, as a program receives it: by
// the layout's character set where its record carries one, else by its code
// page (the byte is posted as ANSI, which a program on a system of that code
// page reads so). 0 for none.
char32_t LayoutChar(const KeyboardDescription& d, unsigned layout, std::uint8_t byte);

}  // namespace velto::layoutkit
