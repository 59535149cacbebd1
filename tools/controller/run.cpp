// How a controller starts, hands over to one that runs already, and stops;
// and the console's view of it.
#include <cstdio>
#include <memory>

#include "controller/controller.h"
#include "controller/log.h"
#include "controller/tray.h"
#include "layoutkit/default_layout.h"
#include "layoutkit/vkl.h"

namespace velto::controller {
namespace {

constexpr const char* kMutexName = "VeltoControllerRunning";
constexpr DWORD kHandOverMs = 10000;

// The console program prints: what happens on its output, errors on its
// error output.
class ConsoleView : public View {
 public:
  ConsoleView(const Options& o, Log& log) : o_(o), log_(log) {}
  void Attach(const Controller& c) { c_ = &c; }

  void Say(const std::string& line) override {
    log_.Write(line);
    if (o_.quiet) return;
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  void Problems(const std::string& summary, const std::vector<std::string>& lines) override {
    log_.Write(summary);
    std::fprintf(stderr, "veltoctl: %s\n", summary.c_str());
    for (const std::string& l : lines) {
      log_.Write(l);
      std::fprintf(stderr, "%s\n", l.c_str());
    }
    std::fflush(stderr);
  }
  void Tell(const std::string& text) override { Say(text); }
  void Refresh() override {}
  void ShowErrors() override {
    if (c_->Errors().empty()) return Say("The layout file has no errors.");
    for (const std::string& l : c_->Errors()) Say(l);
  }
  void Show() override { Say("Velto is running: " + c_->StateLine() + "."); }
  bool Handle(UINT, WPARAM, LPARAM) override { return false; }

 private:
  const Options& o_;
  Log& log_;
  const Controller* c_ = nullptr;
};

HWND g_window = nullptr;  // for the console's handler, its reader and the event hook

void CALLBACK OnForegroundEvent(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD, DWORD) {
  PostMessageW(g_window, kCommandPosted, 0, 0);
}

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  PostMessageW(g_window, kQuitRequest, 0, 0);
  return TRUE;
}

// Reads commands from standard input until a line "quit" or its end, which
// stop the controller.
DWORD WINAPI ReadInput(void*) {
  char line[1024];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    if (s == "quit") break;
    if (s.empty()) continue;
    PostMessageW(g_window, kCommandPosted, 0, reinterpret_cast<LPARAM>(new std::string(s)));
  }
  PostMessageW(g_window, kQuitRequest, 0, 0);
  return 0;
}

LRESULT CALLBACK ControlWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* c = reinterpret_cast<Controller*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (c == nullptr) return DefWindowProcW(window, msg, wParam, lParam);
  return c->WindowProc(window, msg, wParam, lParam);
}

// A message for the user of the tray program, which may have no console.
void Complain(bool trayProgram, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", trayProgram ? "velto" : "veltoctl", text.c_str());
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (trayProgram && (err == nullptr || err == INVALID_HANDLE_VALUE)) {
    MessageBoxW(nullptr, Wide(text).c_str(), L"Velto", MB_OK | MB_ICONERROR);
  }
}

}  // namespace

bool Controller::CreateControlWindow() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = ControlWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kWindowClass;
  if (RegisterClassW(&wc) == 0) return false;
  window_ = CreateWindowExW(0, wc.lpszClassName, o_.attach ? L"Velto watcher" : kWindowTitle, 0, 0, 0, 0, 0,
                            nullptr, nullptr, wc.hInstance, nullptr);
  if (window_ == nullptr) return false;
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  // Run as administrator, the window still takes the commands of a second
  // start and the shell's news that the taskbar is back (Windows 7 and on).
  using Filter = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
  if (const auto filter = reinterpret_cast<Filter>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleW(L"user32.dll"), "ChangeWindowMessageFilterEx")))) {
    constexpr DWORD kAllow = 1;  // MSGFLT_ALLOW
    filter(window_, WM_COPYDATA, kAllow, nullptr);
    filter(window_, RegisterWindowMessageW(L"TaskbarCreated"), kAllow, nullptr);
  }
  g_window = window_;
  return true;
}

// A second start gives the running instance its command ("show" unless
// --send says otherwise) and stops.
int Controller::HandOver() {
  // Started at sign-in for every user while the user's own start came first:
  // nothing to show.
  if (o_.quiet && o_.send.empty()) return 0;
  const HWND running = FindWindowW(kWindowClass, kWindowTitle);
  if (running == nullptr) {
    Complain(o_.tray, "Velto is running, but its window cannot be found");
    return 1;
  }
  const std::string command = o_.send.empty() ? "show" : o_.send;
  COPYDATASTRUCT data{kCommandData, static_cast<DWORD>(command.size()), const_cast<char*>(command.data())};
  DWORD_PTR accepted = 0;
  if (!SendMessageTimeoutW(running, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 5000,
                           &accepted) ||
      accepted == 0) {
    Complain(o_.tray, "Velto is running, but does not answer");
    return 1;
  }
  if (o_.send.empty()) std::fprintf(stderr, "velto: Velto is already running; it shows itself.\n");
  return 0;
}

std::string Controller::LibraryPath() const {
  return o_.dll.empty() ? FolderOf(ThisProgram()) + control::kLibraryName : o_.dll;
}

int Controller::Start(bool trayProgram) {
  const bool explicitFile = !o_.file.empty();
  if (!o_.attach) {
    settingsFile_ = o_.settings.empty() ? ProfileFolder() + "settings.ini" : FullPath(o_.settings);
    if (explicitFile) o_.file = FullPath(o_.file);
  }
  // Everything that can fail is checked before anything is installed. A
  // layout file named on veltoctl's command line must load, as scripts rely
  // on; the tray program, and a file from the settings, fall back on the
  // built-in layouts and show the errors.
  description_ = layoutkit::DefaultDescription();
  const bool mustLoad = explicitFile && !trayProgram && o_.send.empty();
  layoutkit::Diagnostics loaded;
  if (mustLoad && !layoutkit::LoadDescriptionFile(o_.file, description_, loaded)) {
    for (const layoutkit::Diagnostic& d : loaded.all())
      std::fprintf(stderr, "%s\n", layoutkit::Format(d).c_str());
    return 2;
  }
  const std::string dllPath = LibraryPath();
  HMODULE module = LoadLibraryW(Wide(dllPath).c_str());
  if (module == nullptr) {
    Complain(trayProgram,
             "cannot load the library " + dllPath + " (error " + std::to_string(GetLastError()) + ")");
    return 2;
  }
  if (const char* missing = control::ResolveExports(module, lib_)) {
    Complain(trayProgram, "the library " + dllPath + " lacks the export " + missing);
    return 2;
  }

  running_ = CreateMutexA(nullptr, FALSE, kMutexName);
  bool another = GetLastError() == ERROR_ALREADY_EXISTS;
  if (another && o_.elevatedRestart) {
    // Restarted as administrator: the instance before makes way.
    if (const HWND old = FindWindowW(kWindowClass, kWindowTitle)) PostMessageW(old, kQuitRequest, 0, 0);
    for (DWORD waited = 0; another && waited < kHandOverMs; waited += 100) {
      CloseHandle(running_);
      Sleep(100);
      running_ = CreateMutexA(nullptr, FALSE, kMutexName);
      another = GetLastError() == ERROR_ALREADY_EXISTS;
    }
  }
  if (another && !o_.attach) {
    if (trayProgram || !o_.send.empty()) return HandOver();
    Complain(false, "Velto is already running (--attach watches it)");
    return 1;
  }
  if (!another && o_.attach) {
    Complain(trayProgram, "Velto is not running: there is nothing to attach to");
    return 1;
  }
  if (!another && !o_.send.empty()) {
    Complain(trayProgram, "Velto is not running: there is nothing to send to");
    return 1;
  }
  if (!CreateControlWindow()) {
    Complain(trayProgram, "cannot create a window");
    return 2;
  }
  notifyMsg_ = RegisterWindowMessageA(kNotifyMessageName);
  elevated_ = ThisProcessElevated();

  if (!o_.attach) {
    if (trayProgram && !StampOf(settingsFile_).exists) {
      // The first start writes the settings, explained. Start at sign-in is
      // as the Run key has it: an installer may have set it.
      SetSetting("start at sign-in", OnOff(!SignInCommand().empty()));
      CreateDirectoryW(Wide(LayoutsFolder()).c_str(), nullptr);
    }
    ReadSettings(true);
    if (mustLoad) {
      layoutFile_ = o_.file;
      Watch(layoutWatch_, loaded.files());
    } else {
      LoadLayout(ResolvedLayoutFile(), true);
    }
  }
  return 0;
}

int Controller::Run(bool trayProgram) {
  if (const int status = Start(trayProgram); status != 0 || window_ == nullptr) return status;
  // Layout names may be in any script: what it prints is UTF-8, which a
  // console shows as such only in its UTF-8 code page (a pipe or file takes
  // the bytes as they are).
  consoleCodePage_ = GetConsoleOutputCP();
  if (consoleCodePage_ != 0) SetConsoleOutputCP(CP_UTF8);
  if (!o_.tray) SetConsoleCtrlHandler(OnConsoleControl, TRUE);

  lib_.InstallHook(reinterpret_cast<std::uintptr_t>(window_));
  if (!o_.attach) {
    lib_.SetupKeyboard(&description_.options, &description_.keys, description_.layouts,
                       &description_.deadKeys, &description_.macros);
    lib_.SelectLayout(static_cast<unsigned>(o_.layout >= 0 ? o_.layout : settings_.layout));
    lib_.Enable(!o_.disabled && settings_.translation ? 1 : 0);
    WarnAboutCodePages();
    if (StampOf(settingsFile_).exists) ApplySignIn(settings_.startAtSignIn, true);
  }
  view_->Say(std::string(o_.attach ? "Watching Velto (" : "Velto is running (") + LibraryPath() +
             "): " + StateLine() + ".");
  if (!o_.tray) {
    view_->Say("Type quit, or press Ctrl+C, to stop.");
    CloseHandle(CreateThread(nullptr, 0, ReadInput, nullptr, 0, nullptr));
  }
  view_->Refresh();
  if (!o_.attach) {
    foregroundHook_ =
        SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr, OnForegroundEvent, 0, 0,
                        WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
    SetTimer(window_, kTickTimer, kTickMs, nullptr);
    FollowForeground();
    if (o_.companion && control::Companion::Needed()) StartCompanion();
  }
  Loop();
  Stop();
  return 0;
}

void Controller::Stop() {
  companion_.Stop();
  if (foregroundHook_ != nullptr) UnhookWinEvent(foregroundHook_);
  KillTimer(window_, kTickTimer);
  lib_.RemoveHook(reinterpret_cast<std::uintptr_t>(window_));
  view_->Say(o_.attach ? "Stopped watching." : "Velto is stopped.");
  if (consoleCodePage_ != 0) SetConsoleOutputCP(consoleCodePage_);
  CloseHandle(running_);
}

int RunController(bool trayProgram) {
  std::vector<std::string> args = Arguments();
  if (!args.empty()) args.erase(args.begin());
  Options o;
  if (const int status = ParseOptions(args, trayProgram, o); status != 0) return status < 0 ? 0 : status;
  Log log(o.log);
  if (log.failed(o.log)) {
    Complain(trayProgram, "cannot write the log " + o.log);
    return 2;
  }
  if (o.tray) {
    if (!trayProgram) FreeConsole();
    // The icon is drawn at the size the display's scale asks for, which a
    // program that is not aware of the scale is never told.
    using SetContext = BOOL(WINAPI*)(HANDLE);
    const auto setContext = reinterpret_cast<SetContext>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
    if (setContext == nullptr || !setContext(reinterpret_cast<HANDLE>(-4)))
      SetProcessDPIAware();  // per monitor, v2
    TrayView view(log);
    Controller c(o, view);
    view.Attach(c);
    return c.Run(trayProgram);
  }
  ConsoleView view(o, log);
  Controller c(o, view);
  view.Attach(c);
  return c.Run(trayProgram);
}

}  // namespace velto::controller
