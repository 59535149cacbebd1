// Control of the simulated platform from tests: the state that the seam's
// calls read, and the record of what the engine asked the system to do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velto::sim {

struct KeyEventCall {
  std::uint8_t vk;
  std::uint8_t scan;
  std::uint32_t flags;
  bool operator==(const KeyEventCall&) const = default;
};

// Names of shared memory objects get this prefix, so that tests running in
// parallel never share a region. Defaults to $VELTO_SIM_SHM_PREFIX, else
// "velto-sim-<pid>-".
void SetSharedMemoryPrefix(const std::string& prefix);
const std::string& SharedMemoryPrefix();
// Removes the named object of the current prefix (processes that map it keep
// their view).
void RemoveSharedMemory(const char* name);
// Makes OpenSharedMemory fail, as when the mapping cannot be created.
void FailSharedMemory(bool fail);

// Forgets all simulated state: keys, lights, recorded calls.
void Reset();

// Key state as GetKeyState / GetKeyboardState (the thread's) and
// GetAsyncKeyState (the system's) report it.
void SetKeyDown(std::uint8_t vk, bool down);
void SetToggled(std::uint8_t vk, bool on);

// Every keybd_event call, in order.
const std::vector<KeyEventCall>& KeyEvents();
void ClearKeyEvents();

}  // namespace velto::sim
