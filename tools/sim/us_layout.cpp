#include "sim/us_layout.h"

#include <iterator>

namespace velto::sim {

namespace {

constexpr std::uint16_t kExt = 0x100;

constexpr UsKey kKeys[] = {
    {0x1B, 0x01, 0x1B, 0x1B},  // Esc
    {'1', 0x02, '1', '!'}, {'2', 0x03, '2', '@'}, {'3', 0x04, '3', '#'}, {'4', 0x05, '4', '$'},
    {'5', 0x06, '5', '%'}, {'6', 0x07, '6', '^'}, {'7', 0x08, '7', '&'}, {'8', 0x09, '8', '*'},
    {'9', 0x0A, '9', '('}, {'0', 0x0B, '0', ')'},
    {0xBD, 0x0C, '-', '_'}, {0xBB, 0x0D, '=', '+'},
    {0x08, 0x0E, 0x08, 0x08},  // Backspace
    {0x09, 0x0F, '\t', '\t'},
    {'Q', 0x10, 'q', 'Q'}, {'W', 0x11, 'w', 'W'}, {'E', 0x12, 'e', 'E'}, {'R', 0x13, 'r', 'R'},
    {'T', 0x14, 't', 'T'}, {'Y', 0x15, 'y', 'Y'}, {'U', 0x16, 'u', 'U'}, {'I', 0x17, 'i', 'I'},
    {'O', 0x18, 'o', 'O'}, {'P', 0x19, 'p', 'P'},
    {0xDB, 0x1A, '[', '{'}, {0xDD, 0x1B, ']', '}'},
    {0x0D, 0x1C, '\r', '\r'},  // Enter
    {0x11, 0x1D, 0, 0},        // left Ctrl
    {'A', 0x1E, 'a', 'A'}, {'S', 0x1F, 's', 'S'}, {'D', 0x20, 'd', 'D'}, {'F', 0x21, 'f', 'F'},
    {'G', 0x22, 'g', 'G'}, {'H', 0x23, 'h', 'H'}, {'J', 0x24, 'j', 'J'}, {'K', 0x25, 'k', 'K'},
    {'L', 0x26, 'l', 'L'},
    {0xBA, 0x27, ';', ':'}, {0xDE, 0x28, '\'', '"'}, {0xC0, 0x29, '`', '~'},
    {0x10, 0x2A, 0, 0},  // left Shift
    {0xDC, 0x2B, '\\', '|'},
    {'Z', 0x2C, 'z', 'Z'}, {'X', 0x2D, 'x', 'X'}, {'C', 0x2E, 'c', 'C'}, {'V', 0x2F, 'v', 'V'},
    {'B', 0x30, 'b', 'B'}, {'N', 0x31, 'n', 'N'}, {'M', 0x32, 'm', 'M'},
    {0xBC, 0x33, ',', '<'}, {0xBE, 0x34, '.', '>'}, {0xBF, 0x35, '/', '?'},
    {0x10, 0x36, 0, 0},  // right Shift
    {0x6A, 0x37, '*', '*'},
    {0x12, 0x38, 0, 0},  // left Alt
    {' ', 0x39, ' ', ' '},
    {0x14, 0x3A, 0, 0},  // Caps Lock
    {0x70, 0x3B, 0, 0}, {0x71, 0x3C, 0, 0}, {0x72, 0x3D, 0, 0}, {0x73, 0x3E, 0, 0},
    {0x74, 0x3F, 0, 0}, {0x75, 0x40, 0, 0}, {0x76, 0x41, 0, 0}, {0x77, 0x42, 0, 0},
    {0x78, 0x43, 0, 0}, {0x79, 0x44, 0, 0},
    {0x90, kExt | 0x45, 0, 0},  // Num Lock
    {0x91, 0x46, 0, 0},         // Scroll Lock
    {0x67, 0x47, '7', '7'}, {0x68, 0x48, '8', '8'}, {0x69, 0x49, '9', '9'},
    {0x6D, 0x4A, '-', '-'},
    {0x64, 0x4B, '4', '4'}, {0x65, 0x4C, '5', '5'}, {0x66, 0x4D, '6', '6'},
    {0x6B, 0x4E, '+', '+'},
    {0x61, 0x4F, '1', '1'}, {0x62, 0x50, '2', '2'}, {0x63, 0x51, '3', '3'},
    {0x60, 0x52, '0', '0'}, {0x6E, 0x53, '.', '.'},
    {0x7A, 0x57, 0, 0}, {0x7B, 0x58, 0, 0},  // F11, F12
    {0x11, kExt | 0x1D, 0, 0},  // right Ctrl
    {0x12, kExt | 0x38, 0, 0},  // right Alt
    {0x6F, kExt | 0x35, '/', '/'},
    {0x24, kExt | 0x47, 0, 0}, {0x26, kExt | 0x48, 0, 0}, {0x21, kExt | 0x49, 0, 0},
    {0x25, kExt | 0x4B, 0, 0}, {0x27, kExt | 0x4D, 0, 0}, {0x23, kExt | 0x4F, 0, 0},
    {0x28, kExt | 0x50, 0, 0}, {0x22, kExt | 0x51, 0, 0}, {0x2D, kExt | 0x52, 0, 0},
    {0x2E, kExt | 0x53, 0, 0},
    {0x5B, kExt | 0x5B, 0, 0}, {0x5C, kExt | 0x5C, 0, 0}, {0x5D, kExt | 0x5D, 0, 0},
    {0xA0, 0x2A, 0, 0},  // VK_LSHIFT
    {0xA2, 0x1D, 0, 0},  // VK_LCONTROL
    {0xA4, 0x38, 0, 0},  // VK_LMENU
    {0xA1, 0x36, 0, 0},  // VK_RSHIFT
    {0xA3, kExt | 0x1D, 0, 0},  // VK_RCONTROL
    {0xA5, kExt | 0x38, 0, 0},  // VK_RMENU
    {0x0D, kExt | 0x1C, '\r', '\r'},  // keypad Enter
    {0x0C, 0x4C, 0, 0},               // VK_CLEAR: keypad 5 without Num Lock
};

constexpr std::uint8_t kVkClear = 0x0C;
constexpr std::uint8_t kNoKey = 0xFF;

// The keypad keys that Num Lock switches: 7 8 9, 4 5 6, 1 2 3, 0 and the point.
bool IsNumLockKey(std::uint16_t scan) {
  return scan >= 0x47 && scan <= 0x53 && scan != 0x4A && scan != 0x4E;
}

}  // namespace

const UsKey* UsKeyByVk(std::uint8_t vk) {
  for (const UsKey& key : kKeys) {
    if (key.vk == vk) return &key;
  }
  return nullptr;
}

const UsKey* UsKeyByScan(std::uint16_t scan) {
  for (const UsKey& key : kKeys) {
    if (key.scan == scan) return &key;
  }
  return nullptr;
}

std::uint8_t UsVkOfScan(std::uint16_t scan, bool numLock) {
  if (!numLock && IsNumLockKey(scan)) {
    if (scan == 0x4C) return kVkClear;
    scan |= kExt;  // the navigation key at the same place
  }
  const UsKey* key = UsKeyByScan(scan);
  return key == nullptr ? kNoKey : key->vk;
}

std::int16_t UsVkKeyScan(char ch) {
  for (const UsKey& key : kKeys) {
    if (key.vk >= 0x60 && key.vk <= 0x6F) continue;  // the keypad is never the answer
    if (key.normal != 0 && key.normal == ch) return key.vk;
    if (key.shifted != 0 && key.shifted == ch) return static_cast<std::int16_t>(0x100 | key.vk);
  }
  const unsigned char c = static_cast<unsigned char>(ch);
  if (c >= 1 && c <= 26) return static_cast<std::int16_t>(0x200 | ('A' + c - 1));  // Ctrl+letter
  return -1;
}

char UsCharOf(std::uint8_t vk, bool shift, bool ctrl, bool capsLock) {
  const UsKey* key = UsKeyByVk(vk);
  if (key == nullptr || key->normal == 0) return 0;
  const bool letter = key->normal >= 'a' && key->normal <= 'z';
  if (ctrl) return letter ? static_cast<char>(key->normal - 'a' + 1) : 0;
  const bool upper = letter ? (shift != capsLock) : shift;
  return upper ? key->shifted : key->normal;
}

}  // namespace velto::sim
