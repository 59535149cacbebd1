// veltoctl: the controlling application. It loads the library beside it
// (velto64.dll, or velto.dll in the 32-bit build), hands it a keyboard
// description, turns translation on and keeps running, printing every change
// the library reports, until it is told to stop. On 64-bit Windows it also
// runs the companion of the other architecture (veltoctl/companion.h).
#include "veltoctl/library.h"  // windows.h, which shellapi.h needs first

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

#include "layoutkit/default_layout.h"
#include "layoutkit/codepage.h"
#include "layoutkit/keys.h"
#include "layoutkit/text.h"
#include "layoutkit/vkb.h"
#include "shared/charset.h"
#include "shared/notice.h"
#include "veltoctl/companion.h"

namespace {

using velto::layoutkit::KeyboardDescription;

constexpr const char* kMutexName = "VeltoControllerRunning";
constexpr const char* kNotifyMessageName = "quorvexmessage";
constexpr UINT kQuitRequest = WM_APP + 1;
constexpr UINT kTrayMessage = WM_APP + 2;
constexpr UINT kMenuLayout = 100;  // + layout number
constexpr UINT kMenuEnable = 110;
constexpr UINT kMenuQuit = 111;
// A companion that stops this often within this time is given up.
constexpr int kCompanionStartsKept = 5;
constexpr DWORD kCompanionStartWindowMs = 60000;

constexpr const char* kUsage =
    "usage: veltoctl [FILE.vkb] [--layout N] [--disabled] [--events] [--quiet] [--attach] [--tray] [--dll PATH]\n"
    "                [--no-companion]\n";
constexpr const char* kHelp =
    "Runs Velto: loads the library beside this program, hands it the keyboard\n"
    "description in FILE.vkb (or the built-in one: layout 0 US, layout 1 US\n"
    "International), turns translation on, and prints a line for every change\n"
    "of layout, translation or lock lights.\n"
    "\n"
    "  --layout N   start with layout N (0 to 3)\n"
    "  --disabled   start with translation off\n"
    "  --events     also print a line for every key the library translates\n"
    "  --quiet      print only errors\n"
    "  --attach     watch an instance that is already running, as one more client\n"
    "  --tray       run with an icon in the notification area instead of a console\n"
    "  --dll PATH   the library to load (default: the one beside this program)\n"
    "  --no-companion\n"
    "               on 64-bit Windows, do not start the companion of the other\n"
    "               architecture (velto-companion.exe beside the 64-bit veltoctl,\n"
    "               velto-companion64.exe beside the 32-bit one), which translates\n"
    "               the applications of that architecture; it is started again\n"
    "               whenever it stops, and stopped with veltoctl\n"
    "\n"
    "It stops on a line \"quit\", at the end of its input, or on Ctrl+C.\n"
    "Exit status: 0 stopped, 1 another instance is running (or none to attach\n"
    "to), 2 bad arguments, or a file or library that cannot be used.\n";

struct Options {
  std::string file;
  std::string dll;
  int layout = -1;
  bool disabled = false;
  bool events = false;
  bool quiet = false;
  bool attach = false;
  bool tray = false;
  bool companion = true;
};

struct App {
  Options options;
  velto::control::Library lib;
  HWND window = nullptr;
  UINT notifyMsg = 0;
  NOTIFYICONDATAW icon{};
  bool iconShown = false;
  std::string names[4];  // in UTF-8, of the description handed over; unknown when attached
  velto::control::Companion companion;
  DWORD companionStarts[kCompanionStartsKept] = {};  // GetTickCount of the latest starts, newest first
};

App app;

int Fail(int status, const std::string& message) {
  std::fprintf(stderr, "veltoctl: %s\n", message.c_str());
  return status;
}

int BadArguments(const std::string& message) {
  std::fprintf(stderr, "veltoctl: %s\n%s", message.c_str(), kUsage);
  return 2;
}

// Returns 0 to go on, else the exit status (-1: help printed, exit 0).
int ParseArguments(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* what) -> const char* {
      return i + 1 < argc ? argv[++i] : (BadArguments(a + " needs " + what), nullptr);
    };
    if (a == "--help" || a == "-h") {
      std::printf("%s\n%s", kUsage, kHelp);
      return -1;
    } else if (a == "--layout") {
      const char* v = value("a layout number");
      if (v == nullptr) return 2;
      const auto n = velto::layoutkit::ParseDecimal(v, 1);
      if (!n || *n > 3) return BadArguments("the layout is 0, 1, 2 or 3, not '" + std::string(v) + "'");
      o.layout = static_cast<int>(*n);
    } else if (a == "--dll") {
      const char* v = value("a file name");
      if (v == nullptr) return 2;
      o.dll = v;
    } else if (a == "--disabled") {
      o.disabled = true;
    } else if (a == "--events") {
      o.events = true;
    } else if (a == "--quiet") {
      o.quiet = true;
    } else if (a == "--attach") {
      o.attach = true;
    } else if (a == "--tray") {
      o.tray = true;
    } else if (a == "--no-companion") {
      o.companion = false;
    } else if (!a.empty() && a[0] == '-') {
      return BadArguments("unknown option '" + a + "'");
    } else if (o.file.empty()) {
      o.file = a;
    } else {
      return BadArguments("more than one description file given");
    }
  }
  if (o.attach && (!o.file.empty() || o.layout >= 0 || o.disabled || !o.companion)) {
    return BadArguments(
        "--attach watches the running instance: it takes no file, --layout, --disabled or --no-companion");
  }
  return 0;
}

std::string LibraryPath(const Options& o) {
  return o.dll.empty() ? velto::control::BesideThisProgram(velto::control::kLibraryName) : o.dll;
}

// A layout's name in UTF-8: its bytes read in the layout's character set
// (or, for a layout without one, in its code page).
std::string NameOf(const KeyboardDescription& d, unsigned layout) {
  std::string name;
  for (const char c : d.layouts[layout].name) {
    if (c == '\0') break;
    const char32_t ch = velto::layoutkit::LayoutChar(d, layout, static_cast<std::uint8_t>(c));
    velto::layoutkit::AppendUtf8(name, ch == 0 ? U'\uFFFD' : ch);
  }
  return name;
}

std::string LayoutName(unsigned layout) {
  if (!app.options.attach) return layout < 4 ? app.names[layout] : "";
  // Attached to another instance, only the current layout's name is known,
  // as the library holds it: in which set is the other instance's business.
  char name[21] = {};
  if (layout != app.lib.CurrentLayout()) return "";
  app.lib.CurrentLayoutName(name);
  return name;
}

std::wstring Wide(const std::string& utf8) {
  std::wstring out(utf8.size() + 1, L'\0');
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, out.data(), static_cast<int>(out.size()));
  out.resize(n > 0 ? static_cast<std::size_t>(n - 1) : 0);
  return out;
}

// "layout 1 (US International), translation on, lights: Num off, Caps off, Scroll on"
std::string State() {
  const unsigned layout = app.lib.CurrentLayout();
  const std::string name = LayoutName(layout);
  const unsigned leds = app.lib.Leds();
  std::string s = "layout " + std::to_string(layout) + (name.empty() ? "" : " (" + name + ")");
  s += app.lib.DLLEnabled() ? ", translation on" : ", translation off";
  s += std::string(", lights: Num ") + (leds >> velto::kLedNumLock & 1 ? "on" : "off") + ", Caps " +
       (leds >> velto::kLedCapsLock & 1 ? "on" : "off") + ", Scroll " +
       (leds >> velto::kLedScrollLock & 1 ? "on" : "off");
  return s;
}

void Print(const std::string& line) {
  if (app.options.quiet || app.options.tray) return;
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void UpdateTray() {
  if (!app.iconShown) return;
  const unsigned layout = app.lib.CurrentLayout();
  const std::string name = LayoutName(layout);
  std::string tip = "Velto: " + (name.empty() ? "layout " + std::to_string(layout) : name);
  if (!app.lib.DLLEnabled()) tip += " (off)";
  lstrcpynW(app.icon.szTip, Wide(tip).c_str(), static_cast<int>(std::size(app.icon.szTip)));
  app.icon.uFlags = NIF_TIP;
  Shell_NotifyIconW(NIM_MODIFY, &app.icon);
}

void ShowTrayMenu() {
  HMENU menu = CreatePopupMenu();
  const unsigned current = app.lib.CurrentLayout();
  for (unsigned layout = 0; layout < 4; ++layout) {
    std::string label = "Layout " + std::to_string(layout);
    const std::string name = LayoutName(layout);
    if (!name.empty()) label += " (" + name + ")";
    AppendMenuW(menu, MF_STRING | (layout == current ? MF_CHECKED : 0), kMenuLayout + layout, Wide(label).c_str());
  }
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING | (app.lib.DLLEnabled() ? MF_CHECKED : 0), kMenuEnable, "Translation on");
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING, kMenuQuit, "Quit");
  POINT at;
  GetCursorPos(&at);
  SetForegroundWindow(app.window);
  TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, app.window, nullptr);
  DestroyMenu(menu);
}

void OnCommand(UINT id) {
  if (id >= kMenuLayout && id < kMenuLayout + 4) {
    app.lib.SelectLayout(id - kMenuLayout);
  } else if (id == kMenuEnable) {
    app.lib.Enable(app.lib.DLLEnabled() ? 0 : 1);
  } else if (id == kMenuQuit) {
    PostQuitMessage(0);
  }
}

LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == app.notifyMsg && app.notifyMsg != 0) {
    if (velto::IsKeyNotice(wParam)) {
      if (app.options.events) {
        const velto::KeyNotice key = velto::DecodeKeyInfo(static_cast<std::uintptr_t>(lParam));
        Print("key " + velto::layoutkit::KeyNameOfScan(key.scan) + " (scan 0x" + velto::layoutkit::LowerHex(key.scan, 3) +
              ") " + (key.keyUp ? "up" : "down"));
      }
    } else {
      Print(State());
      UpdateTray();
    }
    return 0;
  }
  switch (msg) {
    case velto::control::kCompanionReady:
      Print(std::string(velto::control::Companion::Architecture()) + " applications are translated too (" +
            velto::control::Companion::FileName() + ").");
      return 0;
    case kQuitRequest:
      PostQuitMessage(0);
      return 0;
    case kTrayMessage:
      if (lParam == WM_RBUTTONUP || lParam == WM_LBUTTONUP || lParam == WM_CONTEXTMENU) ShowTrayMenu();
      return 0;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam));
      return 0;
    default:
      return DefWindowProcA(window, msg, wParam, lParam);
  }
}

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  PostMessageA(app.window, kQuitRequest, 0, 0);
  return TRUE;
}

// Reads standard input until a line "quit" or its end, then asks the window
// to stop.
DWORD WINAPI ReadInput(void*) {
  char line[256];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    if (s == "quit") break;
  }
  PostMessageA(app.window, kQuitRequest, 0, 0);
  return 0;
}

// A layout without a character set whose characters are in another code
// page than the system's arrives wrong: its 8-bit characters are posted as
// they are and converted by the receiving thread's ANSI code page. A layout
// with a set is delivered as Unicode and types right on any system.
void WarnAboutCodePages(const KeyboardDescription& d) {
  const UINT acp = GetACP();
  std::string layouts;
  for (unsigned n = 0; n < 4; ++n) {
    const velto::LayoutRecord& r = d.layouts[n];
    if (velto::CharSetOf(r) != velto::CharSetKind::kNone) continue;
    const int cp = r.reserved[0] | r.reserved[1] << 8;
    if (cp == 0 || static_cast<UINT>(cp) == acp) continue;
    layouts += (layouts.empty() ? "" : ", ") + std::to_string(n) + " (code page " + std::to_string(cp) + ")";
  }
  if (layouts.empty()) return;
  std::fprintf(stderr,
               "veltoctl: warning: this system's ANSI code page is %u, so the characters of layout %s will "
               "arrive as others\n",
               acp, layouts.c_str());
}

bool CreateControlWindow() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "VeltoControl";
  if (RegisterClassA(&wc) == 0) return false;
  app.window = CreateWindowExA(0, wc.lpszClassName, "Velto", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
  return app.window != nullptr;
}

void Warn(const std::string& message) {
  if (!app.options.tray) std::fprintf(stderr, "veltoctl: warning: %s\n", message.c_str());
}

// Starts the companion, unless it stopped too often of late.
void StartCompanion() {
  using velto::control::Companion;
  const DWORD now = GetTickCount();
  DWORD* starts = app.companionStarts;
  if (starts[kCompanionStartsKept - 1] != 0 && now - starts[kCompanionStartsKept - 1] < kCompanionStartWindowMs) {
    Warn(std::string("the companion stopped ") + std::to_string(kCompanionStartsKept) +
         " times within a minute; " + Companion::Architecture() + " applications type untranslated");
    return;
  }
  for (int i = kCompanionStartsKept - 1; i > 0; --i) starts[i] = starts[i - 1];
  starts[0] = now == 0 ? 1 : now;
  std::string error;
  if (!app.companion.Start(app.window, app.options.tray, error)) {
    Warn(error + "; " + Companion::Architecture() + " applications type untranslated");
  }
}

void OnCompanionStopped() {
  const DWORD code = app.companion.Reap();
  Print(std::string("The ") + velto::control::Companion::Architecture() + " companion stopped (exit code " +
        std::to_string(code) + "); starting it again.");
  StartCompanion();
}

// Dispatches messages until WM_QUIT, restarting the companion when it stops.
void RunMessageLoop() {
  for (;;) {
    HANDLE companion = app.companion.process();
    const DWORD woke = MsgWaitForMultipleObjects(companion ? 1 : 0, &companion, FALSE, INFINITE, QS_ALLINPUT);
    if (companion != nullptr && woke == WAIT_OBJECT_0) {
      OnCompanionStopped();
      continue;
    }
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

void ShowTrayIcon() {
  app.icon.cbSize = sizeof app.icon;
  app.icon.hWnd = app.window;
  app.icon.uID = 1;
  app.icon.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
  app.icon.uCallbackMessage = kTrayMessage;
  app.icon.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  lstrcpynW(app.icon.szTip, L"Velto", static_cast<int>(std::size(app.icon.szTip)));
  app.iconShown = Shell_NotifyIconW(NIM_ADD, &app.icon) != FALSE;
  UpdateTray();
}

}  // namespace

int main(int argc, char** argv) {
  Options& o = app.options;
  if (const int status = ParseArguments(argc, argv, o); status != 0) return status < 0 ? 0 : status;

  // Everything that can fail is checked before anything is installed.
  KeyboardDescription description = velto::layoutkit::DefaultDescription();
  if (!o.file.empty()) {
    velto::layoutkit::Diagnostics diags;
    if (!velto::layoutkit::ReadVkb(o.file, description, diags)) {
      return Fail(2, velto::layoutkit::Format(diags.all().front()));
    }
  }
  const std::string dllPath = LibraryPath(o);
  HMODULE module = LoadLibraryA(dllPath.c_str());
  if (module == nullptr) {
    return Fail(2, "cannot load the library " + dllPath + " (error " + std::to_string(GetLastError()) + ")");
  }
  if (const char* missing = velto::control::ResolveExports(module, app.lib)) {
    return Fail(2, "the library " + dllPath + " lacks the export " + missing);
  }

  HANDLE running = CreateMutexA(nullptr, FALSE, kMutexName);
  const bool another = GetLastError() == ERROR_ALREADY_EXISTS;
  if (another && !o.attach) return Fail(1, "Velto is already running (--attach watches it)");
  if (!another && o.attach) return Fail(1, "Velto is not running: there is nothing to attach to");
  if (!CreateControlWindow()) return Fail(2, "cannot create a window");
  app.notifyMsg = RegisterWindowMessageA(kNotifyMessageName);

  if (o.tray) FreeConsole();
  // Layout names may be in any script: what it prints is UTF-8, which a
  // console shows as such only in its UTF-8 code page (a pipe or file takes
  // the bytes as they are).
  const UINT consoleCodePage = GetConsoleOutputCP();
  if (consoleCodePage != 0) SetConsoleOutputCP(CP_UTF8);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  app.lib.InstallHook(reinterpret_cast<std::uintptr_t>(app.window));
  if (!o.attach) {
    app.lib.SetupKeyboard(&description.options, &description.keys, description.layouts, &description.deadKeys,
                          &description.macros);
    if (o.layout >= 0) app.lib.SelectLayout(static_cast<unsigned>(o.layout));
    if (!o.disabled) app.lib.Enable(1);
    WarnAboutCodePages(description);
    for (unsigned n = 0; n < 4; ++n) app.names[n] = NameOf(description, n);
  }
  Print(std::string(o.attach ? "Watching Velto (" : "Velto is running (") + dllPath + "): " + State() + ".");
  Print("Type quit, or press Ctrl+C, to stop.");
  if (o.tray) {
    ShowTrayIcon();
  } else {
    CloseHandle(CreateThread(nullptr, 0, ReadInput, nullptr, 0, nullptr));
  }

  if (!o.attach && o.companion && velto::control::Companion::Needed()) StartCompanion();
  RunMessageLoop();
  app.companion.Stop();
  if (app.iconShown) Shell_NotifyIconW(NIM_DELETE, &app.icon);
  app.lib.RemoveHook(reinterpret_cast<std::uintptr_t>(app.window));
  Print(o.attach ? "Stopped watching." : "Velto is stopped.");
  if (consoleCodePage != 0) SetConsoleOutputCP(consoleCodePage);
  CloseHandle(running);
  return 0;
}
