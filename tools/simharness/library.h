// The library brought up in this process as Windows and a controlling
// application bring it up, on whichever platform the program is linked
// with: the simulated one (system.h builds on this) or a recording one of
// the program's own (tests/equivalence/trace.cpp). Nothing here reaches the
// simulator, so such a program links this part alone.
#pragma once

#include <cstddef>

#include "layoutkit/layout_builder.h"
#include "shared/region.h"

namespace velto::simharness {

// How much of the library a run attaches: all of it, as when the DLL is
// loaded into a process, or only the mapping of the region, for tests of the
// region's own parts.
enum class Attach { kLibrary, kRegion };

// Maps the region; true when it is mapped.
bool AttachLibrary(Attach how);
void DetachLibrary(Attach how);

// A description's five blocks, as SetupKeyboard takes them.
struct Blocks {
  const void* options;
  const void* keys;
  const void* layouts;
  const void* deadKeys;
  const void* macros;
};

Blocks BlocksOf(const layoutkit::KeyboardDescription& d);
// The bytes of a compiled description (a .vkb file) are the region from the
// option block on.
constexpr std::size_t kCompiledSize = kRegionSize - kOptionOffset;
Blocks BlocksOfCompiled(const void* bytes);

// Hands the description over, as the controller does once it has installed
// the hooks.
void HandOver(const Blocks& blocks);

}  // namespace velto::simharness
