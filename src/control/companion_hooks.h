// A companion's hooks (kCompanionClass in shared/library_api.h). Under Wine a global hook
// whose library cannot be loaded into a process ends that process's hook
// chain, so hooks for all threads from the companion would cut off the
// controller's in the applications of the controller's architecture. The
// companion therefore hooks the threads of its own architecture one by one,
// as the keyboard focus reaches them: hooks for one thread run before those
// for all, in that thread, on Windows and Wine alike.
#pragma once

#include <cstdint>

namespace velto {

void InstallCompanionHooks();
void RemoveCompanionHooks();
// Forgets everything at process attach.
void ForgetCompanion();

}  // namespace velto
