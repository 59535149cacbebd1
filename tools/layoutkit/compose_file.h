// libX11's Compose files read into the keyboard language's model: the
// sequences of the compose key (<Multi_key> ...) and of the dead keys
// (<dead_acute> ... is a sequence of the dead key `acute`), for the
// language's `compose include` and for the importers.
#pragma once

#include <string>

#include "layoutkit/vkl_model.h"

namespace velto::layoutkit {

// The folder of the system's Compose files (libx11-data's) on Linux.
constexpr const char* kSystemComposeDir = "/usr/share/X11/locale";

// The folder %S names: $VELTO_COMPOSE_DIR when it is set; on Windows, which
// has no Compose files of its own, the folder `locale` beside the program,
// where Velto's installer and zip put the en_US one; else kSystemComposeDir.
std::string ComposeDir();

// The system's Compose file of a locale ("en_US.UTF-8") as compose.dir in
// `systemDir` names it; empty when it names none.
std::string SystemComposeFile(const std::string& locale, const std::string& systemDir = ComposeDir());

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
// every other problem is reported. `composeKeyOnly`: only the sequences
// of the compose key, as a layout whose dead keys are its own takes them.
bool ReadComposeFile(const std::string& path, const std::string& locale, Model& model, Reporter& report,
                     bool composeKeyOnly = false);

}  // namespace compiler

}  // namespace velto::layoutkit
