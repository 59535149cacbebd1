// The library's entry points: the exported control functions, and what the
// back end calls at process attach and detach and when the keyboard
// focus moves.
#pragma once

#include "platform/platform.h"
#include "shared/library_api.h"

extern "C" {
#define VELTO_DECLARE_EXPORT(type, name, parameters) type name parameters;
VELTO_LIBRARY_EXPORTS(VELTO_DECLARE_EXPORT)
#undef VELTO_DECLARE_EXPORT
}  // extern "C"

namespace velto {

void ProcessAttach();
void ProcessDetach();

// The keyboard focus moved to `window` (platform::WatchFocus): a companion
// hooks that window's thread.
void FocusMoved(platform::Handle window);

}  // namespace velto
