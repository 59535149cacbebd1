// velto-sim's text: each event, decision, message and notice of a run as
// its trace shows it, and what the focus window received as the output
// shows it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "layoutkit/layout_builder.h"
#include "platform/platform.h"
#include "sim/sim.h"

namespace velto::simrun {

// 0x.. with at least `digits` hex digits.
std::string Hex(unsigned value, int digits = 2);

// A character as the trace shows it: `c` is what `byte` stands for (0 for
// nothing); the byte is shown beside a character beyond ASCII when it differs.
std::string CharText(char32_t c, std::uint8_t byte);
// A UTF-16 unit posted as a Unicode WM_CHAR.
std::string UnitText(char16_t unit);
// A queued result; `charText` shows its character byte.
std::string ResultText(const std::function<std::string(std::uint8_t)>& charText, std::uint32_t r);
// " NAME" of the key in a key message's lParam; nothing for scan code 0, as
// synthesized keys often have.
std::string KeyOfLParam(platform::LParam lParam);
// A key event the library synthesized.
std::string SentText(const sim::KeyEventCall& e);
std::string LedsText(std::uint16_t leds);
std::string LayoutText(const layoutkit::KeyboardDescription& d, unsigned layout);
// A notice the controller's window received.
std::string NoticeText(platform::WParam wParam, platform::LParam lParam);
std::string MessageName(std::uint32_t message);

// Appends one character received as WM_CHAR, as the output shows it: '\r'
// as a line break, '\t' as it is, other control characters (below 32, and
// 127) not at all, the rest in UTF-8. `c` is what the byte stands for, 0 for
// nothing (shown as U+FFFD).
void AppendReceived(std::string& out, char32_t c, std::uint8_t byte);
// The same for one UTF-16 unit of a Unicode WM_CHAR: a high half waits in
// `high` for its low half; a half without its other one shows as U+FFFD.
void AppendReceivedUnit(std::string& out, char16_t& high, char16_t unit);

}  // namespace velto::simrun
