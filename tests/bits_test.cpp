#include <gtest/gtest.h>

#include "shared/bits.h"

namespace velto {
namespace {

TEST(Bits, SetClearToggleAndTest) {
  std::uint16_t w = 0;
  SetBit(&w, 10, 1);
  EXPECT_EQ(w, 0x0400);
  SetBit(&w, 0, -5);  // any non-zero flag sets
  EXPECT_EQ(w, 0x0401);
  SetBit(&w, 10, 0);
  EXPECT_EQ(w, 0x0001);
  ToggleBit(&w, 15);
  EXPECT_EQ(w, 0x8001);
  ToggleBit(&w, 0);
  EXPECT_EQ(w, 0x8000);
  EXPECT_EQ(TestBit(w, 15), 1);
  EXPECT_EQ(TestBit(w, 14), 0);
}

TEST(Bits, BitNumbersSixteenToThirtyOneDoNothing) {
  for (std::uint8_t n : {16, 20, 31}) {
    std::uint16_t w = 0xFFFF;
    SetBit(&w, n, 0);
    ToggleBit(&w, n);
    EXPECT_EQ(w, 0xFFFF);
    SetBit(&w, n, 1);
    EXPECT_EQ(w, 0xFFFF);
    EXPECT_EQ(TestBit(0xFFFF, n), 0);
  }
}

TEST(Bits, BitNumbersWrapModuloThirtyTwo) {
  std::uint16_t w = 0;
  SetBit(&w, 33, 1);  // 33 % 32 == 1
  EXPECT_EQ(w, 0x0002);
  EXPECT_EQ(TestBit(w, 33), 1);
}

}  // namespace
}  // namespace velto
