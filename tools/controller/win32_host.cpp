#include "controller/win32_host.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "controller/console_view.h"
#include "controller/log.h"
#include "controller/tray_view.h"
#include "layoutkit/vkb.h"
#include "shared/keys.h"
#include "shared/region.h"

namespace velto::controller {
namespace {

// In the session's own namespace, as the library's region is: each user
// signed in runs a Velto of their own.
constexpr const char* kMutexName = "VeltoControllerRunning";
constexpr const char* kNotifyMessageName = "quorvexmessage";
constexpr DWORD kHandOverMs = 10000;
// WM_COPYDATA of a command from a second start.
constexpr ULONG_PTR kCommandData = 0x56454C54;
// WM_COPYDATA from veltoctl --diagnostics: the file (UTF-8) that the
// running instance writes its report to.
constexpr ULONG_PTR kDiagnosticsData = 0x56454C44;
// The window's timers. None runs while nothing happens, once the system has
// told of a window in front (see Run) and every watched folder has its
// change notification (see WatchFiles).
constexpr UINT_PTR kForegroundPollTimer = 1;
constexpr UINT_PTR kLookTimer = 2;  // once, for Controller::LookAgain
constexpr UINT_PTR kFolderPollTimer = 3;
constexpr UINT kForegroundPollMs = 250;
constexpr UINT kFolderPollMs = 1000;
constexpr DWORD kFolderChanges =
    FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE;
// MsgWaitForMultipleObjects waits for at most MAXIMUM_WAIT_OBJECTS - 1
// handles, one of them the companion's.
constexpr std::size_t kMostWatchedFolders = MAXIMUM_WAIT_OBJECTS - 2;
constexpr const wchar_t* kWindowClass = L"VeltoControl";
constexpr const wchar_t* kWindowTitle =
    L"Velto";  // the instance that owns the layouts; a watcher has another

HWND g_window = nullptr;  // for the foreground event hook

void CALLBACK OnForegroundEvent(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD, DWORD) {
  PostMessageW(g_window, kForegroundChanged, 0, 0);
}

LRESULT CALLBACK ControlWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* host = reinterpret_cast<Win32Host*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (host == nullptr) return DefWindowProcW(window, msg, wParam, lParam);
  return host->WindowProc(window, msg, wParam, lParam);
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

// --- What the controller asks of Windows -----------------------------------------

void Win32Host::SetupKeyboard(const layoutkit::KeyboardDescription& d) {
  lib_.SetupKeyboard(&d.options, &d.keys, d.layouts, &d.deadKeys, d.LastBlock());
}

std::string Win32Host::CurrentLayoutName() const {
  char name[21] = {};
  lib_.CurrentLayoutName(name);
  return name;
}

bool Win32Host::ReadText(const std::string& path, std::string& text, std::string& error) const {
  std::vector<std::uint8_t> bytes;
  layoutkit::Diagnostics diags;
  if (!layoutkit::ReadFile(path, bytes, diags)) {
    error = diags.Text();
    return false;
  }
  text.assign(bytes.begin(), bytes.end());
  return true;
}

bool Win32Host::WriteText(const std::string& path, const std::string& text, std::string& error) {
  layoutkit::Diagnostics diags;
  if (layoutkit::WriteFile(path, std::vector<std::uint8_t>(text.begin(), text.end()), diags)) return true;
  error = diags.Text();
  return false;
}

std::string Win32Host::ExpandVariables(const std::string& text) const {
  wchar_t expanded[MAX_PATH * 4];
  if (ExpandEnvironmentStringsW(Wide(text).c_str(), expanded, static_cast<DWORD>(std::size(expanded))) > 0) {
    return Utf8(expanded);
  }
  return text;
}

void Win32Host::MakeFolder(const std::string& path) {
  CreateDirectoryW(Wide(path).c_str(), nullptr);
}

// Each folder of the files gets a change notification; a folder still
// watched keeps its own. A folder that cannot be watched (it does not exist,
// as when the file is missing with it) or one past what the loop waits for
// is polled, slowly, instead: that poll runs only while such a folder is
// left, and tries to watch it each time.
void Win32Host::WatchFiles(const std::vector<std::string>& paths) {
  std::vector<WatchedFolder> folders;
  for (const std::string& path : paths) {
    const std::string folder = FolderOf(path);
    const auto named = [&](const WatchedFolder& f) { return f.path == folder; };
    if (std::any_of(folders.begin(), folders.end(), named)) continue;
    WatchedFolder f{folder, nullptr};
    if (const auto old = std::find_if(folders_.begin(), folders_.end(), named); old != folders_.end()) {
      std::swap(f.change, old->change);
    }
    folders.push_back(f);
  }
  for (const WatchedFolder& f : folders_) {
    if (f.change != nullptr) FindCloseChangeNotification(f.change);
  }
  folders_ = std::move(folders);
  if (WatchMissingFolders()) {
    KillTimer(window_, kFolderPollTimer);
  } else {
    SetTimer(window_, kFolderPollTimer, kFolderPollMs, nullptr);
  }
}

// Opens the notifications that are missing; true if none is left missing.
bool Win32Host::WatchMissingFolders() {
  std::size_t open = static_cast<std::size_t>(std::count_if(
      folders_.begin(), folders_.end(), [](const WatchedFolder& f) { return f.change != nullptr; }));
  for (WatchedFolder& f : folders_) {
    if (f.change != nullptr || open == kMostWatchedFolders) continue;
    const HANDLE change = FindFirstChangeNotificationW(Wide(f.path).c_str(), FALSE, kFolderChanges);
    if (change == INVALID_HANDLE_VALUE) continue;
    f.change = change;
    ++open;
  }
  return open == folders_.size();
}

// A watched folder changed. Its notification is armed again before the
// controller looks, so that a change made while it looks is not lost; a
// folder whose notification cannot be armed again (removed, say) is polled.
void Win32Host::FolderChanged(std::size_t n) {
  WatchedFolder& f = folders_[n];
  if (!FindNextChangeNotification(f.change)) {
    FindCloseChangeNotification(f.change);
    f.change = nullptr;
    SetTimer(window_, kFolderPollTimer, kFolderPollMs, nullptr);
  }
  c_->FilesMayHaveChanged();
}

// A timer of the same id replaces the one before: the look moves.
void Win32Host::LookAgainIn(unsigned ms) {
  SetTimer(window_, kLookTimer, ms, nullptr);
}

// Each modifier key on its own: the system tells left from right.
std::uint16_t Win32Host::HeldModifiers() const {
  static constexpr std::pair<int, std::uint8_t> kKeys[] = {
      {VK_LCONTROL, kModLeftCtrl}, {VK_RCONTROL, kModRightCtrl}, {VK_LMENU, kModLeftAlt},
      {VK_RMENU, kModRightAlt},    {VK_LWIN, kModLeftWin},       {VK_RWIN, kModRightWin},
      {VK_LSHIFT, kModLeftShift},  {VK_RSHIFT, kModRightShift},
  };
  std::uint16_t held = 0;
  for (const auto& [vk, bit] : kKeys) {
    if (GetAsyncKeyState(vk) < 0) held = static_cast<std::uint16_t>(held | 1u << bit);
  }
  return held;
}

std::uintptr_t Win32Host::ForegroundWindow() const {
  return reinterpret_cast<std::uintptr_t>(GetForegroundWindow());
}

// A quit may come while the tray menu is open, whose own loop would take a
// WM_QUIT: the menu is closed and the loop below stops on the flag.
void Win32Host::Quit() {
  quit_ = true;
  EndMenu();
  PostMessageW(window_, WM_NULL, 0, 0);
}

void Win32Host::Post(const Command& command) {
  PostMessageW(window_, kCommandPosted, 0, reinterpret_cast<LPARAM>(new Command(command)));
}

// --- Starting, handing over and stopping -----------------------------------------

std::string Win32Host::LibraryPath() const {
  return o_.dll.empty() ? FolderOf(controller::ThisProgram()) + kLibraryName : o_.dll;
}

int Win32Host::OpenLibrary() {
  const std::string dllPath = LibraryPath();
  HMODULE module = LoadLibraryW(Wide(dllPath).c_str());
  if (module == nullptr) {
    Complain(trayProgram_,
             "cannot load the library " + dllPath + " (error " + std::to_string(GetLastError()) + ")");
    return 2;
  }
  if (const char* missing = ResolveExports(module, lib_)) {
    Complain(trayProgram_, "the library " + dllPath + " lacks the export " + missing);
    return 2;
  }
  return 0;
}

// Returns -1 when this instance is the one to run, else the exit status.
int Win32Host::ClaimOrHandOver() {
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
    if (trayProgram_ || o_.send) return HandOver();
    Complain(false, "Velto is already running (--attach watches it)");
    return 1;
  }
  if (!another && o_.attach) {
    Complain(trayProgram_, "Velto is not running: there is nothing to attach to");
    return 1;
  }
  if (!another && o_.send) {
    Complain(trayProgram_, "Velto is not running: there is nothing to send to");
    return 1;
  }
  return -1;
}

// A second start gives the running instance its command ("show" unless
// --send says otherwise) and stops.
int Win32Host::HandOver() {
  // Started at sign-in for every user while the user's own start came first:
  // nothing to show.
  if (o_.quiet && !o_.send) return 0;
  const HWND running = FindWindowW(kWindowClass, kWindowTitle);
  if (running == nullptr) {
    Complain(o_.tray, "Velto is running, but its window cannot be found");
    return 1;
  }
  const std::string command = CommandText(o_.send.value_or(Command::Of(Command::Kind::kShow)));
  COPYDATASTRUCT data{kCommandData, static_cast<DWORD>(command.size()), const_cast<char*>(command.data())};
  DWORD_PTR accepted = 0;
  if (!SendMessageTimeoutW(running, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 5000,
                           &accepted) ||
      accepted == 0) {
    Complain(o_.tray, "Velto is running, but does not answer");
    return 1;
  }
  if (!o_.send) std::fprintf(stderr, "velto: Velto is already running; it shows itself.\n");
  return 0;
}

// --- The diagnostics report ----------------------------------------------------------

std::string Win32Host::DiagnosticsText(const std::string& seenOnlyBy) const {
  DiagnosticFacts f;
  f.seenOnlyBy = seenOnlyBy;
  f.program = controller::ThisProgram();
  f.library = controller::FullPath(LibraryPath());
  if (Companion::Needed()) f.companion = Utf8(BesideThisProgram(Companion::FileName()));
#ifdef _WIN64
  const char* thisArchitecture = "64-bit";
#else
  const char* thisArchitecture = "32-bit";
#endif
  const std::string pid = "pid " + std::to_string(GetCurrentProcessId());
  f.hooks.push_back({thisArchitecture, hooked_,
                     hooked_ ? "by this process (" + pid + ")" : "not by this process (" + pid + ")"});
  if (Companion::Needed()) {
    HookFacts other{Companion::Architecture(), false, ""};
    if (companion_.process() == nullptr) {
      other.holder = "no companion runs";
    } else {
      other.installed = companionReady_;
      other.holder = std::string("by the companion ") + Companion::FileName() + " (pid " +
                     std::to_string(companion_.pid()) + (companionReady_ ? ")" : ", starting)");
    }
    f.hooks.push_back(other);
  }
  f.regionName = kRegionName;
  f.regionSize = kRegionSize;
  // The library maps the region when it is loaded into a process.
  const HANDLE region = OpenFileMappingA(FILE_MAP_READ, FALSE, kRegionName);
  f.regionMapped = region != nullptr && lib_.module != nullptr;
  if (region != nullptr) CloseHandle(region);
  f.inFront = ReadForegroundFacts(f.keyboardLayout);
  f.ansiCodePage = GetACP();
  if (c_ != nullptr) c_->Diagnose(ReadWindowInFront(), f);
  return DiagnosticsReport(f);
}

// veltoctl --diagnostics: the running instance writes its report to a
// file of this one's choosing, which is printed; with none running, the
// report is of what this process sees.
// Whether `path` is a file such as --diagnostics makes for the report: an
// existing "vlt*.tmp" right in the temporary folder. The path comes from
// another process, which may have fewer rights than this one: no other file
// is written for it.
namespace {
bool IsReportFile(const std::string& path) {
  wchar_t folder[MAX_PATH];
  const DWORD n = GetTempPathW(MAX_PATH, folder);
  const std::wstring file = Wide(path);
  if (n == 0 || n >= MAX_PATH || file.size() <= n || _wcsnicmp(file.c_str(), folder, n) != 0) return false;
  const std::wstring name = file.substr(n);
  const DWORD attributes = GetFileAttributesW(file.c_str());
  return name.find_first_of(L"\\/:") == std::wstring::npos && name.size() > 7 &&
         _wcsnicmp(name.c_str(), L"vlt", 3) == 0 && _wcsicmp(name.c_str() + name.size() - 4, L".tmp") == 0 &&
         attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}
}  // namespace

int Win32Host::ReportDiagnostics() {
  const HANDLE running = CreateMutexA(nullptr, FALSE, kMutexName);
  const bool another = GetLastError() == ERROR_ALREADY_EXISTS;
  if (running != nullptr) CloseHandle(running);
  std::string report;
  const HWND window = another ? FindWindowW(kWindowClass, kWindowTitle) : nullptr;
  if (window != nullptr) {
    wchar_t folder[MAX_PATH], file[MAX_PATH];
    if (GetTempPathW(MAX_PATH, folder) == 0 || GetTempFileNameW(folder, L"vlt", 0, file) == 0) {
      Complain(trayProgram_, "cannot make a temporary file for the report");
      return 2;
    }
    const std::string path = Utf8(file);
    COPYDATASTRUCT data{kDiagnosticsData, static_cast<DWORD>(path.size()), const_cast<char*>(path.data())};
    DWORD_PTR written = 0;
    std::string error;
    const bool answered = SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                                              SMTO_ABORTIFHUNG, 5000, &written) &&
                          written != 0;
    const bool read = answered && ReadText(path, report, error);
    DeleteFileW(file);
    if (!read) {
      Complain(trayProgram_, answered ? "cannot read the running instance's report: " + error
                                      : "Velto is running, but does not answer");
      return 1;
    }
  } else {
    std::vector<std::string> diagnostics;
    c_->Prepare(trayProgram_, diagnostics);
    c_->ReadSettingsForReport();
    report = DiagnosticsText(another ? "Velto is running, but its window cannot be found: this report shows "
                                       "what this program sees, not the running instance."
                                     : "Velto is not running: this report shows what this program sees.");
  }
  // The tray program has no console of its own: it prints into the one it
  // was started from, if any.
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if ((out == nullptr || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
    std::FILE* reopened = std::freopen("CONOUT$", "w", stdout);
    if (reopened == nullptr) return 2;
  }
  std::fputs(report.c_str(), stdout);
  std::fflush(stdout);
  return 0;
}

bool Win32Host::CreateControlWindow() {
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

int Win32Host::Run(Controller& c, WindowClient* client, const std::function<void()>& running) {
  c_ = &c;
  client_ = client;
  // Everything that can fail is checked before anything is installed.
  std::vector<std::string> diagnostics;
  if (!c.Prepare(trayProgram_, diagnostics)) {
    for (const std::string& d : diagnostics) std::fprintf(stderr, "%s\n", d.c_str());
    return 2;
  }
  if (o_.diagnostics) return ReportDiagnostics();
  if (const int status = OpenLibrary(); status != 0) return status;
  if (const int status = ClaimOrHandOver(); status >= 0) return status;
  if (!CreateControlWindow()) {
    Complain(trayProgram_, "cannot create a window");
    return 2;
  }
  notifyMsg_ = RegisterWindowMessageA(kNotifyMessageName);
  // Layout names may be in any script: what it prints is UTF-8, which a
  // console shows as such only in its UTF-8 code page (a pipe or file takes
  // the bytes as they are).
  consoleCodePage_ = GetConsoleOutputCP();
  if (consoleCodePage_ != 0) SetConsoleOutputCP(CP_UTF8);

  lib_.InstallHook(reinterpret_cast<std::uintptr_t>(window_));
  hooked_ = true;
  keyboard_.Attach(c);
  c.Start(trayProgram_, LibraryPath());
  if (running) running();
  if (!o_.attach) {
    foregroundHook_ =
        SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr, OnForegroundEvent, 0, 0,
                        WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
    // The system tells of each new window in front, but not everywhere:
    // Wine 8 never does. So the window in front is polled, slowly, until
    // the first event comes, and from then on followed by the events alone.
    SetTimer(window_, kForegroundPollTimer, kForegroundPollMs, nullptr);
  }
  c.StartFollowing();
  Loop();
  Stop();
  c.Stopped();
  if (consoleCodePage_ != 0) SetConsoleOutputCP(consoleCodePage_);
  CloseHandle(running_);
  return 0;
}

void Win32Host::Stop() {
  keyboard_.Show(false);  // keeps its place
  companion_.Stop();
  if (foregroundHook_ != nullptr) UnhookWinEvent(foregroundHook_);
  for (const UINT_PTR timer : {kForegroundPollTimer, kLookTimer, kFolderPollTimer}) KillTimer(window_, timer);
  WatchFiles({});
  lib_.RemoveHook(reinterpret_cast<std::uintptr_t>(window_));
  hooked_ = false;
}

// Dispatches messages until a quit, restarting the companion when it stops
// and passing on the changes in the watched folders.
void Win32Host::Loop() {
  for (;;) {
    std::vector<HANDLE> handles;
    std::vector<std::size_t> folderOf;  // of each handle after the companion's
    if (const HANDLE companion = companion_.process()) handles.push_back(companion);
    const std::size_t firstFolder = handles.size();
    for (std::size_t n = 0; n < folders_.size(); ++n) {
      if (folders_[n].change == nullptr) continue;
      handles.push_back(folders_[n].change);
      folderOf.push_back(n);
    }
    const std::size_t woke = MsgWaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                                                       FALSE, INFINITE, QS_ALLINPUT) -
                             WAIT_OBJECT_0;
    if (woke < firstFolder) {
      companionReady_ = false;
      c_->CompanionStopped(companion_.Reap());
    } else if (woke < handles.size()) {
      FolderChanged(folderOf[woke - firstFolder]);
    }
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
      if (quit_) return;
    }
  }
}

LRESULT Win32Host::WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == notifyMsg_ && notifyMsg_ != 0) {
    c_->Notice(wParam, static_cast<std::uintptr_t>(lParam));
    return 0;
  }
  switch (msg) {
    case WM_TIMER:
      if (wParam == kForegroundPollTimer) {
        c_->FollowForeground();
      } else if (wParam == kLookTimer) {
        KillTimer(window_, kLookTimer);
        c_->LookAgain();
      } else if (wParam == kFolderPollTimer) {
        if (WatchMissingFolders()) KillTimer(window_, kFolderPollTimer);
        c_->FilesMayHaveChanged();
      }
      return 0;
    case kForegroundChanged:
      if (!foregroundEvents_) {  // the system tells: no more polling
        foregroundEvents_ = true;
        KillTimer(window_, kForegroundPollTimer);
      }
      c_->FollowForeground();
      return 0;
    case kCommandPosted: {
      const std::unique_ptr<Command> command(reinterpret_cast<Command*>(lParam));
      c_->Execute(*command);
      return 0;
    }
    case WM_COPYDATA: {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (data->dwData == kDiagnosticsData) {
        const std::string path(static_cast<const char*>(data->lpData), data->cbData);
        std::string error;
        return IsReportFile(path) && WriteText(path, DiagnosticsText(), error) ? TRUE : FALSE;
      }
      if (data->dwData != kCommandData) return FALSE;
      // The sender waits for the answer: what the command shows is done after it.
      const std::string text(static_cast<const char*>(data->lpData), data->cbData);
      if (text.empty()) {
        Post(Command::Of(Command::Kind::kShow));
      } else if (const auto command = ParseCommand(text)) {
        Post(*command);
      } else {
        c_->Refuse(text);
      }
      return TRUE;
    }
    case kQuitRequest:
    case WM_CLOSE:  // how an installer or a task manager asks a program without windows to stop
      Quit();
      return 0;
    case WM_ENDSESSION:
      // Windows ends the process once this returns: the hooks go now.
      if (wParam != 0) {
        companion_.Stop();
        lib_.RemoveHook(reinterpret_cast<std::uintptr_t>(window_));
      }
      return 0;
    case kCompanionReady:
      companionReady_ = true;
      c_->CompanionReady(Companion::FileName());
      return 0;
    default:
      if (client_ != nullptr && client_->Handle(msg, wParam, lParam)) return 0;
      return DefWindowProcW(window, msg, wParam, lParam);
  }
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
  Win32Host host(o, trayProgram);
  if (o.tray) {
    if (!trayProgram) FreeConsole();
    // The icon is drawn at the size the display's scale asks for, which a
    // program that is not aware of the scale is never told.
    using SetContext = BOOL(WINAPI*)(HANDLE);
    const auto setContext = reinterpret_cast<SetContext>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
    if (setContext == nullptr || !setContext(reinterpret_cast<HANDLE>(-4)))
      SetProcessDPIAware();  // per monitor, v2
    TrayView view(log, host);
    Controller c(o, host, view);
    view.Attach(c);
    return host.Run(c, &view, nullptr);
  }
  ConsoleView view(o, log);
  Controller c(o, host, view);
  view.Attach(c);
  return host.Run(c, nullptr, [&] { view.TakeCommands([&](const Command& command) { host.Post(command); }); });
}

}  // namespace velto::controller
