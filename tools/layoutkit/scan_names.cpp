#include "layoutkit/scan_names.h"

#include "layoutkit/text.h"
#include "shared/keys.h"

namespace velto::layoutkit {

namespace {

struct NamedKey {
  const char* name;
  std::uint16_t scan;
};

// The keys other than the modifier keys (shared/keys.h names those). The
// first name of a scan code is its canonical one.
constexpr NamedKey kKeys[] = {
    {"ESC", 0x01}, {"1", 0x02}, {"2", 0x03}, {"3", 0x04}, {"4", 0x05}, {"5", 0x06},
    {"6", 0x07}, {"7", 0x08}, {"8", 0x09}, {"9", 0x0A}, {"0", 0x0B}, {"MINUS", 0x0C},
    {"EQUALS", 0x0D}, {"BACK", 0x0E}, {"TAB", 0x0F}, {"Q", 0x10}, {"W", 0x11}, {"E", 0x12},
    {"R", 0x13}, {"T", 0x14}, {"Y", 0x15}, {"U", 0x16}, {"I", 0x17}, {"O", 0x18}, {"P", 0x19},
    {"LBRACKET", 0x1A}, {"RBRACKET", 0x1B}, {"ENTER", 0x1C}, {"A", 0x1E},
    {"S", 0x1F}, {"D", 0x20}, {"F", 0x21}, {"G", 0x22}, {"H", 0x23}, {"J", 0x24}, {"K", 0x25},
    {"L", 0x26}, {"SEMICOLON", 0x27}, {"QUOTE", 0x28}, {"GRAVE", 0x29},
    {"BACKSLASH", 0x2B}, {"Z", 0x2C}, {"X", 0x2D}, {"C", 0x2E}, {"V", 0x2F}, {"B", 0x30},
    {"N", 0x31}, {"M", 0x32}, {"COMMA", 0x33}, {"PERIOD", 0x34}, {"SLASH", 0x35},
    {"NUM_MUL", 0x37}, {"SPACE", 0x39},
    {"F1", 0x3B}, {"F2", 0x3C}, {"F3", 0x3D}, {"F4", 0x3E}, {"F5", 0x3F}, {"F6", 0x40},
    {"F7", 0x41}, {"F8", 0x42}, {"F9", 0x43}, {"F10", 0x44}, {"PAUSE", 0x45},
    {"SCROLL_LOCK", kScrollLockScan}, {"NUM_7", 0x47}, {"NUM_8", 0x48}, {"NUM_9", 0x49},
    {"NUM_MINUS", 0x4A}, {"NUM_4", 0x4B}, {"NUM_5", 0x4C}, {"NUM_6", 0x4D}, {"NUM_PLUS", 0x4E},
    {"NUM_1", 0x4F}, {"NUM_2", 0x50}, {"NUM_3", 0x51}, {"NUM_0", 0x52}, {"NUM_DEL", 0x53},
    {"OEM102", 0x56}, {"F11", 0x57}, {"F12", 0x58}, {"NUM_ENTER", 0x11C},
    {"NUM_DIV", 0x135}, {"PRTSC", 0x137}, {"NUM_LOCK", kScanNumLock},
    {"HOME", 0x147}, {"UP", 0x148}, {"PGUP", 0x149}, {"LEFT", 0x14B}, {"RIGHT", 0x14D},
    {"END", 0x14F}, {"DOWN", 0x150}, {"PGDN", 0x151}, {"INS", 0x152}, {"DEL", 0x153},
    {"APP", kScanApps},
    // Other spellings.
    {"BACKSPACE", 0x0E}, {"ESCAPE", 0x01}, {"APPS", kScanApps},
};

// `name` in any case against a name as the tables write it, in upper case.
bool SameName(std::string_view name, std::string_view upper) { return Upper(name) == upper; }

}  // namespace

std::optional<std::uint16_t> ScanOfKeyName(std::string_view name) {
  if (name.size() > 3 && StartsWithNoCase(name, "sc:")) {
    // Any number of leading zeros, then at most three digits up to 1FF.
    std::string_view digits = name.substr(3);
    const std::size_t first = digits.find_first_not_of('0');
    digits = first == std::string_view::npos ? digits.substr(digits.size() - 1) : digits.substr(first);
    const std::optional<unsigned> value = ParseHex(digits, 3);
    if (!value || *value >= kScanCodes) return std::nullopt;
    return static_cast<std::uint16_t>(*value);
  }
  for (const ModifierKey& k : kModifierKeys) {
    if (SameName(name, k.keyName) || (!k.alias.empty() && SameName(name, k.alias))) return k.scan;
  }
  for (const NamedKey& k : kKeys) {
    if (SameName(name, k.name)) return k.scan;
  }
  return std::nullopt;
}

std::string KeyNameOfScan(std::uint16_t scan) {
  for (const ModifierKey& k : kModifierKeys) {
    if (k.scan == scan) return std::string(k.keyName);
  }
  for (const NamedKey& k : kKeys) {
    if (k.scan == scan) return k.name;
  }
  return "sc:" + LowerHex(scan, 1);
}

}  // namespace velto::layoutkit
