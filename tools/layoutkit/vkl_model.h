// The compiler's inside: the model that parsing the keyboard language
// fills (vkl_parse.cpp) and that building encodes into the five blocks
// (vkl_build.cpp). The model still holds Unicode characters and where each
// was written, so that the builder's errors name their place.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "layoutkit/diagnostics.h"
#include "layoutkit/layout_builder.h"
#include "layoutkit/vkl_syntax.h"

namespace velto::layoutkit::compiler {

using vkl::CapsMode;


struct Pos {
  int file = 0;  // index into the Reporter's files
  int line = 0;
  int column = 0;
};

// A character as written: a Unicode character (to be encoded in a code
// page), or a raw byte (0xNN) that is stored as it stands.
struct Char {
  bool raw = false;
  char32_t code = 0;
  Pos pos;
};

struct Cell {
  enum Kind { kEmpty, kChar, kDead, kDeadNamed, kMacro, kComposeKey } kind = kEmpty;
  Char ch;           // kChar, kDead
  std::string name;  // kDeadNamed, kMacro
  bool deadToo = false;  // dead+macro:NAME
  int macroIndex = -1;   // macro:@N
  Pos pos;
};

struct Plane {
  Cell cells[kSlotsPerKey][3];
  bool any = false;
};

struct KeyLine {
  std::uint16_t scan = 0;
  int record = -1;  // -1: the compiler picks
  Pos pos;
  int layout = -1;  // -1: a mapping line outside any layout
  bool hasCells = false;
  Plane plain;
  bool capsExplicit = false;
  std::optional<CapsMode> capsMode;
  Plane caps;
  std::string note;  // a comment at the end of the line, for the printer
};

struct Bytes {
  int offset;
  std::vector<std::uint8_t> values;
  Pos pos;  // of the offset
};

// One slot of a Unicode table as `table` gives it.
struct Pin {
  int byte;
  char32_t value;
  Pos pos;
};

// A character set as written: `codepage N [ansi]` or `unicode [@E] [count N]
// [id N]`, with the `table` lines that pin a Unicode table's slots.
struct SetChoice {
  enum Kind { kInherit, kCodePage, kAnsi, kUnicode } kind = kInherit;
  int codePage = 0;
  int entry = -1;  // the first macro entry of the table; -1: the compiler picks
  int count = -1;  // bytes 18..19; -1: the number of characters
  int id = -1;     // bytes 6..7 of a Unicode set; -1: 1200
  // A Unicode layout's dead keys compose through the composition table (1)
  // or the 256-row table (0); -1: as the description needs.
  int composing = -1;
  std::vector<Pin> pins;
  Pos pos, tablePos;
};

struct LayoutDef {
  bool defined = false;
  Pos pos;
  std::vector<Char> name;
  Pos namePos;
  SetChoice set;  // kInherit: the description's
  bool charThenLeft = false;
  std::uint16_t claims = 0;
  std::uint16_t rightAsLeft = 0;
  std::vector<Char> charset;
  std::vector<Bytes> bytes;
  std::string badge;  // UTF-8; empty: none
  Pos badgePos;
  CapsMode caps = CapsMode::kLetters;
  std::set<std::string> seen;  // statements given once
  std::vector<std::string> notes;  // comment lines at the top of the block, for the printer
};

struct MacroDef {
  std::string name;
  int index = -1;
  std::vector<Char> text;
  Pos pos;
  bool used = false;
  bool unchecked = false;  // the chords are stored without being checked
};

struct DeadRow {
  std::string name;  // of the dead key, when declared by name
  Char dead, base, result;
  bool deadZero = false, baseZero = false, resultZero = false;
  Pos pos;
  int order = 0;  // among the rows and sequences, as written (ties keep the vectors' order)
};

// One key of a composition as written: a character, a dead key by name
// (`dead:NAME`), or the compose key.
struct ComposeInput {
  enum Kind { kChar, kDead, kComposeKey } kind = kChar;
  Char ch;           // kChar
  std::string name;  // kDead
  Pos pos;
};

// What a composition ends in: a text of one or more characters, or the
// state of a dead key (`dead:NAME`: the keys after it go on as after that
// dead key, as a Windows layout's chained dead keys do).
struct ComposeResult {
  std::vector<Char> text;
  std::string dead;  // when not empty, instead of a text
  Pos pos;
};

// A composition of the table of states (shared/compositions.h): a dead key
// or the compose key, the keys after it, and what they make.
struct Sequence {
  ComposeInput start;                // kDead or kComposeKey
  std::vector<ComposeInput> inputs;  // at least one
  ComposeResult result;
  Pos pos;
  int order = 0;  // as DeadRow::order
};

struct Hotkey {
  bool given = false;
  std::uint16_t mods = 0;
  std::uint16_t scan = kModifierOnlyHotkey;
};

struct Model {
  SetChoice set;  // of the macros and dead keys, and of layouts that name none
  std::uint16_t options = 0;
  std::uint16_t optionBits = 0;
  std::uint8_t optionBytes[2] = {0, 0};
  Hotkey hotkeys[3];
  LayoutDef layouts[kLayouts];
  std::vector<KeyLine> keys;
  std::vector<MacroDef> macros;
  std::vector<DeadRow> deadRows;
  // Compositions beyond what the 256-row table holds: chains, texts, the
  // compose key. Later ones of the same keys replace earlier ones, as in a
  // Compose file.
  std::vector<Sequence> sequences;
  // The composition table as it stands (`composition-bytes` lines, which the
  // decompiler writes for a table the lines above would not build again):
  // taken instead of building one.
  std::vector<std::uint8_t> rawCompositions;
  Pos rawCompositionsPos;
  int nextOrder = 0;  // for DeadRow::order and Sequence::order
  std::map<std::string, Char> deadNames;
  // The dead keys' names in the order they were first declared (those
  // missing here come after, by name): it numbers their inputs and orders
  // the printer's deadkey lines.
  std::vector<std::string> deadOrder;
  std::set<std::string> seen;
  // Comment lines at the top of the file, for the printer.
  std::vector<std::string> header;
};

// The files of one compilation (the one named and those it includes), and
// the diagnostics, which name a place by its file's index.
class Reporter {
 public:
  explicit Reporter(Diagnostics& diags) : diags_(diags) {}

  int AddFile(const std::string& path) {
    files_.push_back(path);
    return static_cast<int>(files_.size()) - 1;
  }
  void Error(const Pos& p, const std::string& message) {
    diags_.Error(files_[static_cast<std::size_t>(p.file)], p.line, p.column, message);
  }
  void Warning(const Pos& p, const std::string& message) {
    diags_.Warning(files_[static_cast<std::size_t>(p.file)], p.line, p.column, message);
  }
  bool HasErrors() const { return diags_.HasErrors(); }
  Diagnostics& diagnostics() { return diags_; }

 private:
  Diagnostics& diags_;
  std::vector<std::string> files_;
};

// Reads a file, or text in memory that `fileName` names, into the model;
// `include` lines are read relative to it.
void ParseVklFile(const std::string& path, Model& model, Reporter& report);
void ParseVklText(std::string_view text, const std::string& fileName, Model& model, Reporter& report);

// Settles sequences in their order (Sequence::order, then as they stand):
// of two for the same keys, or where one's keys begin the other's, the
// later stands when it comes from another file, as a Compose file
// overrides the one it includes; within one file that is an error at the
// later one (but for the same result twice), which is left out.
void SettleSequences(std::vector<Sequence>& sequences, Reporter& report);

// Encodes the model into `out`, reporting what does not fit. It settles
// what the model left open (sets, macro indices) in the model itself.
void BuildVkl(Model& model, Reporter& report, KeyboardDescription& out);

}  // namespace velto::layoutkit::compiler
