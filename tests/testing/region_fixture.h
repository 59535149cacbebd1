// A fresh shared region per test, under a name no other test uses.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sim/sim.h"
#include "shared/region.h"
#include "simharness/system.h"

namespace velto::testing {

class RegionTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const Region& region() const { return TheRegion(); }
  ControlBlock& cb() const { return TheRegion().control(); }
  OptionBlock& options() const { return TheRegion().options(); }

 private:
  simharness::SimSystem system_;
};

// Short names for key events recorded by the simulated platform.
sim::KeyEventCall Down(std::uint8_t vk, std::uint32_t flags = 0);
sim::KeyEventCall Up(std::uint8_t vk, std::uint32_t flags = 0);

}  // namespace velto::testing
