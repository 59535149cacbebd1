// The controlling application of the end-to-end test under Wine.
//
// Loads the library of its build (velto.dll or velto64.dll) the way an
// application does (LoadLibraryA and GetProcAddress of the underscore names),
// hooks the keyboard with a small keyboard description, enables translation
// and gives the focus to its EDIT control. The driver script presses real
// keys through the X server; every change of the EDIT's text is written,
// UTF-8, to the output file.
//
// Function keys, which the description leaves untranslated, are commands:
//   F8  toggles translation (_Enable)     F9  toggles the layout (_ToggleLayout)
//   F11 clears the EDIT                   F12 removes the hook and exits
//   F7  prints the region's key-tracking fields ("REGION ...") and which
//       modifier keys are down ("KEYS ...")
//   F6  makes the program slow with its keys, or quick again: each key
//       release then takes it 30 ms, as in a busy application (the presses
//       stay quick, so that each key is seen with the modifiers held for it)
// Each command prints one "CMD <n> ..." line on stdout; every notification
// of a layout or enable change prints a "NOTE ..." line, every key message of
// Alt or of the library's marker keys a "KEY ..." line. The controller also
// prints a "WATCH ..." line whenever the modifier keys down (GetAsyncKeyState),
// its thread's Caps Lock and Num Lock states (GetKeyState), the library's
// lights (_Leds) or the region's `modifiers` change; they are looked at every
// 10 ms.
//
// With --target the program is only a window with an EDIT in a process of its
// own, which the library reaches through its global hooks (F6, F7, F11 as
// above, F12 exits).
//
// Usage: velto-wine-controller.exe DLL OUTPUT-FILE [TIMEOUT-SECONDS]
//        velto-wine-controller.exe --target OUTPUT-FILE [TIMEOUT-SECONDS]
#include "controller/library_loader.h"  // windows.h

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "shared/region.h"
#include "shared/tables.h"

namespace {

// --- The library's exports -----------------------------------------------------

using Exports = velto::controller::Library;

bool ResolveAll(HMODULE dll, Exports& x) {
  const char* missing = velto::controller::ResolveExports(dll, x);
  if (missing != nullptr) std::printf("MISSING %s\n", missing);
  return missing == nullptr;
}

// --- The keyboard description ----------------------------------------------------
//
// Layout 0 "WineTest": a->q s->x d->j f->v (Shift gives the capitals), e and o
// type themselves, the ` key is a dead circumflex (^e gives e-circumflex, ^o
// o-circumflex), m types macro 1 and keypad 7 types g (with Num Lock on).
// Layout 0 claims both Alt keys: right Alt + m types macro 2 (text and a
// chord), right Alt + l macro 3 (text and chords, long to play), right Alt +
// e the euro sign (a character under Alt, which the library delivers as a
// one-character macro). Layout 1 "Second": a->k s->y.
// Every other key is left untranslated. Hotkeys: left Ctrl+F1 toggles the
// layout, left Ctrl+F2 disables translation, left Ctrl+F3 enables it. Caps
// Lock held switches to the other layout while it is held.

struct Description {
  velto::OptionBlock options{};
  velto::KeyTable keys{};
  velto::LayoutRecord layouts[velto::kLayouts]{};
  velto::DeadKeyTable deadKeys{};
  velto::MacroTable macros{};
  std::uint8_t nextKey = 1;  // KeyTable index 0 is where unmapped keys go

  std::uint8_t KeyOf(std::uint16_t scan) {
    std::uint8_t& key = options.scanMap[scan];
    if (key == 0) key = nextKey++;
    return key;
  }

  // One modifier slot of both planes of `layout` (the Caps Lock plane with
  // the case swapped); column 0 without Shift, 1 and 2 with left or right Shift.
  void PutSlot(unsigned layout, std::uint16_t scan, velto::KeySlotIndex slotIndex, char normal,
               char shifted, std::uint8_t flags = 0) {
    const std::uint8_t key = KeyOf(scan);
    for (unsigned plane : {layout, layout + 2}) {
      const bool caps = plane >= 2;
      velto::KeySlot& slot = keys.planes[plane][key].slots[slotIndex];
      const char n = caps && flags == 0 ? shifted : normal;
      const char s = caps && flags == 0 ? normal : shifted;
      slot.ch[0] = static_cast<std::uint8_t>(n);
      slot.ch[1] = slot.ch[2] = static_cast<std::uint8_t>(s);
      slot.flags = flags;
    }
  }

  // The key without modifiers.
  void Put(unsigned layout, std::uint16_t scan, char normal, char shifted, std::uint8_t flags = 0) {
    PutSlot(layout, scan, velto::kSlotPlain, normal, shifted, flags);
  }

  void Macro(std::uint8_t index, const char* text) {
    velto::MacroEntry& macro = macros.entries[index];
    macro.length = static_cast<std::uint8_t>(std::strlen(text));
    std::memcpy(macro.text, text, macro.length);
  }

  void Name(unsigned layout, const char* name) {
    std::memcpy(layouts[layout].name, name, std::strlen(name));
  }
};

constexpr std::uint8_t kDeadAll = 0x07;   // all three columns dead keys
constexpr std::uint8_t kMacroAll = 0x38;  // all three columns macro numbers
constexpr char kMacroText[] = "sad{LEFT}{LEFT}Z";
constexpr char kAltMacroText[] = "ab{LEFT}c";  // types "acb"
constexpr char kEuroAnsi = '\x80';             // the euro sign in code page 1252
// A macro that takes some 40 ticks of the library's timer to play: after each
// chord the player waits for its marker to come back before the next text.
constexpr int kLongMacroSteps = 40;
constexpr char kLongMacroStep[] = "a{b}";  // types "ab"

constexpr std::uint16_t kLeftCtrlOnly = 0x0001;  // `modifiers` with left Ctrl alone
constexpr std::uint16_t kBothAlt = 0x000C;       // `modifiers` bits of left and right Alt
constexpr std::uint16_t kScanF1 = 0x3B;

void Build(Description& d) {
  d.options.options = 1u << velto::kOptCapsSwitchesLayout;
  d.options.layoutHotkeyMods = kLeftCtrlOnly;
  d.options.layoutHotkeyScan = kScanF1;
  d.options.disableHotkeyMods = kLeftCtrlOnly;
  d.options.disableHotkeyScan = kScanF1 + 1;
  d.options.enableHotkeyMods = kLeftCtrlOnly;
  d.options.enableHotkeyScan = kScanF1 + 2;
  d.Name(0, "WineTest");
  d.Name(1, "Second");
  d.layouts[0].modMask = kBothAlt;
  d.Put(0, 0x1E, 'q', 'Q');  // a
  d.Put(0, 0x1F, 'x', 'X');  // s
  d.Put(0, 0x20, 'j', 'J');  // d
  d.Put(0, 0x21, 'v', 'V');  // f
  d.Put(0, 0x12, 'e', 'E');  // e
  d.Put(0, 0x18, 'o', 'O');  // o
  d.Put(0, 0x29, '^', '^', kDeadAll);  // `
  d.Put(0, 0x32, 1, 1, kMacroAll);     // m
  d.Put(0, 0x47, 'g', 'G');            // keypad 7
  d.PutSlot(0, 0x32, velto::kSlotRightAlt, 2, 2, kMacroAll);
  d.PutSlot(0, 0x12, velto::kSlotRightAlt, kEuroAnsi, kEuroAnsi);
  d.PutSlot(0, 0x26, velto::kSlotRightAlt, 3, 3, kMacroAll);  // l
  d.Put(1, 0x1E, 'k', 'K');
  d.Put(1, 0x1F, 'y', 'Y');
  d.deadKeys.rows[0] = {'^', 'e', 0xEA};
  d.deadKeys.rows[1] = {'^', 'o', 0xF4};
  d.Macro(1, kMacroText);
  d.Macro(2, kAltMacroText);
  std::string longMacro;
  for (int i = 0; i < kLongMacroSteps; ++i) longMacro += kLongMacroStep;
  d.Macro(3, longMacro.c_str());
}

// --- The window ----------------------------------------------------------------

constexpr UINT_PTR kDeadlineTimer = 1;
constexpr UINT_PTR kWatchTimer = 2;
constexpr UINT kWatchPeriodMs = 10;
constexpr int kEditId = 100;

bool g_target = false;  // a window of its own only, without the library
Exports g_x{};
UINT g_notifyMessage = 0;
HWND g_main = nullptr;
HWND g_edit = nullptr;
std::wstring g_output;  // the output file
int g_commands = 0;
int g_exitCode = 0;
bool g_slowKeys = false;  // F6
constexpr DWORD kSlowKeyMs = 30;

void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

// Writes the EDIT's text as UTF-8, through a temporary file that replaces the
// output in one rename, so the driver never reads half a text.
void WriteText() {
  const int length = GetWindowTextLengthW(g_edit);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(g_edit, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(got));
  std::string utf8;
  if (got > 0) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), got, nullptr, 0, nullptr, nullptr);
    utf8.resize(static_cast<std::size_t>(bytes));
    WideCharToMultiByte(CP_UTF8, 0, text.data(), got, utf8.data(), bytes, nullptr, nullptr);
  }
  const std::wstring temp = g_output + L".tmp";
  HANDLE f = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) {
    Say("ERROR cannot write %ls\n", temp.c_str());
    return;
  }
  DWORD written = 0;
  WriteFile(f, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  CloseHandle(f);
  MoveFileExW(temp.c_str(), g_output.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void SayState(const char* what) {
  char name[64] = {};
  g_x.CurrentLayoutName(name);
  name[sizeof name - 1] = '\0';
  Say("%s hooked=%u enabled=%u layout=%u name=%s size=%u\n", what, g_x.DLLHooked(),
      g_x.DLLEnabled(), g_x.CurrentLayout(), name, g_x.MMFileSize());
}

// The region as every hooked process sees it, read through a mapping of our
// own (made on first use and kept); null when there is none.
const std::uint8_t* Region() {
  static const void* view = nullptr;
  if (view == nullptr) {
    HANDLE section = OpenFileMappingA(FILE_MAP_READ, FALSE, velto::kRegionName);
    if (section == nullptr) return nullptr;
    view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0);
    CloseHandle(section);  // the view keeps the section
  }
  return static_cast<const std::uint8_t*>(view);
}

velto::ControlBlock ReadControlBlock() {
  velto::ControlBlock cb{};
  if (const std::uint8_t* region = Region()) std::memcpy(&cb, region, sizeof cb);
  return cb;
}

void SayRegion() {
  const std::uint8_t* region = Region();
  if (region == nullptr) {
    Say("REGION unavailable: %lu\n", GetLastError());
    return;
  }
  const velto::ControlBlock cb = ReadControlBlock();
  velto::OptionBlock options;
  std::memcpy(&options, region + velto::kOptionOffset, sizeof options);
  Say("REGION modifiers=%#x leds=%#x lastKeyInfo=%#x focus=%#x passThrough=%d playbackWait=%d "
      "clients=%u timer=%u hotkeys=%#x/%#x %#x/%#x %#x/%#x\n",
      cb.modifiers, cb.leds, cb.lastKeyInfo, cb.focusWnd, cb.passThrough, cb.playbackWait,
      cb.clientCount, cb.timerId, options.layoutHotkeyMods, options.layoutHotkeyScan,
      options.disableHotkeyMods, options.disableHotkeyScan, options.enableHotkeyMods,
      options.enableHotkeyScan);
}

// The modifier keys (and Caps Lock) that KEYS and WATCH lines report.
constexpr struct {
  int vk;
  const char* name;
} kReportedKeys[] = {
    {VK_SHIFT, "shift"}, {VK_LSHIFT, "lshift"}, {VK_RSHIFT, "rshift"},
    {VK_CONTROL, "ctrl"}, {VK_LCONTROL, "lctrl"}, {VK_RCONTROL, "rctrl"},
    {VK_MENU, "alt"},    {VK_LMENU, "lalt"},    {VK_RMENU, "ralt"},
    {VK_LWIN, "lwin"},   {VK_RWIN, "rwin"},     {VK_CAPITAL, "caps"},
};

// Bit i: kReportedKeys[i] is down by `keyState` (GetAsyncKeyState or GetKeyState).
unsigned HeldMask(SHORT(WINAPI* keyState)(int)) {
  unsigned mask = 0;
  for (unsigned i = 0; i < std::size(kReportedKeys); ++i) {
    if (keyState(kReportedKeys[i].vk) & 0x8000) mask |= 1u << i;
  }
  return mask;
}

// A HeldMask as "lalt,ralt", or "none".
std::string HeldNames(unsigned mask) {
  std::string names;
  for (unsigned i = 0; i < std::size(kReportedKeys); ++i) {
    if ((mask & (1u << i)) == 0) continue;
    if (!names.empty()) names += ',';
    names += kReportedKeys[i].name;
  }
  return names.empty() ? "none" : names;
}

int Toggled(int vk) { return GetKeyState(vk) & 1; }

// Which modifier keys are down for the system and for this thread, and this
// thread's lock states.
void SayKeys() {
  Say("KEYS async=%s thread=%s caps=%d num=%d\n", HeldNames(HeldMask(GetAsyncKeyState)).c_str(),
      HeldNames(HeldMask(GetKeyState)).c_str(), Toggled(VK_CAPITAL), Toggled(VK_NUMLOCK));
}

// The system's key state for the WATCH lines comes from a thread of its own.
// Under Wine, GetAsyncKeyState answers "up" from a per-thread copy of the key
// state for 50 ms after the thread last asked, unless this process received
// input meanwhile. Polled every 10 ms from this thread, it made the library's
// timer (which runs here and compares `modifiers` with GetAsyncKeyState) see
// Shift up while another process was typing with it held, and clear it.
// (F7 asks from this thread too, but only on a key that this process receives.)
std::atomic<unsigned> g_asyncHeld{0};
std::atomic<bool> g_watcherStop{false};

DWORD WINAPI Watcher(void*) {
  while (!g_watcherStop.load()) {
    g_asyncHeld.store(HeldMask(GetAsyncKeyState));
    Sleep(5);
  }
  return 0;
}

// Prints a WATCH line when the keys down, the lock states, the library's
// lights or the region's `modifiers` differ from the last one printed.
void Watch() {
  static std::string last;
  char line[160];
  const auto cb = ReadControlBlock();
  std::snprintf(line, sizeof line, "WATCH held=%s caps=%d num=%d leds=%#x mods=%#x wait=%d pass=%d",
                HeldNames(g_asyncHeld.load()).c_str(), Toggled(VK_CAPITAL), Toggled(VK_NUMLOCK),
                g_x.Leds(), cb.modifiers, cb.playbackWait, cb.passThrough);
  if (last == line) return;
  last = line;
  Say("%s\n", line);
}

// Commands of both programs; returns false for other keys.
bool CommonCommand(WPARAM vk) {
  switch (vk) {
    case VK_F6:
      g_slowKeys = !g_slowKeys;
      return true;
    case VK_F7:
      SayRegion();
      SayKeys();
      return true;
    case VK_F11:
      SetWindowTextW(g_edit, L"");
      WriteText();
      return true;
    default:
      return false;
  }
}

// Commands of the controller, which has the library; returns false for other keys.
bool LibraryCommand(WPARAM vk) {
  switch (vk) {
    case VK_F8:
      g_x.Enable(g_x.DLLEnabled() ? 0 : 1);
      return true;
    case VK_F9:
      g_x.ToggleLayout();
      return true;
    case VK_F12:
      g_x.RemoveHook(reinterpret_cast<std::uintptr_t>(g_main));
      return true;
    default:
      return false;
  }
}

bool IsKeyMessage(const MSG& msg) {
  return msg.message == WM_KEYDOWN || msg.message == WM_KEYUP || msg.message == WM_SYSKEYDOWN ||
         msg.message == WM_SYSKEYUP;
}

// Right Alt and the library's marker keys (0xC1..0xC6) as they reach a
// window: a "KEY" line for each key message of theirs.
void ReportKeyMessage(const MSG& msg) {
  const bool reported = msg.wParam == VK_MENU || msg.wParam == 'E' || (msg.wParam >= 0xC1 && msg.wParam <= 0xC6);
  if (!IsKeyMessage(msg) || !reported) return;
  Say("KEY %#x vk=%#x lParam=%#x\n", msg.message, static_cast<unsigned>(msg.wParam),
      static_cast<unsigned>(msg.lParam));
}

// Runs a command key; returns true when the key was one.
bool Command(WPARAM vk) {
  const bool known = CommonCommand(vk) || (g_target ? vk == VK_F12 : LibraryCommand(vk));
  if (!known) return false;
  char what[32];
  std::snprintf(what, sizeof what, "CMD %d F%d", ++g_commands, static_cast<int>(vk - VK_F1 + 1));
  if (g_target) {
    Say("%s\n", what);
  } else {
    SayState(what);
  }
  if (vk == VK_F12) DestroyWindow(g_main);
  return true;
}

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == g_notifyMessage && message != 0) {
    if (wParam & 1) SayState("NOTE");  // a change of layout or of enable
    return 0;
  }
  switch (message) {
    case WM_SETFOCUS:
      if (g_edit != nullptr) SetFocus(g_edit);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kEditId && HIWORD(wParam) == EN_CHANGE) WriteText();
      return 0;
    case WM_TIMER:
      if (wParam == kWatchTimer) {
        Watch();
      } else if (wParam == kDeadlineTimer) {
        Say("TIMEOUT\n");
        g_exitCode = 3;
        if (!g_target) g_x.RemoveHook(reinterpret_cast<std::uintptr_t>(window));
        DestroyWindow(window);
      }
      return 0;
    case WM_DESTROY:
      PostQuitMessage(g_exitCode);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int main(int argc, char** argv) {
  g_target = argc > 1 && std::strcmp(argv[1], "--target") == 0;
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s DLL|--target OUTPUT-FILE [TIMEOUT-SECONDS]\n", argv[0]);
    return 2;
  }
  const int timeoutSeconds = argc > 3 ? std::atoi(argv[3]) : 240;
  {
    const int n = MultiByteToWideChar(CP_ACP, 0, argv[2], -1, nullptr, 0);
    g_output.resize(static_cast<std::size_t>(n));
    MultiByteToWideChar(CP_ACP, 0, argv[2], -1, g_output.data(), n);
    g_output.resize(static_cast<std::size_t>(n > 0 ? n - 1 : 0));
  }

  HMODULE dll = nullptr;
  HANDLE watcher = nullptr;  // the thread behind the WATCH lines (controller only)
  if (!g_target) {
    dll = LoadLibraryA(argv[1]);
    if (dll == nullptr) {
      Say("ERROR LoadLibraryA(%s) failed: %lu\n", argv[1], GetLastError());
      return 2;
    }
    if (!ResolveAll(dll, g_x)) return 2;
    g_notifyMessage = RegisterWindowMessageA("quorvexmessage");
  }

  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA wc{};
  wc.lpfnWndProc = MainProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = "VeltoWineController";
  if (RegisterClassA(&wc) == 0) {
    Say("ERROR RegisterClassA failed: %lu\n", GetLastError());
    return 2;
  }
  const char* title = g_target ? "velto-wine-target" : "velto-wine-controller";
  g_main = CreateWindowExA(0, wc.lpszClassName, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                           g_target ? 50 : 550, 50, 480, 120, nullptr, nullptr, instance, nullptr);
  // A Unicode EDIT: characters posted with PostMessageA arrive converted
  // from the ANSI code page, as in any modern application.
  g_edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                           WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 10, 10, 440, 30, g_main,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEditId)), instance, nullptr);
  if (g_main == nullptr || g_edit == nullptr) {
    Say("ERROR CreateWindowEx failed: %lu\n", GetLastError());
    return 2;
  }

  if (!g_target) {
    static Description description;
    Build(description);
    g_x.InstallHook(reinterpret_cast<std::uintptr_t>(g_main));
    g_x.SetupKeyboard(&description.options, &description.keys, description.layouts,
                      &description.deadKeys, &description.macros);
    g_x.SelectLayout(0);
    g_x.Enable(1);
  }
  SetForegroundWindow(g_main);
  SetFocus(g_edit);
  WriteText();
  SetTimer(g_main, kDeadlineTimer, static_cast<UINT>(timeoutSeconds) * 1000, nullptr);
  Say("WINDOW %#llx ACP %u\n", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(g_main)),
      GetACP());
  if (g_target) {
    Say("READY target\n");
  } else {
    SayState("READY");
    watcher = CreateThread(nullptr, 0, Watcher, nullptr, 0, nullptr);
    SetTimer(g_main, kWatchTimer, kWatchPeriodMs, nullptr);
  }

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ReportKeyMessage(msg);
    if (msg.message == WM_KEYDOWN && Command(msg.wParam)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    if (g_slowKeys && (msg.message == WM_KEYUP || msg.message == WM_SYSKEYUP)) Sleep(kSlowKeyMs);
  }
  if (watcher != nullptr) {
    g_watcherStop.store(true);
    WaitForSingleObject(watcher, INFINITE);
    CloseHandle(watcher);
  }
  Say("EXIT %d\n", static_cast<int>(msg.wParam));
  if (dll != nullptr) FreeLibrary(dll);
  return static_cast<int>(msg.wParam);
}
