#include <iterator>

#include "delivery/macro.h"

namespace velto {

namespace {

struct KeyName {
  const char* name;
  std::uint16_t vk;
};

constexpr KeyName kKeyNameTable[] = {
    {"ESC", 0x1B},       {"BACK", 0x08},       {"TAB", 0x09},       {"ENTER", 0x0D},
    {"SPACE", 0x20},     {"LSHIFT", 0x10},     {"RSHIFT", 0x110},   {"LCTRL", 0x11},
    {"RCTRL", 0x111},    {"LALT", 0x12},       {"RALT", 0x112},     {"LWIN", 0x5B},
    {"RWIN", 0x5C},      {"APP", 0x5D},        {"CAPS_LOCK", 0x14}, {"PRTSC", 0x2C},
    {"SCROLL_LOCK", 0x91}, {"PAUSE", 0x13},    {"INS", 0x2D},       {"DEL", 0x2E},
    {"HOME", 0x24},      {"END", 0x23},        {"PGUP", 0x21},      {"PGDN", 0x22},
    {"UP", 0x126},       {"DOWN", 0x128},      {"LEFT", 0x125},     {"RIGHT", 0x127},
    {"F1", 0x70},        {"F2", 0x71},         {"F3", 0x72},        {"F4", 0x73},
    {"F5", 0x74},        {"F6", 0x75},         {"F7", 0x76},        {"F8", 0x77},
    {"F9", 0x78},        {"F10", 0x79},        {"F11", 0x7A},       {"F12", 0x7B},
    {"NUM_LOCK", 0x90},  {"NUM_DIV", 0x6F},    {"NUM_MUL", 0x6A},   {"NUM_MINUS", 0x6D},
    {"NUM_PLUS", 0x6B},  {"NUM_DEL", 0x6E},    {"NUM_ENTER", 0x10D}, {"NUM_0", 0x60},
    {"NUM_1", 0x61},     {"NUM_2", 0x62},      {"NUM_3", 0x63},     {"NUM_4", 0x64},
    {"NUM_5", 0x65},     {"NUM_6", 0x66},      {"NUM_7", 0x67},     {"NUM_8", 0x68},
    {"NUM_9", 0x69},
};
static_assert(std::size(kKeyNameTable) == 57);

bool EqualIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const unsigned char ca = static_cast<unsigned char>(*a);
    const unsigned char cb = static_cast<unsigned char>(*b);
    const unsigned char la = (ca >= 'a' && ca <= 'z') ? ca - 32 : ca;
    const unsigned char lb = (cb >= 'a' && cb <= 'z') ? cb - 32 : cb;
    if (la != lb) return false;
    if (ca == 0) return true;
  }
}

}  // namespace

std::uint16_t LookupKeyName(const char* name) {
  if (name == nullptr) return 0;
  for (const KeyName& row : kKeyNameTable) {
    if (EqualIgnoringCase(row.name, name)) return row.vk;
  }
  return 0;
}

}  // namespace velto
