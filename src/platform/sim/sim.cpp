#include "platform/sim/sim.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/sim/us_layout.h"

namespace velto::sim {

namespace {

struct State {
  std::array<std::uint8_t, 256> threadKeys{};  // bit 7 down, bit 0 toggled
  std::array<std::uint8_t, 256> asyncKeys{};
  std::vector<KeyEventCall> keyEvents;
  bool failSharedMemory = false;
};

State& S() {
  static State state;
  return state;
}

std::string& Prefix() {
  static std::string prefix = [] {
    const char* env = std::getenv("VELTO_SIM_SHM_PREFIX");
    if (env != nullptr && *env != '\0') return std::string(env);
    return "velto-sim-" + std::to_string(::getpid()) + "-";
  }();
  return prefix;
}

std::string ObjectName(const char* name) { return "/" + Prefix() + name; }

}  // namespace

void SetSharedMemoryPrefix(const std::string& prefix) { Prefix() = prefix; }
const std::string& SharedMemoryPrefix() { return Prefix(); }
void RemoveSharedMemory(const char* name) { ::shm_unlink(ObjectName(name).c_str()); }
void FailSharedMemory(bool fail) { S().failSharedMemory = fail; }

void Reset() {
  const bool fail = S().failSharedMemory;
  S() = State{};
  S().failSharedMemory = fail;
}

void SetKeyDown(std::uint8_t vk, bool down) {
  for (auto* keys : {&S().threadKeys, &S().asyncKeys}) {
    (*keys)[vk] = static_cast<std::uint8_t>(down ? ((*keys)[vk] | 0x80) : ((*keys)[vk] & 0x7F));
  }
}

void SetToggled(std::uint8_t vk, bool on) {
  for (auto* keys : {&S().threadKeys, &S().asyncKeys}) {
    (*keys)[vk] = static_cast<std::uint8_t>(on ? ((*keys)[vk] | 1) : ((*keys)[vk] & 0xFE));
  }
}

const std::vector<KeyEventCall>& KeyEvents() { return S().keyEvents; }
void ClearKeyEvents() { S().keyEvents.clear(); }

}  // namespace velto::sim

namespace velto::platform {

using sim::S;

SharedMapping OpenSharedMemory(const char* name, std::size_t size) {
  if (S().failSharedMemory) return {};
  const std::string object = sim::ObjectName(name);
  // shm objects start zero-filled; ftruncate only grows a new one.
  const int fd = ::shm_open(object.c_str(), O_RDWR | O_CREAT, 0600);
  if (fd < 0) return {};
  struct stat st {};
  if (::fstat(fd, &st) != 0 ||
      (static_cast<std::size_t>(st.st_size) < size && ::ftruncate(fd, static_cast<off_t>(size)) != 0)) {
    ::close(fd);
    return {};
  }
  void* view = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) {
    ::close(fd);
    return {};
  }
  return {view, static_cast<std::uintptr_t>(fd)};
}

void CloseSharedMemory(const SharedMapping& mapping, std::size_t size) {
  if (mapping.view != nullptr) ::munmap(mapping.view, size);
  ::close(static_cast<int>(mapping.handle));
}

std::int16_t GetKeyState(int vk) {
  const std::uint8_t v = S().threadKeys[static_cast<std::uint8_t>(vk)];
  return static_cast<std::int16_t>(((v & 0x80) ? 0xFF80 : 0) | (v & 1));
}

std::int16_t GetAsyncKeyState(int vk) {
  return (S().asyncKeys[static_cast<std::uint8_t>(vk)] & 0x80) ? static_cast<std::int16_t>(0x8000) : 0;
}

bool GetKeyboardState(std::uint8_t state[256]) {
  std::memcpy(state, S().threadKeys.data(), 256);
  return true;
}

void KeybdEvent(std::uint8_t vk, std::uint8_t scan, std::uint32_t flags) {
  S().keyEvents.push_back({vk, scan, flags});
}

Handle GetKeyboardLayout(std::uint32_t) { return sim::kUsLayoutHandle; }

int ToAsciiEx(std::uint32_t vk, std::uint32_t, const std::uint8_t state[256], std::uint16_t* out,
              std::uint32_t, Handle) {
  const bool shift = (state[16] & 0x80) != 0;
  const bool ctrl = (state[17] & 0x80) != 0 && (state[18] & 0x80) == 0;
  const bool caps = (state[20] & 1) != 0;
  const char ch = sim::UsCharOf(static_cast<std::uint8_t>(vk), shift, ctrl, caps);
  if (ch == 0) return 0;
  *out = static_cast<std::uint8_t>(ch);
  return 1;
}

std::uint32_t MapVirtualKey(std::uint32_t code, std::uint32_t mapType) {
  return MapVirtualKeyEx(code, mapType, sim::kUsLayoutHandle);
}

std::uint32_t MapVirtualKeyEx(std::uint32_t code, std::uint32_t mapType, Handle) {
  if (mapType != 0 || code > 0xFF) return 0;
  const sim::UsKey* key = sim::UsKeyByVk(static_cast<std::uint8_t>(code));
  return key == nullptr ? 0 : (key->scan & 0xFF);
}

std::int16_t VkKeyScanEx(char ch, Handle) { return sim::UsVkKeyScan(ch); }

void Sleep(std::uint32_t) {}

}  // namespace velto::platform
