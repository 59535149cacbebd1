// libX11's Compose files read into the keyboard language's model: the
// sequences of the compose key (<Multi_key> ...) and of the dead keys
// (<dead_acute> ... is a sequence of the dead key `acute`), for the
// language's `compose include` and for the importers.
#pragma once

#include <string>

#include "layoutkit/vkl_model.h"

namespace velto::layoutkit {

// The folder of the system's Compose files, which %S names.
constexpr const char* kSystemComposeDir = "/usr/share/X11/locale";

// The system's Compose file of a locale ("en_US.UTF-8") as compose.dir in
// `systemDir` names it; empty when it names none.
std::string SystemComposeFile(const std::string& locale, const std::string& systemDir = kSystemComposeDir);

namespace compiler {

// Reads the Compose file `path` (%L, %H and %S expanded as in an include)
// and the files it includes into model.sequences; a dead key it starts
// that the model lacks is declared, with the character of its keysym's
// spacing form. Later definitions override earlier ones of another file, as
// a user's ~/.XCompose overrides the system file it includes; within one
// file a sequence that repeats or begins another is an error at its
// FILE:LINE:COL. An unknown keysym is one too. Sequences that Velto cannot
// type (a key that types no character, such as an arrow, a start that is
// neither the compose key nor a dead key, an empty result) are left out
// silently. False only when `path` itself cannot be read (nothing said);
// every other problem is reported.
bool ReadComposeFile(const std::string& path, const std::string& locale, Model& model, Reporter& report);

}  // namespace compiler

}  // namespace velto::layoutkit
