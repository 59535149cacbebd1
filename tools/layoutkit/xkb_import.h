// xkeyboard-config's layouts turned into layout source (.vkl): the keymap
// that setxkbmap would build from the rules (model pc105, a layout, its
// variant and options) becomes layout 1 of a Unicode description, with the
// dead keys and compose sequences of a Compose file, so that the states of
// Shift, the level-3 key and Caps Lock type what libxkbcommon types.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "layoutkit/diagnostics.h"
#include "layoutkit/vkl_model.h"

namespace velto::layoutkit {

constexpr const char* kXkbRoot = "/usr/share/X11/xkb";

struct XkbImportOptions {
  std::string layout;
  std::string variant;               // empty: the layout's own
  std::vector<std::string> options;  // as setxkbmap takes them: lv3:ralt_switch, compose:menu, ...
  std::string model = "pc105";
  std::string root = kXkbRoot;
  std::string compose;  // a Compose file; empty: the system's one for en_US.UTF-8 (compose_file.h)
};

// Splits "LAYOUT(VARIANT)" into the layout and its variant; false when it
// is not of that form.
bool ParseXkbLayoutName(const std::string& text, std::string& layout, std::string& variant);

// Imports many layouts with one reading of each file they share (the
// rules, the symbols files, the Compose file).
class XkbImporter {
 public:
  XkbImporter();
  ~XkbImporter();
  XkbImporter(const XkbImporter&) = delete;
  XkbImporter& operator=(const XkbImporter&) = delete;

  // The model of one layout, as an importer hands it to the printer. What
  // Velto cannot express is left out with a warning at its place in the
  // symbols files; a layout or variant that the files lack, or a rules or
  // Compose file that cannot be read, is an error (and the result false).
  bool Import(const XkbImportOptions& options, compiler::Model& out, Diagnostics& diags);

  struct Cache;  // what the imports share

 private:
  std::unique_ptr<Cache> cache_;
};

// The layout as .vkl source, printed by the shared printer; `out` is left
// empty on any error.
bool XkbToVkl(const XkbImportOptions& options, std::string& out, Diagnostics& diags);

}  // namespace velto::layoutkit
