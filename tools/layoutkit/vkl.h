// The keyboard language (.vkl): a readable text that compiles to the five
// description blocks, and back. docs/layout-language.md describes it.
#pragma once

#include <string>
#include <string_view>

#include "layoutkit/diagnostics.h"
#include "layoutkit/layout_builder.h"

namespace velto::layoutkit {

// Compiles a .vkl file; `include` lines are read relative to it. Returns
// false if there was any error (every error is reported in `diags`).
bool CompileVklFile(const std::string& path, KeyboardDescription& out, Diagnostics& diags);
// The same for text in memory; `fileName` names it in diagnostics and
// includes are read relative to its directory.
bool CompileVklText(std::string_view text, const std::string& fileName, KeyboardDescription& out,
                    Diagnostics& diags);

// Writes the description as .vkl source that compiles back to the same
// bytes, using the short forms where they fit.
std::string DecompileToVkl(const KeyboardDescription& d);

// Loads a description from a .vkb file (81,528 bytes, then maybe its composition table) or compiles a
// .vkl file, by the file name's extension.
bool LoadDescriptionFile(const std::string& path, KeyboardDescription& out, Diagnostics& diags);

}  // namespace velto::layoutkit
