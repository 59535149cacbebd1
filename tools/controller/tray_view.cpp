#include "controller/tray_view.h"

#include <cstring>
#include <iterator>

#include "controller/tray_icon.h"
#include "layoutkit/vkb.h"
#include "shared/region.h"

namespace velto::controller {
namespace {

constexpr UINT kIconId = 1;

// The menu's items.
enum : UINT {
  kMenuLayout = 100,  // + layout number
  kMenuTranslation = 110,
  kMenuEdit,
  kMenuReload,
  kMenuErrors,
  kMenuSignIn,
  kMenuSettings,
  kMenuLayoutsFolder,
  kMenuAdministrator,
  kMenuIconLetters,
  kMenuIconNumber,
  kMenuBuiltIn,
  kMenuQuit,
  kMenuKeyboard,
  kMenuCompanion,
  kMenuDiagnostics,
  kMenuFile = 200,  // + the index in menuFiles_
};

void Copy(wchar_t* to, std::size_t size, const std::wstring& text) {
  lstrcpynW(to, text.c_str(), static_cast<int>(size));
}

}  // namespace

TrayView::~TrayView() {
  Remove();
  if (drawn_ != nullptr) DestroyIcon(drawn_);
}

void TrayView::Remove() {
  if (shown_) Shell_NotifyIconW(NIM_DELETE, &icon_);
  shown_ = false;
}

void TrayView::Problems(const std::string& summary, const std::vector<std::string>& lines) {
  log_.Write(summary);
  for (const std::string& l : lines) log_.Write(l);
  const std::string first = lines.empty() ? "" : "\n" + lines.front();
  const std::string more =
      lines.size() > 1 ? "\n(\"Show errors\" in the menu lists all " + std::to_string(lines.size()) + ")"
                       : "";
  const bool warning = summary.rfind("warning", 0) == 0 || summary.rfind("Warning", 0) == 0;
  Balloon("Velto", summary + first + more, warning ? NIIF_WARNING : NIIF_ERROR);
}

void TrayView::Tell(const std::string& text) {
  log_.Write(text);
  Balloon("Velto", text, NIIF_INFO);
}

void TrayView::Balloon(const std::string& title, const std::string& text, DWORD icon) {
  if (c_ != nullptr && !c_->settings().notifications && icon != NIIF_ERROR) return;
  if (!shown_) {
    pendingTitle_ = Wide(title), pendingText_ = Wide(text), pendingIcon_ = icon;
    return;
  }
  NOTIFYICONDATAW n = icon_;
  n.uFlags = NIF_INFO;
  Copy(n.szInfoTitle, std::size(n.szInfoTitle), Wide(title));
  Copy(n.szInfo, std::size(n.szInfo), Wide(text));
  n.dwInfoFlags = icon;
  Shell_NotifyIconW(NIM_MODIFY, &n);
}

void TrayView::Refresh() {
  if (c_ == nullptr || host_.window() == nullptr) return;
  const unsigned layout = c_->Layout();
  const bool on = c_->On();
  const std::wstring badge = Wide(c_->Badge(layout));
  const int size = TrayIconSize();
  if (drawn_ == nullptr || badge != drawnBadge_ || on != drawnOn_ || size != drawnSize_) {
    HICON old = drawn_;
    drawn_ = MakeTrayIcon(badge, on, size);
    drawnBadge_ = badge, drawnOn_ = on, drawnSize_ = size;
    icon_.hIcon = drawn_;
    if (shown_) {
      icon_.uFlags = NIF_ICON;
      Shell_NotifyIconW(NIM_MODIFY, &icon_);
    }
    if (old != nullptr) DestroyIcon(old);
  }

  const std::string name = c_->LayoutName(layout);
  std::string tip = "Velto: " + (name.empty() ? "layout " + std::to_string(layout)
                                              : name + " (layout " + std::to_string(layout) + ")");
  tip += on ? "\nTranslation on" : "\nTranslation off";
  if (c_->settings().trayLights) {
    const unsigned leds = c_->Leds();
    tip += std::string("\nNum ") + OnOff(leds >> kLedNumLock & 1) + ", Caps " +
           OnOff(leds >> kLedCapsLock & 1) + ", Scroll " + OnOff(leds >> kLedScrollLock & 1);
  }
  if (!c_->ElevatedInFront().empty())
    tip += "\n" + c_->ElevatedInFront() + " runs as administrator: untranslated";
  if (!c_->ContainedInFront().empty()) tip += "\n" + c_->ContainedInFront() + " is a Store app: untranslated";
  if (c_->CompanionGivenUp()) tip += std::string("\n") + host_.CompanionArchitecture() + " programs: untranslated";
  if (!c_->Errors().empty()) tip += "\nThe layout file has errors";
  Copy(icon_.szTip, std::size(icon_.szTip), Wide(tip));

  if (!shown_) {
    icon_.cbSize = sizeof icon_;
    icon_.hWnd = host_.window();
    icon_.uID = kIconId;
    icon_.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
    icon_.uCallbackMessage = kTrayMessage;
    shown_ = Shell_NotifyIconW(NIM_ADD, &icon_) != FALSE;
    taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
    if (shown_ && !pendingText_.empty()) {
      Balloon(Utf8(pendingTitle_), Utf8(pendingText_), pendingIcon_);
      pendingText_.clear();
    }
    return;
  }
  icon_.uFlags = NIF_TIP;
  Shell_NotifyIconW(NIM_MODIFY, &icon_);
}

void TrayView::ShowErrors() {
  std::string text;
  for (const std::string& l : c_->Errors()) text += l + "\n";
  if (text.empty()) text = "The layout file has no errors.";
  MessageBoxW(host_.window(), Wide(text).c_str(), L"Velto: errors in the layout file", MB_OK | MB_ICONWARNING);
}

void TrayView::Show() {
  Tell("Velto is running: " + c_->StateLine() + ".");
  PostMessageW(host_.window(), kShowMenu, 0, 0);
}

bool TrayView::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case kTrayMessage:
      if (lParam == WM_LBUTTONUP || lParam == WM_RBUTTONUP || lParam == WM_CONTEXTMENU) ShowMenu();
      return true;
    case kShowMenu:
      ShowMenu();
      return true;
    case WM_COMMAND:
      OnMenu(LOWORD(wParam));
      return true;
    case WM_DISPLAYCHANGE:
    case WM_SETTINGCHANGE:
    case 0x02E0:  // WM_DPICHANGED: the icon is drawn again at the size asked now
      Refresh();
      return false;
    default:
      if (msg == taskbarCreated_ && taskbarCreated_ != 0) {  // the shell started again
        shown_ = false;
        Refresh();
        return true;
      }
      return false;
  }
}

void TrayView::ShowMenu() {
  if (c_ == nullptr || c_->Attached()) return;
  HMENU menu = CreatePopupMenu();
  const unsigned current = c_->Layout();
  for (unsigned layout = 0; layout < 4; ++layout) {
    const std::string name = c_->LayoutName(layout);
    const std::string label =
        std::to_string(layout) + "  " + (name.empty() ? "Layout " + std::to_string(layout) : name);
    AppendMenuW(menu, MF_STRING | (layout == current ? MF_CHECKED : 0), kMenuLayout + layout,
                Wide(label).c_str());
  }
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING | (c_->On() ? MF_CHECKED : 0), kMenuTranslation, L"Translation on");
  AppendMenuW(menu, MF_STRING | (host_.KeyboardShown() ? MF_CHECKED : 0), kMenuKeyboard, L"Show keyboard");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);

  HMENU files = CreatePopupMenu();
  menuFiles_.clear();
  const std::string programLayouts = FolderOf(ThisProgram()) + "layouts\\";
  for (const std::string& folder : {c_->LayoutsFolder(), programLayouts}) {
    for (const std::string& f : LayoutFilesIn(folder)) menuFiles_.push_back(f);
  }
  AppendMenuW(files, MF_STRING | (c_->LayoutFile().empty() ? MF_CHECKED : 0), kMenuBuiltIn,
              L"Built-in layouts");
  for (std::size_t i = 0; i < menuFiles_.size() && i < 100; ++i) {
    const bool chosen = _wcsicmp(Wide(menuFiles_[i]).c_str(), Wide(c_->LayoutFile()).c_str()) == 0;
    AppendMenuW(files, MF_STRING | (chosen ? MF_CHECKED : 0), kMenuFile + static_cast<UINT>(i),
                Wide(FileNameOf(menuFiles_[i])).c_str());
  }
  AppendMenuW(files, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(files, MF_STRING, kMenuLayoutsFolder, Wide("Open the folder " + c_->LayoutsFolder()).c_str());
  const std::string file = c_->LayoutFile().empty() ? "built-in" : FileNameOf(c_->LayoutFile());
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(files), Wide("Layout file: " + file).c_str());
  AppendMenuW(menu, MF_STRING | (c_->LayoutFile().empty() ? MF_GRAYED : 0), kMenuEdit, L"Edit the layout");
  AppendMenuW(menu, MF_STRING, kMenuReload, L"Reload");
  if (!c_->Errors().empty()) AppendMenuW(menu, MF_STRING, kMenuErrors, L"Show errors...");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  if (!MachineSignInCommand().empty()) {
    // An all-users install starts Velto for everyone; only an administrator changes that.
    AppendMenuW(menu, MF_STRING | MF_CHECKED | MF_GRAYED, 0, L"Start at sign-in (for every user)");
  } else {
    AppendMenuW(menu, MF_STRING | (SignInCommand().empty() ? 0 : MF_CHECKED), kMenuSignIn,
                L"Start at sign-in");
  }
  HMENU shows = CreatePopupMenu();
  const bool letters = c_->settings().trayIcon == TrayIcon::kBadge;
  AppendMenuW(shows, MF_STRING | (letters ? MF_CHECKED : 0), kMenuIconLetters, L"The layout's letters");
  AppendMenuW(shows, MF_STRING | (letters ? 0 : MF_CHECKED), kMenuIconNumber, L"The layout's number");
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(shows), L"The icon shows");
  AppendMenuW(menu, MF_STRING, kMenuSettings, Wide("Open settings (" + c_->SettingsFile() + ")").c_str());
  if (!c_->Elevated()) AppendMenuW(menu, MF_STRING, kMenuAdministrator, L"Restart as administrator");
  if (c_->CompanionGivenUp()) {
    AppendMenuW(menu, MF_STRING, kMenuCompanion,
                Wide(std::string("Start the ") + host_.CompanionArchitecture() + " helper again").c_str());
  }
  AppendMenuW(menu, MF_STRING, kMenuDiagnostics, L"Diagnostics\u2026");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kMenuQuit, L"Quit");

  POINT at;
  GetCursorPos(&at);
  SetForegroundWindow(host_.window());
  TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, host_.window(), nullptr);
  PostMessageW(host_.window(), WM_NULL, 0, 0);  // so that the menu closes when the user clicks elsewhere
  DestroyMenu(menu);                          // and its submenus
}

void TrayView::OnMenu(UINT id) {
  using Kind = Command::Kind;
  if (id >= kMenuLayout && id < kMenuLayout + 4) {
    c_->Execute(Command::Layout(id - kMenuLayout));
  } else if (id >= kMenuFile && id - kMenuFile < menuFiles_.size()) {
    c_->Execute(Command::Use(menuFiles_[id - kMenuFile]));
  } else if (id == kMenuLayoutsFolder) {
    ShellExecuteW(nullptr, L"open", Wide(c_->LayoutsFolder()).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  } else {
    static constexpr struct {
      UINT id;
      Kind kind;
    } kPlain[] = {{kMenuTranslation, Kind::kToggle}, {kMenuEdit, Kind::kEdit},
                  {kMenuReload, Kind::kReload},      {kMenuErrors, Kind::kErrors},
                  {kMenuSettings, Kind::kSettings},  {kMenuAdministrator, Kind::kAdministrator},
                  {kMenuCompanion, Kind::kCompanion},
                  {kMenuQuit, Kind::kQuit}};
    for (const auto& item : kPlain) {
      if (item.id == id) c_->Execute(Command::Of(item.kind));
    }
    if (id == kMenuBuiltIn) c_->Execute(Command::Use(""));
    if (id == kMenuDiagnostics) OpenDiagnostics();
    if (id == kMenuKeyboard) c_->Execute(Command::Keyboard(Command::Shown::kToggle));
    if (id == kMenuSignIn) c_->Execute(Command::SignIn(SignInCommand().empty()));
    if (id == kMenuIconLetters || id == kMenuIconNumber)
      c_->Execute(Command::Icon(id == kMenuIconNumber ? TrayIcon::kNumber : TrayIcon::kBadge));
  }
}

}  // namespace velto::controller

namespace velto::controller {

// The report goes to the clipboard, and into a file of the temporary folder
// that Notepad opens.
void TrayView::OpenDiagnostics() {
  std::wstring text;
  for (const wchar_t ch : Wide(host_.DiagnosticsText())) {
    if (ch == L'\n') text += L'\r';
    text += ch;
  }
  if (OpenClipboard(host_.window())) {
    EmptyClipboard();
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    if (const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
      std::memcpy(GlobalLock(memory), text.c_str(), bytes);
      GlobalUnlock(memory);
      if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) GlobalFree(memory);
    }
    CloseClipboard();
  }
  wchar_t folder[MAX_PATH];
  if (GetTempPathW(MAX_PATH, folder) == 0) return;
  const std::wstring path = std::wstring(folder) + L"velto-diagnostics.txt";
  const std::string utf8 = Utf8(text);
  layoutkit::Diagnostics diags;
  if (!layoutkit::WriteFile(Utf8(path), std::vector<std::uint8_t>(utf8.begin(), utf8.end()), diags)) {
    Problems("Cannot write the diagnostics report.", {diags.Text()});
    return;
  }
  const std::wstring quoted = L"\"" + path + L"\"";
  ShellExecuteW(nullptr, L"open", L"notepad.exe", quoted.c_str(), nullptr, SW_SHOWNORMAL);
}

}  // namespace velto::controller
