// Fuzzes macro expansion and the action player: any macro text, expanded in
// any of the three modes while the user holds any modifiers, then played
// through the simulated system until nothing is left, with the invariants
// checked after every step; then the user lets go and nothing may stay down.
//
// The input: byte 0 the mode (bits 0..6 modulo 3: 0 table entry, 1 character
// then Left, 2 one character; bit 7: the text is read in a Unicode character
// set, where bytes from 0x80 stand for characters beyond U+FFFF), bytes 1
// and 2 the `modifiers` bits held (0..7 and 10, the others are ignored), the
// rest the macro text (at most 255 bytes; the character modes take its first
// byte).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "delivery/macro.h"
#include "fuzz_system.h"
#include "intercept/modifiers.h"
#include "shared/charset.h"
#include "shared/keys.h"

namespace {

// The key of each `modifiers` bit; bit 10 is Caps Lock held.
constexpr struct {
  std::uint8_t bit;
  std::uint16_t scan;
} kHeld[] = {
    {velto::kModLeftCtrl, velto::kScanLeftCtrl},   {velto::kModRightCtrl, velto::kScanRightCtrl},
    {velto::kModLeftAlt, velto::kScanLeftAlt},     {velto::kModRightAlt, velto::kScanRightAlt},
    {velto::kModLeftWin, velto::kScanLeftWin},     {velto::kModRightWin, velto::kScanRightWin},
    {velto::kModLeftShift, velto::kScanLeftShift}, {velto::kModRightShift, velto::kScanRightShift},
    {velto::kModCapsHeld, velto::kScanCapsLock},
};

constexpr std::uint16_t kScanF1 = 0x3B;

// Layout 0 reads its bytes in a Unicode set: ASCII as itself, the rest as
// emoji, each sent as two halves.
void GiveUnicodeSet(velto::layoutkit::KeyboardDescription& d) {
  velto::CharSetHeader h{};
  h.codePage = velto::kUnicodeCodePageId;
  std::memcpy(h.mark, velto::kCharSetMark, sizeof h.mark);
  h.kind = static_cast<std::uint8_t>(velto::CharSetKind::kUnicode);
  h.tableEntry = velto::kLastUnicodeTableEntry;
  std::memcpy(d.layouts[0].reserved, &h, sizeof h);
  auto* table = reinterpret_cast<std::uint8_t*>(&d.macros.entries[h.tableEntry]);
  for (unsigned b = 1; b < 256; ++b) {
    const char32_t c = b < 0x80 ? b : 0x1F600 + b;
    for (unsigned i = 0; i < 3; ++i) table[3 * b + i] = static_cast<std::uint8_t>(c >> (8 * i));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static velto::fuzzing::FuzzSystem sys;
  if (size < 3) return 0;
  const auto mode = static_cast<velto::MacroMode>((data[0] & 0x7F) % 3);
  const bool unicode = (data[0] & 0x80) != 0;
  const unsigned mods = (data[1] | unsigned{data[2]} << 8) & velto::kModifierKeysMask;
  const std::string_view text(reinterpret_cast<const char*>(data + 3), size - 3 > 255 ? 255 : size - 3);
  if (mode != velto::MacroMode::kTable && text.empty()) return 0;

  // A description that leaves every key to the system, but for macro 1.
  velto::layoutkit::KeyboardDescription d;
  d.SetMacro(1, text);
  if (unicode) GiveUnicodeSet(d);
  sys.Start(d);
  // A key the system types nothing for: the library learns the window that
  // has the focus, where the macro's characters go.
  sys.Press(kScanF1);
  sys.Release(kScanF1);
  std::vector<std::uint16_t> held;
  for (const auto& key : kHeld) {
    if (mods >> key.bit & 1) {
      sys.Press(key.scan);
      held.push_back(key.scan);
    }
  }

  const std::uint8_t index = mode == velto::MacroMode::kTable ? 1 : static_cast<std::uint8_t>(text[0]);
  sys.AsController([&] { velto::ExpandMacro(velto::TheRegion(), index, mode, unicode ? 0 : -1); });
  sys.Settle();
  for (const std::uint16_t scan : held) sys.Release(scan);
  sys.Settle();
  return 0;
}
