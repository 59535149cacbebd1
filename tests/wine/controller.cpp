// The controlling application of the end-to-end test under Wine.
//
// Loads velto64.dll the way an application does (LoadLibraryA and
// GetProcAddress of the underscore names), hooks the keyboard with a small
// keyboard description, enables translation and gives the focus to its EDIT
// control. The driver script presses real keys through the X server; every
// change of the EDIT's text is written, UTF-8, to the output file.
//
// Function keys, which the description leaves untranslated, are commands:
//   F8  toggles translation (_Enable)     F9  toggles the layout (_ToggleLayout)
//   F11 clears the EDIT                   F12 removes the hook and exits
//   F7  prints the region's key-tracking fields (for the failure report)
// Each command prints one "CMD <n> ..." line on stdout; every notification
// of a layout or enable change prints a "NOTE ..." line.
//
// With --target the program is only a window with an EDIT in a process of its
// own, which the library reaches through its global hooks (F11 clears, F12
// exits).
//
// Usage: velto-wine-controller.exe DLL OUTPUT-FILE [TIMEOUT-SECONDS]
//        velto-wine-controller.exe --target OUTPUT-FILE [TIMEOUT-SECONDS]
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "shared/region.h"
#include "shared/tables.h"

namespace {

// --- The library's exports -----------------------------------------------------

struct Exports {
  void (*InstallHook)(std::uintptr_t);
  void (*SetupKeyboard)(const void*, const void*, const void*, const void*, const void*);
  void (*Enable)(std::uint32_t);
  void (*SelectLayout)(std::uint32_t);
  void (*ToggleLayout)();
  void (*SetCurrentKR)(std::uintptr_t);
  void (*RemoveHook)(std::uintptr_t);
  std::uint32_t (*DLLHooked)();
  std::uint32_t (*DLLEnabled)();
  std::uint32_t (*Leds)();
  std::uint32_t (*CurrentLayout)();
  void (*CurrentLayoutName)(char*);
  std::uint32_t (*MMFileSize)();
};

template <typename F>
bool Resolve(HMODULE dll, const char* name, F& fn) {
  FARPROC p = GetProcAddress(dll, name);
  if (p == nullptr) {
    std::printf("MISSING %s\n", name);
    return false;
  }
  fn = reinterpret_cast<F>(reinterpret_cast<void*>(p));
  return true;
}

bool ResolveAll(HMODULE dll, Exports& x) {
  bool ok = true;
  ok &= Resolve(dll, "_InstallHook", x.InstallHook);
  ok &= Resolve(dll, "_SetupKeyboard", x.SetupKeyboard);
  ok &= Resolve(dll, "_Enable", x.Enable);
  ok &= Resolve(dll, "_SelectLayout", x.SelectLayout);
  ok &= Resolve(dll, "_ToggleLayout", x.ToggleLayout);
  ok &= Resolve(dll, "_SetCurrentKR", x.SetCurrentKR);
  ok &= Resolve(dll, "_RemoveHook", x.RemoveHook);
  ok &= Resolve(dll, "_DLLHooked", x.DLLHooked);
  ok &= Resolve(dll, "_DLLEnabled", x.DLLEnabled);
  ok &= Resolve(dll, "_Leds", x.Leds);
  ok &= Resolve(dll, "_CurrentLayout", x.CurrentLayout);
  ok &= Resolve(dll, "_CurrentLayoutName", x.CurrentLayoutName);
  ok &= Resolve(dll, "_MMFileSize", x.MMFileSize);
  return ok;
}

// --- The keyboard description ----------------------------------------------------
//
// Layout 0 "WineTest": a->q s->x d->j f->v (Shift gives the capitals), e and o
// type themselves, the ` key is a dead circumflex (^e gives e-circumflex, ^o
// o-circumflex), and m types macro 1. Layout 1 "Second": a->k s->y.
// Every other key is left untranslated. Hotkeys: left Ctrl+F1 toggles the
// layout, left Ctrl+F2 disables translation, left Ctrl+F3 enables it.

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

  // Both planes of `layout` (the Caps Lock plane with the case swapped),
  // no modifier; column 0 without Shift, 1 and 2 with left or right Shift.
  void Put(unsigned layout, std::uint16_t scan, char normal, char shifted,
           std::uint8_t flags = 0) {
    const std::uint8_t key = KeyOf(scan);
    for (unsigned plane : {layout, layout + 2}) {
      const bool caps = plane >= 2;
      velto::KeySlot& slot = keys.planes[plane][key].slots[velto::kSlotPlain];
      const char n = caps && flags == 0 ? shifted : normal;
      const char s = caps && flags == 0 ? normal : shifted;
      slot.ch[0] = static_cast<std::uint8_t>(n);
      slot.ch[1] = slot.ch[2] = static_cast<std::uint8_t>(s);
      slot.flags = flags;
    }
  }

  void Name(unsigned layout, const char* name) {
    std::memcpy(layouts[layout].name, name, std::strlen(name));
  }
};

constexpr std::uint8_t kDeadAll = 0x07;   // all three columns dead keys
constexpr std::uint8_t kMacroAll = 0x38;  // all three columns macro numbers
constexpr char kMacroText[] = "sad{LEFT}{LEFT}Z";

constexpr std::uint16_t kLeftCtrlOnly = 0x0001;  // `modifiers` with left Ctrl alone
constexpr std::uint16_t kScanF1 = 0x3B;

void Build(Description& d) {
  d.options.layoutHotkeyMods = kLeftCtrlOnly;
  d.options.layoutHotkeyScan = kScanF1;
  d.options.disableHotkeyMods = kLeftCtrlOnly;
  d.options.disableHotkeyScan = kScanF1 + 1;
  d.options.enableHotkeyMods = kLeftCtrlOnly;
  d.options.enableHotkeyScan = kScanF1 + 2;
  d.Name(0, "WineTest");
  d.Name(1, "Second");
  d.Put(0, 0x1E, 'q', 'Q');  // a
  d.Put(0, 0x1F, 'x', 'X');  // s
  d.Put(0, 0x20, 'j', 'J');  // d
  d.Put(0, 0x21, 'v', 'V');  // f
  d.Put(0, 0x12, 'e', 'E');  // e
  d.Put(0, 0x18, 'o', 'O');  // o
  d.Put(0, 0x29, '^', '^', kDeadAll);  // `
  d.Put(0, 0x32, 1, 1, kMacroAll);     // m
  d.Put(1, 0x1E, 'k', 'K');
  d.Put(1, 0x1F, 'y', 'Y');
  d.deadKeys.rows[0] = {'^', 'e', 0xEA};
  d.deadKeys.rows[1] = {'^', 'o', 0xF4};
  velto::MacroEntry& macro = d.macros.entries[1];
  macro.length = sizeof kMacroText - 1;
  std::memcpy(macro.text, kMacroText, macro.length);
}

// --- The window ----------------------------------------------------------------

constexpr UINT_PTR kDeadlineTimer = 1;
constexpr int kEditId = 100;

bool g_target = false;  // a window of its own only, without the library
Exports g_x{};
UINT g_notifyMessage = 0;
HWND g_main = nullptr;
HWND g_edit = nullptr;
std::wstring g_output;  // the output file
int g_commands = 0;
int g_exitCode = 0;

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

// The region as every hooked process sees it, read through a mapping of our own.
void SayRegion() {
  HANDLE section = OpenFileMappingA(FILE_MAP_READ, FALSE, velto::kRegionName);
  const void* view = section != nullptr ? MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0) : nullptr;
  if (view == nullptr) {
    Say("REGION unavailable: %lu\n", GetLastError());
  } else {
    velto::ControlBlock cb;
    std::memcpy(&cb, view, sizeof cb);
    velto::OptionBlock options;
    std::memcpy(&options, static_cast<const char*>(view) + velto::kOptionOffset, sizeof options);
    Say("REGION modifiers=%#x leds=%#x lastKeyInfo=%#x focus=%#x passThrough=%d playbackWait=%d "
        "clients=%u timer=%u hotkeys=%#x/%#x %#x/%#x %#x/%#x\n",
        cb.modifiers, cb.leds, cb.lastKeyInfo, cb.focusWnd, cb.passThrough, cb.playbackWait,
        cb.clientCount, cb.timerId, options.layoutHotkeyMods, options.layoutHotkeyScan,
        options.disableHotkeyMods, options.disableHotkeyScan, options.enableHotkeyMods,
        options.enableHotkeyScan);
    UnmapViewOfFile(view);
  }
  if (section != nullptr) CloseHandle(section);
}

// Runs a command key; returns true when the key was one.
bool Command(WPARAM vk) {
  char what[32];
  if (g_target) {
    if (vk == VK_F11) {
      SetWindowTextW(g_edit, L"");
      WriteText();
    } else if (vk == VK_F12) {
      DestroyWindow(g_main);
    } else {
      return false;
    }
    std::snprintf(what, sizeof what, "CMD %d F%d", ++g_commands, static_cast<int>(vk - VK_F1 + 1));
    Say("%s\n", what);
    return true;
  }
  switch (vk) {
    case VK_F7:
      SayRegion();
      break;
    case VK_F8:
      g_x.Enable(g_x.DLLEnabled() ? 0 : 1);
      break;
    case VK_F9:
      g_x.ToggleLayout();
      break;
    case VK_F11:
      SetWindowTextW(g_edit, L"");
      WriteText();
      break;
    case VK_F12:
      g_x.RemoveHook(reinterpret_cast<std::uintptr_t>(g_main));
      break;
    default:
      return false;
  }
  std::snprintf(what, sizeof what, "CMD %d F%d", ++g_commands, static_cast<int>(vk - VK_F1 + 1));
  SayState(what);
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
      if (wParam == kDeadlineTimer) {
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
  }

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_KEYDOWN && Command(msg.wParam)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  Say("EXIT %d\n", static_cast<int>(msg.wParam));
  if (dll != nullptr) FreeLibrary(dll);
  return static_cast<int>(msg.wParam);
}
