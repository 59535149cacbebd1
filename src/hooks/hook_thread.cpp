#include "hooks/hook_thread.h"

namespace velto {

namespace detail {
std::uint32_t g_hookThread = 0;
}  // namespace detail

using detail::g_hookThread;

namespace {
// The thread of the window last asked about: a window keeps its thread for
// its whole life, and its handle names no other window while it lives.
struct Owner {
  platform::Handle window = 0;
  std::uint32_t thread = 0;
} g_lastOwner;
}  // namespace

void SetHookThread(std::uint32_t thread) {
  g_hookThread = thread;
  g_lastOwner = {};
}

// A companion's hooks are each for one thread of its own architecture, so
// they always run in that thread: only the controller's are ever called here
// for another thread.
bool detail::CalledForAnotherThread(platform::Handle window) {
  if (!InHookThread() || window == 0) return false;
  if (g_lastOwner.window != window) g_lastOwner = {window, platform::GetWindowThreadId(window)};
  return g_lastOwner.thread != 0 && g_lastOwner.thread != g_hookThread;
}

void ForgetWindow(platform::Handle window) {
  if (g_lastOwner.window == window) g_lastOwner = {};
}

}  // namespace velto
