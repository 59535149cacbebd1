// Named shared memory on POSIX shared memory objects.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "sim/state.h"

namespace velto::sim {

namespace {

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
void FailSharedMemory(bool fail) { detail::KeptState().failSharedMemory = fail; }

namespace detail {

platform::SharedMapping OpenShm(const char* name, std::size_t size) {
  if (KeptState().failSharedMemory) return {};
  const std::string object = ObjectName(name);
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

void CloseShm(const platform::SharedMapping& mapping, std::size_t size) {
  if (mapping.view == nullptr) return;  // a failed mapping holds no descriptor
  ::munmap(mapping.view, size);
  ::close(static_cast<int>(mapping.handle));
}

}  // namespace detail

}  // namespace velto::sim
