#include "testing/region_fixture.h"

#include <unistd.h>

#include <atomic>
#include <string>

namespace velto::testing {

void RegionTest::SetUp() {
  static std::atomic<int> counter{0};
  sim::FailSharedMemory(false);
  sim::Reset();
  sim::SetSharedMemoryPrefix("velto-test-" + std::to_string(::getpid()) + "-" +
                             std::to_string(counter++) + "-");
  sim::RemoveSharedMemory(kRegionName);  // left by a killed process of the same pid
  ASSERT_TRUE(AttachRegion());
  ResetState(TheRegion());
}

void RegionTest::TearDown() {
  DetachRegion();
  sim::RemoveSharedMemory(kRegionName);
}

sim::KeyEventCall Down(std::uint8_t vk, std::uint32_t flags) { return {vk, 0, flags}; }
sim::KeyEventCall Up(std::uint8_t vk, std::uint32_t flags) { return {vk, 0, flags | 2}; }

}  // namespace velto::testing
