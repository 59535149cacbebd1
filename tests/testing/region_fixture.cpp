#include "testing/region_fixture.h"

namespace velto::testing {

void RegionTest::SetUp() {
  ASSERT_TRUE(system_.Up(simharness::Attach::kRegion));
  ResetState(TheRegion());
}

void RegionTest::TearDown() { system_.Down(); }

sim::KeyEventCall Down(std::uint8_t vk, std::uint32_t flags) { return {vk, 0, flags}; }
sim::KeyEventCall Up(std::uint8_t vk, std::uint32_t flags) { return {vk, 0, flags | 2}; }

}  // namespace velto::testing
