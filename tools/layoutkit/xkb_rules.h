// An XKB rules file (rules/evdev) as setxkbmap and libxkbcommon read it:
// the model, layout, variant and options of a keyboard turned into the
// components of its keymap (keycodes, types, compat, symbols), such as
// pc+fr(bepo)+inet(evdev)+compose(menu).
#pragma once

#include <string>
#include <vector>

#include "layoutkit/diagnostics.h"

namespace velto::layoutkit::xkb {

struct Names {
  std::string model = "pc105";
  std::string layout;
  std::string variant;
  std::vector<std::string> options;
};

struct Components {
  std::string keycodes, types, compat, symbols;
};

// Reads the rules file at `path` for one layout. An option no rule knows
// is a warning; a file that cannot be read, or a layout that gives no
// symbols, an error. `unmatched` receives the options no rule matched.
bool ResolveRules(const std::string& path, const Names& names, Components& out, Diagnostics& diags,
                  std::vector<std::string>* unmatched = nullptr);

}  // namespace velto::layoutkit::xkb
