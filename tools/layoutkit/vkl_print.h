// The one printer of the keyboard language: how a character, a string, a
// cell and each kind of line is written, for every tool that writes .vkl
// source (the decompiler, the .klc and xkb importers). What it writes, the
// parser reads back to the same model.
//
// An importer fills a compiler::Model (vkl_model.h) as the parser would:
// the top set and each layout's set, the layouts' names and claims, key
// lines with their cells (characters, dead:NAME, macro:NAME, the compose
// key), dead keys (Model::deadNames and deadRows, by name), sequences
// (chains, compose lines) and macros; then PrintModel writes it out. Places
// (Pos) are not needed. Comments an importer wants in the file go into
// Model::header, LayoutDef::notes and KeyLine::note.
#pragma once

#include <string>
#include <vector>

#include "layoutkit/vkl_model.h"

namespace velto::layoutkit::vkl {

// A character as a cell or a row writes it: itself where that reads back
// as it, quoted where the language gives it another meaning (' ', '#',
// '-', '"', '\'', '\\'), U+XXXX where it would not show (controls, white
// space, marks that join their neighbour, format characters).
std::string CharText(char32_t c);
// A character of the model: a raw byte as 0xNN, else as above.
std::string CharText(const compiler::Char& c);
// A "string": \" \\ \n \r \t escaped, raw bytes as \xNN, other controls
// and characters that would not show as \u{XXXX}.
std::string StringText(const std::vector<compiler::Char>& text);
std::string StringText(const std::u32string& text);

}  // namespace velto::layoutkit::vkl

namespace velto::layoutkit {

// The whole model as .vkl source: the top set, options, hotkeys, layouts
// with their keys, dead keys, chains and compose lines, macros.
std::string PrintModel(const compiler::Model& model);

}  // namespace velto::layoutkit
