#include "hooks/hook_thread.h"

namespace velto {

namespace {
std::uint32_t g_hookThread = 0;
}  // namespace

void SetHookThread(std::uint32_t thread) { g_hookThread = thread; }

// A companion's hooks are each for one thread of its own architecture, so
// they always run in that thread: only the controller's are ever called here
// for another thread.
bool InHookThread() { return g_hookThread != 0 && platform::GetCurrentThreadId() == g_hookThread; }

bool CalledForAnotherThread(platform::Handle window) {
  if (!InHookThread()) return false;
  const std::uint32_t owner = platform::GetWindowThreadId(window);
  return owner != 0 && owner != g_hookThread;
}

}  // namespace velto
