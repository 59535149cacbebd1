#include <gtest/gtest.h>

#include "delivery/macro.h"

namespace velto {
namespace {

TEST(KeyNames, EveryRowOfTheTable) {
  const std::pair<const char*, std::uint16_t> rows[] = {
      {"ESC", 0x1B},      {"BACK", 0x08},       {"TAB", 0x09},        {"ENTER", 0x0D},
      {"SPACE", 0x20},    {"LSHIFT", 0x10},     {"RSHIFT", 0x110},    {"LCTRL", 0x11},
      {"RCTRL", 0x111},   {"LALT", 0x12},       {"RALT", 0x112},      {"LWIN", 0x5B},
      {"RWIN", 0x5C},     {"APP", 0x5D},        {"CAPS_LOCK", 0x14},  {"PRTSC", 0x2C},
      {"SCROLL_LOCK", 0x91}, {"PAUSE", 0x13},   {"INS", 0x2D},        {"DEL", 0x2E},
      {"HOME", 0x24},     {"END", 0x23},        {"PGUP", 0x21},       {"PGDN", 0x22},
      {"UP", 0x126},      {"DOWN", 0x128},      {"LEFT", 0x125},      {"RIGHT", 0x127},
      {"F1", 0x70},       {"F9", 0x78},         {"F10", 0x79},        {"F12", 0x7B},
      {"NUM_LOCK", 0x90}, {"NUM_DIV", 0x6F},    {"NUM_MUL", 0x6A},    {"NUM_MINUS", 0x6D},
      {"NUM_PLUS", 0x6B}, {"NUM_DEL", 0x6E},    {"NUM_ENTER", 0x10D}, {"NUM_0", 0x60},
      {"NUM_5", 0x65},    {"NUM_9", 0x69},
  };
  for (auto [name, vk] : rows) EXPECT_EQ(LookupKeyName(name), vk) << name;
}

TEST(KeyNames, CaseDoesNotMatterButEveryCharacterDoes) {
  EXPECT_EQ(LookupKeyName("left"), 0x125);
  EXPECT_EQ(LookupKeyName("Num_Enter"), 0x10D);
  EXPECT_EQ(LookupKeyName("f1"), 0x70);
  EXPECT_EQ(LookupKeyName("F13"), 0);
  EXPECT_EQ(LookupKeyName("F"), 0);
  EXPECT_EQ(LookupKeyName("LEFT "), 0);
  EXPECT_EQ(LookupKeyName(""), 0);
  EXPECT_EQ(LookupKeyName("a"), 0);
  EXPECT_EQ(LookupKeyName(nullptr), 0);
}

}  // namespace
}  // namespace velto
