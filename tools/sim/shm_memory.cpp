// Named shared memory within the one process, where there are no POSIX
// shared memory objects (the playground's WebAssembly): every process of the
// simulated system runs here anyway, so an object is one zero-filled block
// that every mapping of its name shares until the last one is closed.
#include <cstdlib>
#include <map>
#include <memory>

#include "sim/state.h"

namespace velto::sim {

namespace {

struct Object {
  std::unique_ptr<unsigned char[]> bytes;
  std::size_t size = 0;
  int mappings = 0;
};

std::string& Prefix() {
  static std::string prefix = "velto-sim-";
  return prefix;
}

std::map<std::string, Object>& Objects() {
  static std::map<std::string, Object> objects;
  return objects;
}

}  // namespace

void SetSharedMemoryPrefix(const std::string& prefix) { Prefix() = prefix; }
const std::string& SharedMemoryPrefix() { return Prefix(); }

void RemoveSharedMemory(const char* name) {
  const auto it = Objects().find(Prefix() + name);
  if (it != Objects().end() && it->second.mappings == 0) Objects().erase(it);
}

void FailSharedMemory(bool fail) { detail::KeptState().failSharedMemory = fail; }

namespace detail {

platform::SharedMapping OpenShm(const char* name, std::size_t size) {
  if (KeptState().failSharedMemory) return {};
  Object& object = Objects()[Prefix() + name];
  if (object.size < size) {
    // Grown as ftruncate grows a new object: zero-filled; a block already
    // mapped is not moved.
    if (object.mappings != 0) return {};
    object.bytes = std::make_unique<unsigned char[]>(size);
    object.size = size;
  }
  ++object.mappings;
  return {object.bytes.get(), 1};
}

void CloseShm(const platform::SharedMapping& mapping, std::size_t) {
  if (mapping.view == nullptr) return;
  for (auto& [objectName, object] : Objects()) {
    if (object.bytes.get() == mapping.view && object.mappings > 0) {
      --object.mappings;
      return;
    }
  }
}

}  // namespace detail

}  // namespace velto::sim
