#include "controller/controller.h"

#include <cstdio>
#include <memory>

#include "layoutkit/badge.h"
#include "layoutkit/default_layout.h"
#include "layoutkit/scan_names.h"
#include "layoutkit/text.h"
#include "layoutkit/vkb.h"
#include "layoutkit/vkl.h"
#include "shared/charset.h"
#include "shared/notice.h"

namespace velto::controller {
namespace {

constexpr const char* kNotifyMessageName = "quorvexmessage";
constexpr int kFileTicks = 5;  // the files are looked at every fifth tick
constexpr int kCompanionStartsKept = 5;
constexpr DWORD kCompanionStartWindowMs = 60000;

// Velto's own windows and the shell's notification area take the foreground
// while the user works the tray menu; that is not leaving the program in
// front for the rules.
bool PassingThrough(const ForegroundWindow& fg) {
  return fg.window == nullptr || fg.process == GetCurrentProcessId() || fg.windowClass == "Shell_TrayWnd" ||
         fg.windowClass == "NotifyIconOverflowWindow" || fg.windowClass == "#32768";
}

}  // namespace

std::string Controller::LayoutName(unsigned layout) const {
  if (layout >= 4) return "";
  if (!o_.attach) return layoutkit::LayoutName(description_, layout);
  // Attached to another instance, only the current layout's name is known,
  // as the library holds it: in which set is the other instance's business.
  char name[21] = {};
  if (layout != lib_.CurrentLayout()) return "";
  lib_.CurrentLayoutName(name);
  return name;
}

std::string Controller::Badge(unsigned layout) const {
  if (settings_.trayIcon == TrayIcon::kNumber || o_.attach || layout >= 4) return std::to_string(layout);
  return layoutkit::LayoutBadge(description_, layout);
}

std::string Controller::StateLine() const {
  const unsigned layout = Layout();
  const std::string name = LayoutName(layout);
  const unsigned leds = Leds();
  std::string s = "layout " + std::to_string(layout) + (name.empty() ? "" : " (" + name + ")");
  s += On() ? ", translation on" : ", translation off";
  s += std::string(", lights: Num ") + OnOff(leds >> kLedNumLock & 1) + ", Caps " +
       OnOff(leds >> kLedCapsLock & 1) + ", Scroll " + OnOff(leds >> kLedScrollLock & 1);
  return s;
}

// --- Settings and the layout file ------------------------------------------

void Controller::ReadSettings(bool starting) {
  std::vector<std::uint8_t> bytes;
  layoutkit::Diagnostics diags;
  Watch(settingsWatch_, {settingsFile_});
  if (StampOf(settingsFile_).exists) {
    if (layoutkit::ReadFile(settingsFile_, bytes, diags)) {
      settings_ = ParseSettings(std::string(bytes.begin(), bytes.end()), settingsFile_, diags);
    }
  } else {
    settings_ = Settings{};
  }
  if (diags.HasErrors()) {
    std::vector<std::string> lines;
    for (const layoutkit::Diagnostic& d : diags.all()) lines.push_back(layoutkit::Format(d));
    view_->Problems("The settings file has errors; those settings keep their defaults.", lines);
  }
  if (!starting) view_->Say("Settings read again from " + settingsFile_ + ".");
  rules_.RulesChanged();
  lastInFront_ = nullptr;
}

std::string Controller::ResolvedLayoutFile() const {
  std::string file = o_.file.empty() ? settings_.layoutFile : o_.file;
  if (file.empty()) return file;
  wchar_t expanded[MAX_PATH * 4];
  if (ExpandEnvironmentStringsW(Wide(file).c_str(), expanded, static_cast<DWORD>(std::size(expanded))) > 0) {
    file = Utf8(expanded);
  }
  // A file named on the command line is the shell's, relative to where it
  // started; one in the settings is relative to the settings.
  if (!IsAbsolute(file) && o_.file.empty()) file = FolderOf(settingsFile_) + file;
  return file;
}

bool Controller::LoadLayout(const std::string& path, bool starting) {
  layoutkit::KeyboardDescription loaded = layoutkit::DefaultDescription();
  layoutkit::Diagnostics diags;
  const bool ok = path.empty() || layoutkit::LoadDescriptionFile(path, loaded, diags);
  Watch(layoutWatch_, path.empty() ? std::vector<std::string>{} : diags.files());
  std::vector<std::string> lines;
  for (const layoutkit::Diagnostic& d : diags.all()) lines.push_back(layoutkit::Format(d));
  if (!ok) {
    errors_ = lines;
    const std::string kept = starting ? "the built-in layouts are in use" : "the layouts in use stay";
    view_->Problems(FileNameOf(path) + " has errors; " + kept + ".", lines);
    if (starting) layoutFile_.clear();
    view_->Refresh();
    return false;
  }
  errors_.clear();
  description_ = loaded;
  layoutFile_ = path;
  if (!lines.empty()) view_->Problems("Warnings for " + FileNameOf(path) + ":", lines);
  if (!starting) {
    // The library keeps the active layout and translation on or off; only
    // the tables change.
    lib_.SetupKeyboard(&description_.options, &description_.keys, description_.layouts,
                       &description_.deadKeys, &description_.macros);
    view_->Say("Loaded " + (path.empty() ? std::string("the built-in layouts") : path) + ".");
    WarnAboutCodePages();
  }
  view_->Refresh();
  return true;
}

// A layout without a character set whose characters are in another code
// page than the system's arrives wrong: its 8-bit characters are posted as
// they are and converted by the receiving thread's ANSI code page. A layout
// with a set is delivered as Unicode and types right on any system.
void Controller::WarnAboutCodePages() {
  const UINT acp = GetACP();
  std::string layouts;
  for (unsigned n = 0; n < 4; ++n) {
    const LayoutRecord& r = description_.layouts[n];
    if (CharSetOf(r) != CharSetKind::kNone) continue;
    const int cp = r.reserved[0] | r.reserved[1] << 8;
    if (cp == 0 || static_cast<UINT>(cp) == acp) continue;
    layouts += (layouts.empty() ? "" : ", ") + std::to_string(n) + " (code page " + std::to_string(cp) + ")";
  }
  if (layouts.empty()) return;
  view_->Problems("warning: this system's ANSI code page is " + std::to_string(acp) +
                      ", so the characters of layout " + layouts + " will arrive as others",
                  {});
}

std::string Controller::SignInCommandLine() const {
  std::string command = "\"" + FolderOf(ThisProgram()) + "velto.exe\"";
  if (!o_.settings.empty()) command += " --settings \"" + settingsFile_ + "\"";
  return command;
}

void Controller::ApplySignIn(bool on, bool say) {
  const bool now = !SignInCommand().empty();
  if (now == on) return;
  std::string error;
  if (!SetSignInCommand(on ? SignInCommandLine() : "", error)) {
    view_->Problems("Cannot change the start at sign-in: " + error, {});
    return;
  }
  if (say) view_->Say(on ? "Velto starts at sign-in." : "Velto no longer starts at sign-in.");
}

// Writes one setting into the settings file, keeping the rest of the text as
// the user wrote it, and takes it in at once.
void Controller::SetSetting(const std::string& key, const std::string& value) {
  std::vector<std::uint8_t> bytes;
  layoutkit::Diagnostics diags;
  std::string text = DefaultSettingsText();
  if (StampOf(settingsFile_).exists) {
    if (!layoutkit::ReadFile(settingsFile_, bytes, diags)) {
      view_->Problems("Cannot read the settings file; nothing was changed.", {diags.Text()});
      return;
    }
    text.assign(bytes.begin(), bytes.end());
  }
  text = WithSetting(text, key, value);
  if (!layoutkit::WriteFile(settingsFile_, std::vector<std::uint8_t>(text.begin(), text.end()), diags)) {
    view_->Problems("Cannot write the settings file.", {diags.Text()});
    return;
  }
  Settings changed = ParseSettings(text, settingsFile_, diags);
  settings_ = changed;
  Watch(settingsWatch_, {settingsFile_});
}

// --- Following the files and the window in front ----------------------------

void Controller::Watch(Watched& w, std::vector<std::string> files) {
  w.files = std::move(files);
  w.loaded.clear();
  for (const std::string& f : w.files) w.loaded.push_back(StampOf(f));
  w.seen = w.loaded;
}

// True once the files differ from what was loaded and have stayed the same
// for one look: an editor that writes a file in steps is read when done.
bool Controller::ChangedAndSettled(Watched& w) {
  std::vector<FileStamp> now;
  for (const std::string& f : w.files) now.push_back(StampOf(f));
  const bool settled = now == w.seen;
  w.seen = now;
  return settled && now != w.loaded;
}

void Controller::Tick() {
  FollowForeground();
  if (++ticks_ % kFileTicks != 0 || o_.attach) return;
  if (ChangedAndSettled(settingsWatch_)) {
    const std::string before = ResolvedLayoutFile();
    ReadSettings(false);
    ApplySignIn(settings_.startAtSignIn, true);
    if (ResolvedLayoutFile() != before) LoadLayout(ResolvedLayoutFile(), false);
    view_->Refresh();
  }
  if (ChangedAndSettled(layoutWatch_))
    LoadLayout(layoutFile_.empty() ? ResolvedLayoutFile() : layoutFile_, false);
}

void Controller::FollowForeground() {
  if (o_.attach) return;
  const HWND window = GetForegroundWindow();
  if (window == lastInFront_) return;
  lastInFront_ = window;
  const ForegroundWindow fg = WindowInFront();
  if (PassingThrough(fg)) return;
  const std::string wasElevated = elevatedInFront_;
  elevatedInFront_ = fg.elevated && !elevated_ ? (fg.program.empty() ? fg.windowClass : fg.program) : "";
  if (notices_.ShouldTell(elevated_, fg.elevated, elevatedInFront_)) {
    view_->Tell(elevatedInFront_ +
                " runs as administrator, out of Velto's reach: its keys are not translated. \"Restart as "
                "administrator\" in Velto's menu reaches it.");
  }
  const Rule* rule = MatchRule(settings_.rules, {fg.program, fg.windowClass});
  const UserState now{On(), Layout()};
  const auto change = rules_.Enter(rule, now);
  if (change) {
    const std::string who = fg.program.empty() ? fg.windowClass : fg.program;
    view_->Say(rule != nullptr ? who + " in front: rule \"" + rule->name + "\", " + rule->Describe()
                               : who + " in front: back to layout " + std::to_string(change->layout) +
                                     ", translation " + OnOff(change->on));
    if (change->layout != now.layout) lib_.SelectLayout(change->layout);
    if (change->on != now.on) lib_.Enable(change->on ? 1 : 0);
  }
  if (wasElevated != elevatedInFront_) view_->Refresh();
}

// --- Commands ------------------------------------------------------------------

bool Controller::Execute(const std::string& line) {
  std::string command(line);
  while (!command.empty() && (command.back() == ' ' || command.back() == '\r' || command.back() == '\n')) {
    command.pop_back();
  }
  const std::size_t space = command.find(' ');
  const std::string verb = layoutkit::Lower(command.substr(0, space));
  const std::string arg =
      space == std::string::npos ? "" : command.substr(command.find_first_not_of(' ', space));
  const std::string argLower = layoutkit::Lower(arg);
  auto flag = [&](bool& on) {
    if (argLower != "on" && argLower != "off") return false;
    on = argLower == "on";
    return true;
  };
  if (verb == "quit" && arg.empty()) {
    Quit();
  } else if (verb == "layout") {
    const auto n = layoutkit::ParseDecimal(arg, 1);
    if (!n || *n > 3) return false;
    lib_.SelectLayout(static_cast<unsigned>(*n));
  } else if ((verb == "on" || verb == "off" || verb == "toggle") && arg.empty()) {
    lib_.Enable(verb == "on" || (verb == "toggle" && !On()) ? 1 : 0);
  } else if (verb == "state" && arg.empty()) {
    view_->Say(StateLine() + "; layouts: " + (layoutFile_.empty() ? "built-in" : layoutFile_) +
               "; settings: " + settingsFile_);
  } else if (o_.attach) {
    return false;  // the rest belongs to the instance that owns the layouts
  } else if (verb == "reload" && arg.empty()) {
    ReadSettings(false);
    LoadLayout(ResolvedLayoutFile(), false);
  } else if (verb == "use" && !arg.empty()) {
    o_.file.clear();
    SetSetting("layout file", argLower == "built-in" ? "" : FullPath(arg));
    LoadLayout(ResolvedLayoutFile(), false);
  } else if (verb == "sign-in") {
    bool on = false;
    if (!flag(on)) return false;
    SetSetting("start at sign-in", OnOff(on));
    ApplySignIn(on, true);
  } else if (verb == "tray" && argLower.rfind("icon ", 0) == 0) {
    const std::string what = argLower.substr(5);
    if (what != "letters" && what != "number") return false;
    SetSetting("tray icon", what);
    view_->Refresh();
  } else if (verb == "errors" && arg.empty()) {
    view_->ShowErrors();
  } else if (verb == "show" && arg.empty()) {
    view_->Show();
  } else if (verb == "edit" && arg.empty()) {
    if (!layoutFile_.empty()) OpenForEditing(layoutFile_);
  } else if (verb == "settings" && arg.empty()) {
    if (!StampOf(settingsFile_).exists) SetSetting("layout", std::to_string(settings_.layout));
    OpenForEditing(settingsFile_);
  } else if (verb == "administrator" && arg.empty()) {
    std::string args = "--elevated-restart";
    if (!o_.settings.empty()) args += " --settings \"" + settingsFile_ + "\"";
    if (!layoutFile_.empty() && !o_.file.empty()) args += " \"" + layoutFile_ + "\"";
    if (!StartAsAdministrator(args)) view_->Say("Velto was not restarted as administrator.");
  } else {
    return false;
  }
  return true;
}

// --- The window, the notices, the companion -------------------------------------

void Controller::OnNotice(WPARAM wParam, LPARAM lParam) {
  if (IsKeyNotice(wParam)) {
    if (o_.events) {
      const KeyNotice key = DecodeKeyInfo(static_cast<std::uintptr_t>(lParam));
      view_->Say("key " + layoutkit::KeyNameOfScan(key.scan) + " (scan 0x" +
                 layoutkit::LowerHex(key.scan, 3) + ") " + (key.keyUp ? "up" : "down"));
    }
    return;
  }
  view_->Say(StateLine());
  view_->Refresh();
}

LRESULT Controller::WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == notifyMsg_ && notifyMsg_ != 0) {
    OnNotice(wParam, lParam);
    return 0;
  }
  switch (msg) {
    case WM_TIMER:
      if (wParam == kTickTimer) Tick();
      return 0;
    case kCommandPosted:
      if (lParam != 0) {
        std::unique_ptr<std::string> command(reinterpret_cast<std::string*>(lParam));
        if (!Execute(*command)) view_->Say("unknown command '" + *command + "' (help lists them)");
      } else {
        FollowForeground();
      }
      return 0;
    case WM_COPYDATA: {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (data->dwData != kCommandData) return FALSE;
      // The sender waits for the answer: what the command shows is done after it.
      auto* command = new std::string(static_cast<const char*>(data->lpData), data->cbData);
      if (command->empty()) *command = "show";
      PostMessageA(window, kCommandPosted, 0, reinterpret_cast<LPARAM>(command));
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
    case control::kCompanionReady:
      view_->Say(std::string(control::Companion::Architecture()) + " applications are translated too (" +
                 control::Companion::FileName() + ").");
      return 0;
    default:
      if (view_ != nullptr && view_->Handle(msg, wParam, lParam)) return 0;
      return DefWindowProcW(window, msg, wParam, lParam);
  }
}

void Controller::StartCompanion() {
  using control::Companion;
  const DWORD now = GetTickCount();
  DWORD* starts = companionStarts_;
  if (starts[kCompanionStartsKept - 1] != 0 &&
      now - starts[kCompanionStartsKept - 1] < kCompanionStartWindowMs) {
    view_->Problems(std::string("warning: the companion stopped ") + std::to_string(kCompanionStartsKept) +
                        " times within a minute; " + Companion::Architecture() +
                        " applications type untranslated",
                    {});
    return;
  }
  for (int i = kCompanionStartsKept - 1; i > 0; --i) starts[i] = starts[i - 1];
  starts[0] = now == 0 ? 1 : now;
  std::string error;
  if (!companion_.Start(window_, o_.tray, error)) {
    view_->Problems(
        "warning: " + error + "; " + Companion::Architecture() + " applications type untranslated", {});
  }
}

// A quit may come while the tray menu is open, whose own loop would take a
// WM_QUIT: the menu is closed and the loop below stops on the flag.
void Controller::Quit() {
  quit_ = true;
  EndMenu();
  PostMessageW(window_, WM_NULL, 0, 0);
}

// Dispatches messages until a quit, restarting the companion when it stops.
void Controller::Loop() {
  for (;;) {
    HANDLE companion = companion_.process();
    const DWORD woke = MsgWaitForMultipleObjects(companion ? 1 : 0, &companion, FALSE, INFINITE, QS_ALLINPUT);
    if (companion != nullptr && woke == WAIT_OBJECT_0) {
      const DWORD code = companion_.Reap();
      view_->Say(std::string("The ") + control::Companion::Architecture() + " companion stopped (exit code " +
                 std::to_string(code) + "); starting it again.");
      StartCompanion();
      continue;
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

}  // namespace velto::controller
