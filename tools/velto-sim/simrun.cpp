#include "velto-sim/simrun.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>

#include "control/exports.h"
#include "control/procs.h"
#include "delivery/macro.h"
#include "intercept/lookup.h"
#include "layoutkit/codepage.h"
#include "layoutkit/keys.h"
#include "layoutkit/vkb.h"
#include "platform/sim/sim.h"
#include "platform/sim/us_layout.h"
#include "shared/keys.h"
#include "shared/region.h"

namespace velto::simrun {

namespace {

using layoutkit::KeyboardDescription;
using platform::Handle;
using platform::LParam;
using platform::WParam;

// Ticks allowed for the queues to drain and playback to end after one event
// (the longest macro takes a few hundred); then one sweep interval more, so
// that the modifier sweep runs.
constexpr int kMaxSettleTicks = 5000;
constexpr int kSweepTicks = kSweepInterval + 1;
constexpr std::size_t kEventColumn = 16;

std::string Hex(unsigned value, int digits = 2) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%0*X", digits, value);
  return buf;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && Lower(s.substr(0, prefix.size())) == prefix;
}

// --- Key events ------------------------------------------------------------------

bool KeyOfName(std::string_view name, std::uint16_t& scan, std::string& error) {
  if (name.empty()) {
    error = "empty key name";
    return false;
  }
  const std::optional<std::uint16_t> s = layoutkit::ScanOfKeyName(name);
  if (!s) {
    error = "unknown key name '" + std::string(name) + "'";
    return false;
  }
  scan = *s;
  return true;
}

bool IsModifier(std::uint16_t scan) {
  return IsModifierKey(scan) != 0;
}

bool ParseChord(std::string_view token, std::vector<KeyAction>& out, std::string& error) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t plus = token.find('+', start);
    parts.push_back(token.substr(start, plus == std::string_view::npos ? plus : plus - start));
    if (parts.back().empty()) {
      error = "empty key name in '" + std::string(token) + "'";
      return false;
    }
    if (plus == std::string_view::npos) break;
    start = plus + 1;
  }
  std::vector<std::uint16_t> scans;
  for (const std::string_view part : parts) {
    std::uint16_t scan = 0;
    if (!KeyOfName(part, scan, error)) {
      if (parts.size() > 1) error += " in '" + std::string(token) + "'";
      return false;
    }
    const bool last = scans.size() + 1 == parts.size();
    if (!last && !IsModifier(scan)) {
      error = "'" + std::string(part) + "' in '" + std::string(token) +
              "' is not a modifier (lshift rshift lctrl rctrl lalt ralt lwin rwin caps)";
      return false;
    }
    scans.push_back(scan);
  }
  for (const std::uint16_t scan : scans) out.push_back({scan, false});
  out.push_back({scans.back(), true});
  for (std::size_t i = scans.size() - 1; i-- > 0;) out.push_back({scans[i], true});
  return true;
}

bool ParseKeyToken(std::string_view token, std::vector<KeyAction>& out, std::string& error) {
  for (const bool up : {false, true}) {
    const std::string_view prefix = up ? "up:" : "down:";
    if (!StartsWithNoCase(token, prefix)) continue;
    std::uint16_t scan = 0;
    if (!KeyOfName(token.substr(prefix.size()), scan, error)) {
      error += " in '" + std::string(token) + "'";
      return false;
    }
    out.push_back({scan, up});
    return true;
  }
  return ParseChord(token, out, error);
}

// --- Describing what happened ------------------------------------------------------

// A character as the trace shows it: `c` is what `byte` stands for (0 for
// nothing); the byte is shown beside a character beyond ASCII when it differs.
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

// A UTF-16 unit posted as a Unicode WM_CHAR.
std::string UnitText(char16_t unit) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(unit));
  if (unit >= 0xD800 && unit <= 0xDFFF) return std::string(hex) + (unit < 0xDC00 ? " (high half)" : " (low half)");
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

// " NAME" of the key in a key message's lParam; nothing for scan code 0, as
// synthesized keys often have.
std::string KeyOfLParam(LParam lParam) {
  const auto bits = static_cast<std::uint32_t>(lParam);
  const auto scan = static_cast<std::uint16_t>(((bits >> 16) & 0xFF) | ((bits >> 24) & 1) << 8);
  return scan == 0 ? std::string() : " " + layoutkit::KeyNameOfScan(scan);
}

// The key of a synthesized event: by its scan code when it has one, else by
// its virtual key.
std::string SentKeyName(const sim::KeyEventCall& e) {
  const bool extended = (e.flags & platform::kKeyEventExtendedKey) != 0;
  if (e.vk >= kMarkReleaseStart && e.vk <= kMarkPlainAfterRelease) return "(marker)";
  if (e.scan != 0)
    return layoutkit::KeyNameOfScan(static_cast<std::uint16_t>(e.scan | (extended ? 0x100 : 0)));
  std::string name;
  if (e.vk == kVkShift) {
    name = "SHIFT";
  } else if (e.vk == kVkControl) {
    name = "CTRL";
  } else if (e.vk == kVkMenu) {
    name = "ALT";
  } else if (const sim::UsKey* key = sim::UsKeyByVk(e.vk)) {
    name = layoutkit::KeyNameOfScan(key->scan);
  }
  if (extended) name += name.empty() ? "extended" : " extended";
  return name;
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

std::string LayoutText(const KeyboardDescription& d, unsigned layout) {
  std::string s = "layout " + std::to_string(layout);
  if (layout < kLayouts) {
    const char* name = d.layouts[layout].name;
    const std::string n(name, strnlen(name, kLayoutNameSize));
    if (!n.empty()) s += " (" + n + ")";
  }
  return s;
}

std::string NoticeText(WParam wParam, LParam lParam) {
  std::string s = "notice wParam " + std::to_string(wParam);
  std::string what;
  if (wParam == kKeyNoticeWParam) {
    what = "key translated";
  } else {
    if (wParam & 1u << kChangeLayoutOrEnable) what = "layout or translation";
    if (wParam & 1u << kChangeLeds) what += what.empty() ? "lights" : ", lights";
  }
  if (!what.empty()) s += " (" + what + ")";
  const auto key = static_cast<std::uint32_t>(lParam);
  s += " lParam " + Hex(key, 3);
  if (key != 0) {
    s += " (" + layoutkit::KeyNameOfScan(static_cast<std::uint16_t>(key & 0x1FF)) +
         ((key >> 10) & 1 ? " up)" : " down)");
  }
  return s;
}

std::string MessageName(std::uint32_t message) {
  switch (message) {
    case sim::kWmKeyDown:
      return "WM_KEYDOWN";
    case sim::kWmKeyUp:
      return "WM_KEYUP";
    case sim::kWmSysKeyDown:
      return "WM_SYSKEYDOWN";
    case sim::kWmSysKeyUp:
      return "WM_SYSKEYUP";
    case sim::kWmChar:
      return "WM_CHAR";
    case sim::kWmSysChar:
      return "WM_SYSCHAR";
    default:
      return "message " + Hex(message, 4);
  }
}

// --- The simulated system ------------------------------------------------------------

// One run: sets the system up, follows what happens through test hooks at the
// head of the keyboard and message chains, and takes everything down when it
// goes.
class Session {
 public:
  Session(const KeyboardDescription& d, SimOutput& out) : d_(d), out_(out) {}
  ~Session() { Finish(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool Start(const SimOptions& options);
  void Play(const KeyAction& action);
  // Takes the system down and writes the trace; once.
  void Finish();

 private:
  const ControlBlock& cb() const { return TheRegion().control(); }
  // An ANSI character as a system of the active layout's code page reads it.
  char32_t AnsiChar(std::uint8_t byte) const {
    return layoutkit::DecodeByte(layoutkit::LayoutCodePage(d_, cb().currentLayout), byte);
  }
  // A byte of a layout as the library delivers it.
  std::string CharTextIn(int layout, std::uint8_t byte) const {
    return CharText(layoutkit::LayoutChar(d_, static_cast<unsigned>(layout), byte), byte);
  }

  LParam OnKey(int code, WParam wParam, LParam lParam);
  LParam OnMessage(int code, WParam wParam, LParam lParam);
  void Settle();
  bool Busy() const;
  void Note(const std::string& line) { lines_.push_back("  " + line); }
  // Notes the keys synthesized and the state changed since the last look.
  void CatchUp();

  const KeyboardDescription& d_;
  SimOutput& out_;
  std::string savedPrefix_ = sim::SharedMemoryPrefix();
  bool attached_ = false;
  bool finished_ = false;
  Handle controllerThread_ = 0, controller_ = 0, appThread_ = 0, app_ = 0;
  Handle keyHook_ = 0, messageHook_ = 0;

  std::vector<std::string> lines_;
  bool awaitingEvent_ = false;  // the next keyboard hook call is the event's
  std::size_t eventLine_ = 0;
  std::size_t keyEventsSeen_ = 0;
  char16_t highHalf_ = 0;  // of a character beyond U+FFFF, until its low half comes
  unsigned layout_ = 0;
  bool enabled_ = false;
  std::uint16_t leds_ = 0;
};

bool Session::Start(const SimOptions& options) {
  if (TheRegion().valid()) {
    out_.error = "the shared region is already attached in this process";
    return false;
  }
  static int runs = 0;
  sim::FailSharedMemory(false);
  sim::Reset();
  sim::SetSharedMemoryPrefix("velto-sim-" + std::to_string(::getpid()) + "-" + std::to_string(runs++) + "-");
  sim::RemoveSharedMemory(kRegionName);  // a fresh, zero-filled region
  ProcessAttach();
  attached_ = true;
  if (!TheRegion().valid()) {
    out_.error = "cannot map the shared region";
    return false;
  }
  controllerThread_ = sim::CreateThread();
  controller_ = sim::CreateWindow(controllerThread_, "VeltoController");
  appThread_ = sim::CreateThread();
  app_ = sim::CreateWindow(appThread_, "Edit");
  // Before InstallHook, so that its refresh of the lights sees them.
  sim::SetToggled(kVkCapital, options.capsLock);
  sim::SetToggled(kVkNumLock, options.numLock);

  sim::RunAs(controllerThread_);
  InstallHook(controller_);
  SetupKeyboard(&d_.options, &d_.keys, d_.layouts, &d_.deadKeys, &d_.macros);
  Enable(1);
  SelectLayout(options.layout);
  sim::Pump();
  sim::SetFocus(app_);
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
  if (attached_) {
    if (controller_ != 0) {
      sim::RunAs(controllerThread_);
      RemoveHook(controller_);
    }
    ProcessDetach();
    sim::RemoveSharedMemory(kRegionName);
  }
  sim::Reset();
  sim::SetSharedMemoryPrefix(savedPrefix_);
  for (const std::string& line : lines_) out_.trace += line + "\n";
}

void Session::Play(const KeyAction& action) {
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
}

LParam Session::OnKey(int code, WParam wParam, LParam lParam) {
  const std::uint16_t writeBefore = cb().keyQWrite;
  const LParam result = platform::CallNextHook(keyHook_, code, wParam, lParam);
  std::string decision = result != 0 ? "hook: swallowed" : "hook: passed";
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
  if (m.window == app_ && m.message != sim::kWmNull) {
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
    if (m.message == sim::kWmChar && unicode) AppendReceivedUnit(out_.text, highHalf_, unit);
    if (m.message == sim::kWmChar && !unicode) AppendReceived(out_.text, AnsiChar(byte), byte);
  } else if (m.window == controller_ && m.message == cb().notifyMsg && m.message != 0) {
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

// --- The command line ----------------------------------------------------------------

bool TakeValue(const std::vector<std::string>& args, std::size_t& i, std::string& value, std::string& error) {
  if (i + 1 >= args.size()) {
    error = args[i] + " needs a value";
    return false;
  }
  value = args[++i];
  return true;
}

bool ParseLayout(const std::string& value, unsigned& layout, std::string& error) {
  if (value.size() != 1 || value[0] < '0' || value[0] > '3') {
    error = "bad layout number '" + value + "': must be 0 to 3";
    return false;
  }
  layout = static_cast<unsigned>(value[0] - '0');
  return true;
}

}  // namespace

bool ParseKeys(std::string_view keys, std::vector<KeyAction>& out, std::string& error) {
  std::vector<KeyAction> parsed;
  std::size_t pos = 0;
  while (pos < keys.size()) {
    if (std::isspace(static_cast<unsigned char>(keys[pos]))) {
      ++pos;
      continue;
    }
    std::size_t end = pos;
    while (end < keys.size() && !std::isspace(static_cast<unsigned char>(keys[end]))) ++end;
    if (!ParseKeyToken(keys.substr(pos, end - pos), parsed, error)) return false;
    pos = end;
  }
  out.insert(out.end(), parsed.begin(), parsed.end());
  return true;
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
      char number[16];
      std::snprintf(number, sizeof number, "U+%04X", static_cast<unsigned>(c));
      std::string shown;
      if (c >= 32 && c != 127) {
        shown = "'";
        layoutkit::AppendUtf8(shown, c);
        shown += "' ";
      }
      error = "no US key types " + shown + "(" + number + ")";
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

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error) {
  CommandLine cl;
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      out = CommandLine{};
      out.help = true;
      return true;
    }
  }
  bool layoutGiven = false, typeGiven = false, keysGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string value;
    if (a == "--caps") {
      cl.options.capsLock = true;
    } else if (a == "--numlock") {
      cl.options.numLock = true;
    } else if (a == "--trace") {
      cl.trace = true;
    } else if (a == "--layout" || a == "--type" || a == "--keys") {
      bool& given = a == "--layout" ? layoutGiven : a == "--type" ? typeGiven : keysGiven;
      if (given) {
        error = a + " given twice";
        return false;
      }
      given = true;
      if (!TakeValue(args, i, value, error)) return false;
      if (a == "--layout" && !ParseLayout(value, cl.options.layout, error)) return false;
      if (a == "--type") {
        std::vector<KeyAction> unused;
        if (!TypeKeys(value, false, unused, error)) return false;
        cl.options.typeText = true;
        cl.options.text = value;
      }
      if (a == "--keys" && !ParseKeys(value, cl.options.keys, error)) {
        error = "--keys: " + error;
        return false;
      }
    } else if (a.size() > 1 && a[0] == '-') {
      error = "unknown option '" + a + "'";
      return false;
    } else if (!cl.description.empty()) {
      error = "more than one description file: '" + cl.description + "' and '" + a + "'";
      return false;
    } else if (a.empty()) {
      error = "empty description file name";
      return false;
    } else {
      cl.description = a;
    }
  }
  if (typeGiven == keysGiven) {
    error = typeGiven ? "give either --type or --keys, not both"
                      : "nothing to do: give --type TEXT or --keys KEYS";
    return false;
  }
  out = std::move(cl);
  return true;
}

std::string UsageLine() {
  return "usage: velto-sim [DESCRIPTION] [--layout N] [--caps] [--numlock] (--type TEXT | --keys KEYS) "
         "[--trace]";
}

std::string HelpText() {
  return UsageLine() + R"(

Runs a keyboard description on the Velto engine over the simulated Windows
input system (a controller window, and an "Edit" window with the focus) and
prints, as one line of UTF-8, what the focus window received as WM_CHAR.

  DESCRIPTION   a .vkl source file or a compiled .vkb file (81,528 bytes);
                without one, the built-in description (layout 0 US, layout 1
                the international layout)
  --layout N    the layout selected at the start, 0 to 3 (default 0)
  --caps        Caps Lock on at the start
  --numlock     Num Lock on at the start
  --type TEXT   types TEXT (ASCII) on the keys of a US keyboard, with left Shift
                where a US keyboard needs it (for letters the other way round
                while Caps Lock is on); a newline types Enter
  --keys KEYS   space-separated key events:
                  KEY          press and release
                  MOD+...+KEY  the modifiers pressed in order, KEY pressed and
                               released, the modifiers released in reverse
                               (KEY may be a modifier too: lshift+rshift)
                  down:KEY     press only
                  up:KEY       release only
                KEY is a key name: letters, digits, ESC ENTER SPACE TAB BACK
                LEFT RIGHT UP DOWN HOME END F1..F12 NUM_0..NUM_9 GRAVE MINUS
                EQUALS LBRACKET RBRACKET BACKSLASH SEMICOLON QUOTE COMMA PERIOD
                SLASH OEM102 and the modifiers, or sc:HEX for a 9-bit scan code
                (256 added for extended keys). MOD is one of lshift rshift lctrl
                rctrl lalt ralt lwin rwin caps. Names ignore case.
  --trace       first, one line per key event: the keyboard hook's decision
                (passed or swallowed) and what it queued; then, indented, what
                followed: messages to the focus window, keys the library
                synthesized, changes of layout, translation and lock lights,
                and the notices the controller's window received
  --help        this text

Each character is decoded with the code page of the layout that was active
when it arrived; a byte the code page leaves undefined prints as U+FFFD. A
carriage return (Enter) prints as a line break and a tab as a tab; other
control characters (below 32, and 127, e.g. Backspace and Esc) print nothing.
After every event the simulated timer runs until the library has played
everything it queued.

Exit status: 0 done, 1 the description could not be loaded, 2 bad arguments.
)";
}

}  // namespace velto::simrun
