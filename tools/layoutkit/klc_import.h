// Windows keyboard layout sources (.klc, the text that Windows' own layout
// tool saves) turned into layout source (.vkl) that a person can go on
// editing.
#pragma once

#include <string>
#include <string_view>

#include "layoutkit/diagnostics.h"

namespace velto::layoutkit {

// KlcImportOptions::codePage: the code page of the file's LOCALEID.
constexpr int kCodePageOfLocale = -1;

struct KlcImportOptions {
  unsigned layout = 1;  // the layout the .klc becomes: 0 or 1
  // 0: a `unicode` layout, which holds any 255 characters; else a code-page
  // layout in this code page (or kCodePageOfLocale).
  int codePage = 0;
  bool skipUnmappable = false;  // characters the code page lacks: left out with a warning, not an error
};

// Reads a .klc file (`bytes` as they are on disk: UTF-16LE with a BOM, or
// UTF-8) and writes .vkl source to `out`: layout 0 leaving every key to the
// system, and the imported layout with its dead keys and its ligatures as
// macros (a ligature of one character, such as the two UTF-16 halves of one
// beyond U+FFFF, is a plain character). Every problem is reported in `diags`
// under `fileName`; on any error `out` is left empty and the result is
// false. What it writes compiles.
bool KlcToVkl(std::string_view bytes, const std::string& fileName, const KlcImportOptions& options,
              std::string& out, Diagnostics& diags);

// The Windows ANSI code page of a language id (the low 16 bits of a
// LOCALEID), or 0 when it is not known.
int CodePageOfLanguage(unsigned langId);

}  // namespace velto::layoutkit
