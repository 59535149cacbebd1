#include "simrun/trace.h"

#include <cstdio>
#include <cstring>

#include "delivery/own_keys.h"
#include "intercept/lookup.h"
#include "layoutkit/codepage.h"
#include "layoutkit/scan_names.h"
#include "layoutkit/text.h"
#include "sim/us_layout.h"
#include "shared/notice.h"
#include "shared/region.h"

namespace velto::simrun {

namespace {

// The virtual keys of the generic modifiers, which synthesized events may
// carry without a scan code.
constexpr struct {
  std::uint8_t vk;
  const char* name;
} kGenericModifiers[] = {{0x10, "SHIFT"}, {0x11, "CTRL"}, {0x12, "ALT"}};

constexpr struct {
  std::uint32_t message;
  const char* name;
} kKeyMessages[] = {
    {sim::kWmKeyDown, "WM_KEYDOWN"}, {sim::kWmKeyUp, "WM_KEYUP"},   {sim::kWmSysKeyDown, "WM_SYSKEYDOWN"},
    {sim::kWmSysKeyUp, "WM_SYSKEYUP"}, {sim::kWmChar, "WM_CHAR"}, {sim::kWmSysChar, "WM_SYSCHAR"},
};

// The key of a synthesized event: by its scan code when it has one, else by
// its virtual key.
std::string SentKeyName(const sim::KeyEventCall& e) {
  const bool extended = (e.flags & platform::kKeyEventExtendedKey) != 0;
  if (IsMarker(e.vk)) return "(marker)";
  if (e.scan != 0)
    return layoutkit::KeyNameOfScan(static_cast<std::uint16_t>(e.scan | (extended ? 0x100 : 0)));
  std::string name;
  for (const auto& modifier : kGenericModifiers) {
    if (modifier.vk == e.vk) name = modifier.name;
  }
  const sim::UsKey* key = name.empty() ? sim::UsKeyByVk(e.vk) : nullptr;
  if (key != nullptr) name = layoutkit::KeyNameOfScan(key->scan);
  if (extended) name += name.empty() ? "extended" : " extended";
  return name;
}

}  // namespace

std::string Hex(unsigned value, int digits) { return "0x" + layoutkit::Hex(value, digits); }

std::string CharText(char32_t c, std::uint8_t byte) {
  switch (byte) {
    case '\r':
      return "'\\r'";
    case '\t':
      return "'\\t'";
    case '\b':
      return "'\\b'";
    default:
      break;
  }
  if (c < 32 || c == 127) return Hex(byte);
  std::string s = "'";
  layoutkit::AppendUtf8(s, c);
  s += "'";
  if (byte >= 0x80 || c >= 0x80) s += " " + Hex(byte);
  return s;
}

std::string UnitText(char16_t unit) {
  const std::string hex = layoutkit::CodePoint(unit);
  if (unit >= 0xD800 && unit <= 0xDFFF) return hex + (unit < 0xDC00 ? " (high half)" : " (low half)");
  if (unit < 32 || unit == 127) return hex;
  std::string s = "'";
  layoutkit::AppendUtf8(s, unit);
  return s + "' " + hex;
}

std::string ResultText(const std::function<std::string(std::uint8_t)>& charText, std::uint32_t r) {
  const std::uint8_t ch = ResultChar(r);
  switch (ResultKindOf(r)) {
    case kKindChar:
      return "char " + charText(ch);
    case kKindDeadKey:
      return "dead key " + charText(ch);
    case kKindMacro:
      return "macro " + std::to_string(ch);
    case kKindCharThenLeft:
      return "char then Left " + charText(ch);
    case kKindOneCharMacro:
      return "one-character macro " + charText(ch);
    case kKindKeyPress:
      return "key press vk " + Hex(ch);
    default:
      return "kind " + std::to_string(ResultKindOf(r)) + " value " + Hex(ch);
  }
}

std::string KeyOfLParam(platform::LParam lParam) {
  const auto bits = static_cast<std::uint32_t>(lParam);
  const auto scan = static_cast<std::uint16_t>(((bits >> 16) & 0xFF) | ((bits >> 24) & 1) << 8);
  return scan == 0 ? std::string() : " " + layoutkit::KeyNameOfScan(scan);
}

std::string SentText(const sim::KeyEventCall& e) {
  const bool up = (e.flags & platform::kKeyEventKeyUp) != 0;
  std::string s = std::string("sent ") + (up ? "up" : "down") + " vk " + Hex(e.vk);
  const std::string name = SentKeyName(e);
  if (!name.empty()) s += " " + name;
  return s;
}

std::string LedsText(std::uint16_t leds) {
  std::string s;
  if (leds & 1u << kLedNumLock) s += " Num";
  if (leds & 1u << kLedCapsLock) s += " Caps";
  if (leds & 1u << kLedScrollLock) s += " Scroll";
  return "lights:" + (s.empty() ? std::string(" none") : s);
}

std::string LayoutText(const layoutkit::KeyboardDescription& d, unsigned layout) {
  std::string s = "layout " + std::to_string(layout);
  if (layout < kLayouts) {
    const char* name = d.layouts[layout].name;
    const std::string n(name, strnlen(name, kLayoutNameSize));
    if (!n.empty()) s += " (" + n + ")";
  }
  return s;
}

std::string NoticeText(platform::WParam wParam, platform::LParam lParam) {
  std::string s = "notice wParam " + std::to_string(wParam);
  std::string what;
  if (IsKeyNotice(wParam)) {
    what = "key translated";
  } else {
    if (wParam & 1u << kChangeLayoutOrEnable) what = "layout or translation";
    if (wParam & 1u << kChangeLeds) what += what.empty() ? "lights" : ", lights";
  }
  if (!what.empty()) s += " (" + what + ")";
  const auto key = static_cast<std::uint32_t>(lParam);
  s += " lParam " + Hex(key, 3);
  if (key != 0) {
    const KeyNotice notice = DecodeKeyInfo(key);
    s += " (" + layoutkit::KeyNameOfScan(notice.scan) + (notice.keyUp ? " up)" : " down)");
  }
  return s;
}

std::string MessageName(std::uint32_t message) {
  for (const auto& known : kKeyMessages) {
    if (known.message == message) return known.name;
  }
  return "message " + Hex(message, 4);
}

void AppendReceived(std::string& out, char32_t c, std::uint8_t byte) {
  if (byte == '\r') {
    out += '\n';
  } else if (byte == '\t') {
    out += '\t';
  } else if (byte >= 32 && byte != 127) {
    layoutkit::AppendUtf8(out, c == 0 ? U'\uFFFD' : c);
  }
}

void AppendReceivedUnit(std::string& out, char16_t& high, char16_t unit) {
  const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
  if (high != 0 && !low) layoutkit::AppendUtf8(out, U'\uFFFD');
  if (unit >= 0xD800 && unit < 0xDC00) {
    high = unit;
    return;
  }
  if (low) {
    layoutkit::AppendUtf8(out, high != 0 ? 0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00) : 0xFFFD);
  } else {
    AppendReceived(out, unit, static_cast<std::uint8_t>(unit < 0x80 ? unit : 0x80));
  }
  high = 0;
}

}  // namespace velto::simrun
