#include "simrun/session.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "control/exports.h"
#include "delivery/macro.h"
#include "intercept/lookup.h"
#include "layoutkit/codepage.h"
#include "layoutkit/scan_names.h"
#include "layoutkit/text.h"
#include "layoutkit/vkb.h"
#include "sim/sim.h"
#include "sim/us_layout.h"
#include "shared/keys.h"
#include "shared/region.h"
#include "simharness/system.h"
#include "simrun/trace.h"

namespace velto::simrun {

using layoutkit::KeyboardDescription;
using platform::Handle;
using platform::LParam;
using platform::WParam;

namespace {

// Ticks allowed for the queues to drain and playback to end after one event
// (the longest macro takes a few hundred); then one sweep interval more, so
// that the modifier sweep runs.
constexpr int kMaxSettleTicks = 5000;
constexpr int kSweepTicks = kSweepInterval + 1;
constexpr std::size_t kEventColumn = 16;

}  // namespace

char32_t Session::AnsiChar(std::uint8_t byte) const {
  return layoutkit::DecodeByte(layoutkit::LayoutCodePage(d_, cb().currentLayout), byte);
}

std::string Session::CharTextIn(int layout, std::uint8_t byte) const {
  return CharText(layoutkit::LayoutChar(d_, static_cast<unsigned>(layout), byte), byte);
}

bool Session::Start(const SimOptions& options) {
  if (TheRegion().valid()) {
    out_.error = "the shared region is already attached in this process";
    return false;
  }
  if (!system_.Up()) {
    out_.error = "cannot map the shared region";
    return false;
  }
  // Before InstallHook, so that its refresh of the lights sees them.
  sim::SetToggled(kVkCapital, options.capsLock);
  sim::SetToggled(kVkNumLock, options.numLock);

  system_.StartController(d_);
  SelectLayout(options.layout);
  sim::Pump();
  sim::SetFocus(system_.app);
  Settle();
  sim::ClearKeyEvents();
  sim::ClearDispatched();

  keyHook_ = sim::InstallTestHook(sim::kKeyboard,
                                  [this](int code, WParam w, LParam l) { return OnKey(code, w, l); });
  messageHook_ = sim::InstallTestHook(sim::kGetMessage,
                                      [this](int code, WParam w, LParam l) { return OnMessage(code, w, l); });
  layout_ = cb().currentLayout;
  enabled_ = cb().enabled != 0;
  leds_ = cb().leds;
  lines_.push_back("start  " + LayoutText(d_, layout_) + ", translation " + (enabled_ ? "on" : "off") + ", " +
                   LedsText(leds_));
  return true;
}

void Session::Finish() {
  if (finished_) return;
  finished_ = true;
  if (keyHook_ != 0) sim::UnhookTestHook(keyHook_);
  if (messageHook_ != 0) sim::UnhookTestHook(messageHook_);
  if (system_.controller != 0) {
    sim::RunAs(system_.controllerThread);
    RemoveHook(system_.controller);
  }
  system_.Down();
  for (const std::string& line : lines_) out_.trace += line + "\n";
}

Played Session::Play(const KeyAction& action) {
  played_ = {};
  eventLine_ = lines_.size();
  lines_.push_back(std::string(action.up ? "up " : "down ") + layoutkit::KeyNameOfScan(action.scan));
  awaitingEvent_ = true;
  if (action.up) {
    sim::KeyUp(action.scan);
  } else {
    sim::KeyDown(action.scan);
  }
  Settle();
  if (awaitingEvent_) {
    awaitingEvent_ = false;
    std::string& line = lines_[eventLine_];
    line.resize(std::max(line.size() + 2, kEventColumn), ' ');
    line += "hook: not called";
  }
  return std::move(played_);
}

LParam Session::OnKey(int code, WParam wParam, LParam lParam) {
  const std::uint16_t writeBefore = cb().keyQWrite;
  const LParam result = platform::CallNextHook(keyHook_, code, wParam, lParam);
  std::string decision = result != 0 ? "hook: swallowed" : "hook: passed";
  if (awaitingEvent_) played_.swallowed = result != 0;
  const bool queued = cb().keyQWrite != writeBefore && cb().keyQWrite < kKeySlots;
  if (queued) {
    const std::uint32_t r = TheRegion().queues().keys[(cb().keyQWrite + kKeySlots - 1) % kKeySlots];
    const int layout = ResultCharSet(r) >= 0 ? ResultCharSet(r) : cb().currentLayout;
    decision += "  queued: " + ResultText([&](std::uint8_t ch) { return CharTextIn(layout, ch); }, r);
  }
  if (awaitingEvent_) {
    awaitingEvent_ = false;
    std::string& line = lines_[eventLine_];
    line.resize(std::max(line.size() + 2, kEventColumn), ' ');
    line += decision;
  } else if (queued) {
    const bool up = (static_cast<std::uint32_t>(lParam) >> 31) != 0;
    Note(std::string("key ") + (up ? "up" : "down") + " vk " + Hex(static_cast<unsigned>(wParam & 0xFF)) +
         "  " + decision);
  }
  CatchUp();
  return result;
}

LParam Session::OnMessage(int code, WParam wParam, LParam lParam) {
  // The library's hook first: it may turn the message into WM_NULL.
  const LParam next = platform::CallNextHook(messageHook_, code, wParam, lParam);
  const platform::MessageFields m = platform::ReadHookedMessage(lParam);
  if (m.window == system_.app && m.message != sim::kWmNull) {
    const auto byte = static_cast<std::uint8_t>(m.wParam & 0xFF);
    std::string line = MessageName(m.message);
    // A Unicode WM_CHAR carries a UTF-16 unit; an ANSI one a byte, read
    // here in the active layout's code page.
    const bool unicode = reinterpret_cast<const sim::Message*>(lParam)->unicode;
    const bool isChar = m.message == sim::kWmChar || m.message == sim::kWmSysChar;
    const auto unit = static_cast<char16_t>(m.wParam & 0xFFFF);
    if (isChar && unicode) {
      line += " " + UnitText(unit);
    } else if (isChar) {
      line += " " + CharText(AnsiChar(byte), byte);
    } else {
      line += " vk " + Hex(byte) + KeyOfLParam(m.lParam);
    }
    Note(line);
    const std::size_t before = out_.text.size();
    if (m.message == sim::kWmChar && unicode) AppendReceivedUnit(out_.text, highHalf_, unit);
    if (m.message == sim::kWmChar && !unicode) AppendReceived(out_.text, AnsiChar(byte), byte);
    const bool fromInput = reinterpret_cast<const sim::Message*>(lParam)->fromInput;
    if (out_.text.size() > before) {
      played_.received.push_back({out_.text.substr(before), 0, fromInput});
    } else if (m.message == sim::kWmKeyDown) {
      played_.received.push_back({{}, byte, fromInput});
    }
  } else if (m.window == system_.controller && m.message == cb().notifyMsg && m.message != 0) {
    Note(NoticeText(m.wParam, m.lParam));
  }
  CatchUp();
  return next;
}

void Session::CatchUp() {
  const std::vector<sim::KeyEventCall>& events = sim::KeyEvents();
  for (; keyEventsSeen_ < events.size(); ++keyEventsSeen_) Note(SentText(events[keyEventsSeen_]));
  if (cb().currentLayout != layout_) {
    Note(LayoutText(d_, layout_) + " -> " + LayoutText(d_, cb().currentLayout));
    layout_ = cb().currentLayout;
  }
  if ((cb().enabled != 0) != enabled_) {
    enabled_ = !enabled_;
    Note(enabled_ ? "translation on" : "translation off");
  }
  if (cb().leds != leds_) {
    leds_ = cb().leds;
    Note(LedsText(leds_));
  }
}

bool Session::Busy() const {
  return cb().actQEmpty == 0 || cb().keyQEmpty == 0 || MacroPending(TheRegion()) || cb().playbackWait != 0;
}

void Session::Settle() {
  sim::Pump();
  int ticks = 0;
  for (; ticks < kMaxSettleTicks && Busy(); ++ticks) {
    sim::TickTimers(1);
    if (keyHook_ != 0) CatchUp();
  }
  if (Busy() && keyHook_ != 0) Note("still playing after " + std::to_string(ticks) + " ticks");
  for (int i = 0; i < kSweepTicks; ++i) {
    sim::TickTimers(1);
    if (keyHook_ != 0) CatchUp();
  }
}

bool TypeKeys(std::string_view text, bool capsLock, std::vector<KeyAction>& out, std::string& error) {
  std::vector<KeyAction> keys;
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t c = layoutkit::NextUtf8(text, pos);
    if (c == '\n') c = '\r';
    const std::int16_t code = c < 0x80 ? sim::UsVkKeyScan(static_cast<char>(c)) : -1;
    const sim::UsKey* key = code == -1 ? nullptr : sim::UsKeyByVk(static_cast<std::uint8_t>(code & 0xFF));
    if (key == nullptr) {
      std::string shown;
      if (c >= 32 && c != 127) {
        shown = "'";
        layoutkit::AppendUtf8(shown, c);
        shown += "' ";
      }
      error = "no US key types " + shown + "(" + layoutkit::CodePoint(c) + ")";
      return false;
    }
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool shift = ((code & 0x100) != 0) != (letter && capsLock);
    const bool ctrl = (code & 0x200) != 0;
    if (ctrl) keys.push_back({kScanLeftCtrl, false});
    if (shift) keys.push_back({kScanLeftShift, false});
    keys.push_back({key->scan, false});
    keys.push_back({key->scan, true});
    if (shift) keys.push_back({kScanLeftShift, true});
    if (ctrl) keys.push_back({kScanLeftCtrl, true});
  }
  out.insert(out.end(), keys.begin(), keys.end());
  return true;
}

SimOutput Run(const KeyboardDescription& d, const SimOptions& options) {
  SimOutput out;
  Session session(d, out);
  std::vector<KeyAction> typed;
  if (session.Start(options) &&
      (!options.typeText || TypeKeys(options.text, sim::Toggled(kVkCapital), typed, out.error))) {
    for (const KeyAction& action : options.typeText ? typed : options.keys) session.Play(action);
  }
  session.Finish();
  return out;
}

}  // namespace velto::simrun
