// The thread of this process that installed the hooks, if any. On 64-bit
// Windows the system calls a hook procedure in that thread for the input of
// threads of the other architecture, into whose processes it cannot load
// this library; there GetFocus knows nothing of the target's windows, so
// the hooks pass everything on.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace velto {

// The calling thread installed the hooks (0: none of this process did).
void SetHookThread(std::uint32_t thread);

namespace detail {
extern std::uint32_t g_hookThread;
bool CalledForAnotherThread(platform::Handle window);
}  // namespace detail

// Whether the calling thread installed the hooks (a cheap first test).
inline bool InHookThread() {
  return detail::g_hookThread != 0 && platform::GetCurrentThreadId() == detail::g_hookThread;
}

// Whether a hook procedure runs in the thread that installed the hooks for
// the input of another thread, that is for `window` of another thread.
inline bool CalledForAnotherThread(platform::Handle window) {
  return detail::g_hookThread != 0 && detail::CalledForAnotherThread(window);
}

// A window that is being destroyed: its handle may come to name another.
void ForgetWindow(platform::Handle window);

}  // namespace velto
