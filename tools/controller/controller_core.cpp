#include "controller/controller_core.h"

#include <algorithm>
#include <iterator>
#include <set>
#include <sstream>

#include "layoutkit/badge.h"
#include "layoutkit/default_layout.h"
#include "layoutkit/scan_names.h"
#include "layoutkit/text.h"
#include "layoutkit/vkl.h"
#include "shared/charset.h"
#include "shared/keys.h"
#include "shared/notice.h"

namespace velto::controller {
namespace {

// A changed file is loaded when two looks this far apart find it the same:
// an editor that writes a file in steps is read when done.
constexpr unsigned kSettleMs = 250;
constexpr int kCompanionStartsKept = 5;
constexpr std::uint32_t kCompanionStartWindowMs = 60000;

// Velto's own windows and the shell's notification area take the foreground
// while the user works the tray menu; that is not leaving the program in
// front for the rules.
bool PassingThrough(const WindowInFront& fg) {
  return fg.window == 0 || fg.ours || fg.windowClass == "Shell_TrayWnd" ||
         fg.windowClass == "NotifyIconOverflowWindow" || fg.windowClass == "#32768";
}

std::vector<std::string> Formatted(const layoutkit::Diagnostics& diags) {
  std::vector<std::string> lines;
  for (const layoutkit::Diagnostic& d : diags.all()) lines.push_back(layoutkit::Format(d));
  return lines;
}

}  // namespace

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsAbsolute(const std::string& path) {
  return (path.size() >= 2 && path[1] == ':') || (!path.empty() && (path[0] == '\\' || path[0] == '/'));
}

LoadedLayouts LoadLayouts(const std::string& path) {
  LoadedLayouts l;
  l.description = layoutkit::DefaultDescription();
  if (path.empty()) {
    l.ok = true;
    return l;
  }
  layoutkit::Diagnostics diags;
  l.ok = layoutkit::LoadDescriptionFile(path, l.description, diags);
  if (!l.ok) l.description = layoutkit::DefaultDescription();
  l.diagnostics = Formatted(diags);
  l.files = diags.files();
  return l;
}

std::vector<layoutkit::KeyFace> KeyboardFaces(const layoutkit::KeyboardDescription& d, const KeyboardView& view) {
  layoutkit::RenderOptions o;
  o.layout = view.layout;
  // Shift shows in every key; the keys held show as such.
  for (const std::uint16_t scan : {kScanLeftShift, kScanRightShift}) {
    if (view.modifiers & (1u << ModifierBitOf(scan))) o.down.push_back(scan);
  }
  const auto others = static_cast<std::uint16_t>(view.modifiers & ~kShiftMask);
  return layoutkit::KeyFaces(d, o, {others, view.capsLock});
}

// --- Starting and stopping --------------------------------------------------------

bool Controller::Prepare(bool trayProgram, std::vector<std::string>& diagnostics) {
  const bool explicitFile = !o_.file.empty();
  if (!o_.attach) {
    settingsFile_ = o_.settings.empty() ? host_->ProfileFolder() + "settings.ini" : host_->FullPath(o_.settings);
    if (explicitFile) o_.file = host_->FullPath(o_.file);
  }
  description_ = layoutkit::DefaultDescription();
  // A layout file named on veltoctl's command line must load, as scripts
  // rely on; the tray program, and a file from the settings, fall back on
  // the built-in layouts and show the errors.
  if (explicitFile && !trayProgram && !o_.send) {
    named_ = LoadLayouts(o_.file);
    if (!named_->ok) {
      diagnostics = named_->diagnostics;
      return false;
    }
  }
  return true;
}

void Controller::Start(bool trayProgram, const std::string& library) {
  elevated_ = host_->Elevated();
  if (!o_.attach) {
    if (trayProgram && !host_->StampOf(settingsFile_).exists) {
      // The first start writes the settings, explained. Start at sign-in is
      // as the Run key has it: an installer may have set it.
      SetSetting("start at sign-in", OnOff(!host_->SignInCommand().empty()));
      host_->MakeFolder(LayoutsFolder());
    }
    ReadSettings();
    const std::string path = named_ ? o_.file : ResolvedLayoutFile();
    LoadedLayouts loaded = named_ ? std::move(*named_) : LoadLayouts(path);
    named_.reset();
    if (!Adopt(path, std::move(loaded), "the built-in layouts are in use")) layoutFile_.clear();
    host_->SetupKeyboard(description_);
    host_->SelectLayout(static_cast<unsigned>(o_.layout >= 0 ? o_.layout : settings_.layout));
    host_->Enable(!o_.disabled && settings_.translation);
    WarnAboutCodePages();
    if (host_->StampOf(settingsFile_).exists) ApplySignIn(settings_.startAtSignIn, true);
    started_ = true;
  }
  view_->Say(std::string(o_.attach ? "Watching Velto (" : "Velto is running (") + library + "): " + StateLine() +
             ".");
}

void Controller::StartFollowing() {
  view_->Refresh();
  if (o_.attach) return;
  FollowForeground();
  if (o_.companion && host_->CompanionNeeded()) StartCompanion();
}

void Controller::ReadSettingsForReport() {
  settings_ = Settings{};
  settingsErrors_.clear();
  if (settingsFile_.empty() || !host_->StampOf(settingsFile_).exists) return;
  std::string text, error;
  if (!host_->ReadText(settingsFile_, text, error)) {
    settingsErrors_.push_back(error);
    return;
  }
  layoutkit::Diagnostics diags;
  settings_ = ParseSettings(text, settingsFile_, diags);
  settingsErrors_ = Formatted(diags);
}

void Controller::Stopped() {
  view_->Say(o_.attach ? "Stopped watching." : "Velto is stopped.");
}

// --- The state ---------------------------------------------------------------------

std::string Controller::LayoutName(unsigned layout) const {
  if (layout >= 4) return "";
  if (!o_.attach) return layoutkit::LayoutName(description_, layout);
  // Attached to another instance, only the current layout's name is known,
  // as the library holds it: in which set is the other instance's business.
  return layout == host_->CurrentLayout() ? host_->CurrentLayoutName() : "";
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
  if (companionGivenUp_) s += std::string(", ") + CompanionGivenUpText();
  return s;
}

// --- Settings and the layout file ------------------------------------------

void Controller::ReadSettings() {
  Watch(settingsWatch_, {settingsFile_});
  layoutkit::Diagnostics diags;
  std::vector<std::string> lines;
  if (host_->StampOf(settingsFile_).exists) {
    std::string text, error;
    if (host_->ReadText(settingsFile_, text, error)) {
      settings_ = ParseSettings(text, settingsFile_, diags);
      lines = Formatted(diags);
    } else {
      lines.push_back(error);
    }
  } else {
    settings_ = Settings{};
  }
  settingsErrors_ = lines;
  if (!lines.empty()) view_->Problems("The settings file has errors; those settings keep their defaults.", lines);
  rules_.RulesChanged();
  lastInFront_ = 0;
}

std::string Controller::ResolvedLayoutFile() const {
  std::string file = o_.file.empty() ? settings_.layoutFile : o_.file;
  if (file.empty()) return file;
  file = host_->ExpandVariables(file);
  // A file named on the command line is the shell's, relative to where it
  // started; one in the settings is relative to the settings.
  if (!IsAbsolute(file) && o_.file.empty()) file = FolderOf(settingsFile_) + file;
  return file;
}

bool Controller::Adopt(const std::string& path, LoadedLayouts loaded, const char* failed) {
  Watch(layoutWatch_, loaded.files);
  if (!loaded.ok) {
    errors_ = loaded.diagnostics;
    view_->Problems(FileNameOf(path) + " has errors; " + failed + ".", errors_);
    return false;
  }
  errors_.clear();
  description_ = loaded.description;
  layoutFile_ = path;
  if (!loaded.diagnostics.empty()) view_->Problems("Warnings for " + FileNameOf(path) + ":", loaded.diagnostics);
  return true;
}

// The library keeps the active layout and translation on or off; only the
// tables change.
void Controller::Reload(const std::string& path) {
  if (Adopt(path, LoadLayouts(path), "the layouts in use stay")) {
    host_->SetupKeyboard(description_);
    pendingDead_ = 0;
    host_->KeyboardChanged();
    view_->Say("Loaded " + (path.empty() ? std::string("the built-in layouts") : path) + ".");
    WarnAboutCodePages();
  }
  view_->Refresh();
}

// A layout without a character set whose characters are in another code
// page than the system's arrives wrong: its 8-bit characters are posted as
// they are and converted by the receiving thread's ANSI code page. A layout
// with a set is delivered as Unicode and types right on any system.
void Controller::WarnAboutCodePages() {
  const unsigned acp = host_->AnsiCodePage();
  std::string layouts;
  for (unsigned n = 0; n < 4; ++n) {
    const LayoutRecord& r = description_.layouts[n];
    if (CharSetOf(r) != CharSetKind::kNone) continue;
    const unsigned cp = static_cast<unsigned>(r.reserved[0] | r.reserved[1] << 8);
    if (cp == 0 || cp == acp) continue;
    layouts += (layouts.empty() ? "" : ", ") + std::to_string(n) + " (code page " + std::to_string(cp) + ")";
  }
  if (layouts.empty()) return;
  view_->Problems("warning: this system's ANSI code page is " + std::to_string(acp) +
                      ", so the characters of layout " + layouts + " will arrive as others",
                  {});
}

std::string Controller::SignInCommandLine() const {
  std::string command = "\"" + FolderOf(host_->ThisProgram()) + "velto.exe\"";
  if (!o_.settings.empty()) command += " --settings \"" + settingsFile_ + "\"";
  return command;
}

void Controller::ApplySignIn(bool on, bool say) {
  const bool now = !host_->SignInCommand().empty();
  if (now == on) return;
  std::string error;
  if (!host_->SetSignInCommand(on ? SignInCommandLine() : "", error)) {
    view_->Problems("Cannot change the start at sign-in: " + error, {});
    return;
  }
  if (say) view_->Say(on ? "Velto starts at sign-in." : "Velto no longer starts at sign-in.");
}

// Writes one setting into the settings file, keeping the rest of the text as
// the user wrote it, and takes it in at once.
void Controller::SetSetting(const std::string& key, const std::string& value) {
  std::string text = DefaultSettingsText(), error;
  if (host_->StampOf(settingsFile_).exists && !host_->ReadText(settingsFile_, text, error)) {
    view_->Problems("Cannot read the settings file; nothing was changed.", {error});
    return;
  }
  text = WithSetting(text, key, value);
  if (!host_->WriteText(settingsFile_, text, error)) {
    view_->Problems("Cannot write the settings file.", {error});
    return;
  }
  layoutkit::Diagnostics diags;
  settings_ = ParseSettings(text, settingsFile_, diags);
  settingsErrors_ = Formatted(diags);
  Watch(settingsWatch_, {settingsFile_});
}

// --- Following the files and the window in front ----------------------------

void Controller::Watch(Watched& w, std::vector<std::string> files) {
  w.files = std::move(files);
  w.loaded.clear();
  for (const std::string& f : w.files) w.loaded.push_back(host_->StampOf(f));
  w.seen = w.loaded;
  std::vector<std::string> all = settingsWatch_.files;
  all.insert(all.end(), layoutWatch_.files.begin(), layoutWatch_.files.end());
  host_->WatchFiles(all);
}

// True if the files differ from the look before.
bool Controller::Looked(Watched& w) const {
  std::vector<FileStamp> now;
  for (const std::string& f : w.files) now.push_back(host_->StampOf(f));
  const bool moved = now != w.seen;
  w.seen = std::move(now);
  return moved;
}

// A change moves the settle look on; a notice that shows no change asks
// for a look all the same (unless one is due), in case the file's stamp
// lags behind the notice. A folder busy with other files then costs a look
// now and then, and never holds a change back.
void Controller::FilesMayHaveChanged() {
  if (o_.attach) return;
  const bool settingsMoved = Looked(settingsWatch_);
  if (Looked(layoutWatch_) || settingsMoved || !lookAsked_) AskToLookAgain();
}

void Controller::LookAgain() {
  lookAsked_ = false;
  if (o_.attach) return;
  const bool settingsMoved = Looked(settingsWatch_);
  if (!settingsMoved && settingsWatch_.seen != settingsWatch_.loaded) TakeSettingsIn();
  // Taking the settings in may have loaded other layouts, and watches them.
  const bool layoutMoved = Looked(layoutWatch_);
  if (!layoutMoved && layoutWatch_.seen != layoutWatch_.loaded) {
    Reload(layoutFile_.empty() ? ResolvedLayoutFile() : layoutFile_);
  }
  if (settingsMoved || layoutMoved) AskToLookAgain();
}

void Controller::AskToLookAgain() {
  lookAsked_ = true;
  host_->LookAgainIn(kSettleMs);
}

// The settings file was saved.
void Controller::TakeSettingsIn() {
  const std::string before = ResolvedLayoutFile();
  ReadSettings();
  view_->Say("Settings read again from " + settingsFile_ + ".");
  ApplySignIn(settings_.startAtSignIn, true);
  if (ResolvedLayoutFile() != before) Reload(ResolvedLayoutFile());
  view_->Refresh();
}

void Controller::FollowForeground() {
  if (o_.attach) return;
  const std::uintptr_t window = host_->ForegroundWindow();
  if (window == lastInFront_) return;
  lastInFront_ = window;
  const WindowInFront fg = host_->InFront();
  if (PassingThrough(fg)) return;
  const std::string wasElevated = elevatedInFront_, wasContained = containedInFront_;
  const std::string who = fg.program.empty() ? fg.windowClass : fg.program;
  elevatedInFront_ = fg.elevated && !elevated_ ? who : "";
  containedInFront_ = fg.appContainer ? who : "";
  if (notices_.ShouldTell(elevated_, fg.elevated, elevatedInFront_)) {
    view_->Tell(elevatedInFront_ +
                " runs as administrator, out of Velto's reach: its keys are not translated. \"Restart as "
                "administrator\" in Velto's menu reaches it.");
  }
  if (notices_.ShouldTellContained(fg.appContainer, who)) {
    view_->Tell(who + " is a Store app: Windows keeps Velto out of it, and its keys are not translated. A rule "
                      "that turns translation off for it keeps the icon truthful.");
  }
  const Rule* rule = MatchRule(settings_.rules, {fg.program, fg.windowClass});
  const UserState now{On(), Layout()};
  const auto change = rules_.Enter(rule, now);
  if (change) {
    view_->Say(rule != nullptr ? who + " in front: rule \"" + rule->name + "\", " + rule->Describe()
                               : who + " in front: back to layout " + std::to_string(change->layout) +
                                     ", translation " + OnOff(change->on));
    if (change->layout != now.layout) host_->SelectLayout(change->layout);
    if (change->on != now.on) host_->Enable(change->on);
  }
  if (wasElevated != elevatedInFront_ || wasContained != containedInFront_) view_->Refresh();
}

// --- Commands ------------------------------------------------------------------

bool Controller::Execute(const Command& c) {
  using Kind = Command::Kind;
  switch (c.kind) {
    case Kind::kQuit:
      host_->Quit();
      return true;
    case Kind::kLayout:
      host_->SelectLayout(c.layout);
      return true;
    case Kind::kOn:
    case Kind::kOff:
    case Kind::kToggle:
      host_->Enable(c.kind == Kind::kOn || (c.kind == Kind::kToggle && !On()));
      return true;
    case Kind::kState:
      view_->Say(StateLine() + "; layouts: " + (layoutFile_.empty() ? "built-in" : layoutFile_) +
                 "; settings: " + settingsFile_);
      return true;
    default:
      break;
  }
  if (o_.attach) {  // the rest belongs to the instance that owns the layouts
    Refuse(CommandText(c));
    return false;
  }
  switch (c.kind) {
    case Kind::kReload:
      ReadSettings();
      view_->Say("Settings read again from " + settingsFile_ + ".");
      Reload(ResolvedLayoutFile());
      break;
    case Kind::kUse:
      o_.file.clear();
      SetSetting("layout file", c.file.empty() ? "" : host_->FullPath(c.file));
      Reload(ResolvedLayoutFile());
      break;
    case Kind::kSignIn:
      SetSetting("start at sign-in", OnOff(c.on));
      ApplySignIn(c.on, true);
      break;
    case Kind::kTrayIcon:
      SetSetting("tray icon", c.icon == TrayIcon::kNumber ? "number" : "letters");
      view_->Refresh();
      break;
    case Kind::kErrors:
      view_->ShowErrors();
      break;
    case Kind::kShow:
      view_->Show();
      break;
    case Kind::kKeyboard: {
      const bool show = c.shown == Command::Shown::kShow ||
                        (c.shown == Command::Shown::kToggle && !host_->KeyboardShown());
      if (show == host_->KeyboardShown()) break;
      pendingDead_ = 0;
      host_->ShowKeyboard(show);
      view_->Say(show ? "The on-screen keyboard is shown." : "The on-screen keyboard is hidden.");
      break;
    }
    case Kind::kEdit:
      if (!layoutFile_.empty()) host_->OpenForEditing(layoutFile_);
      break;
    case Kind::kSettings:
      if (!host_->StampOf(settingsFile_).exists) SetSetting("layout", std::to_string(settings_.layout));
      host_->OpenForEditing(settingsFile_);
      break;
    case Kind::kCompanion:
      if (!companionGivenUp_) {
        view_->Say("The companion was not given up.");
        break;
      }
      companionGivenUp_ = false;
      std::fill(std::begin(companionStarts_), std::end(companionStarts_), 0u);
      view_->Say(std::string("Starting the ") + host_->CompanionArchitecture() + " companion again.");
      StartCompanion();
      view_->Refresh();
      break;
    case Kind::kAdministrator: {
      std::string args = "--elevated-restart";
      if (!o_.settings.empty()) args += " --settings \"" + settingsFile_ + "\"";
      if (!layoutFile_.empty() && !o_.file.empty()) args += " \"" + layoutFile_ + "\"";
      if (!host_->StartAsAdministrator(args)) view_->Say("Velto was not restarted as administrator.");
      break;
    }
    default:
      break;
  }
  return true;
}

void Controller::Refuse(const std::string& text) {
  view_->Say(UnknownCommand(text));
}

// --- The library's notices and the companion -------------------------------------

void Controller::Notice(std::uintptr_t wParam, std::uintptr_t lParam) {
  if (IsKeyNotice(wParam)) {
    const KeyNotice key = DecodeKeyInfo(lParam);
    if (o_.events) {
      view_->Say("key " + layoutkit::KeyNameOfScan(key.scan) + " (scan 0x" + layoutkit::LowerHex(key.scan, 3) +
                 ") " + (key.keyUp ? "up" : "down"));
    }
    KeyTaken(key.scan, key.keyUp);
    return;
  }
  // A switch of layout or translation leaves no dead key waiting; a light
  // that changes (as Wine keeps Scroll Lock in line with X) leaves it.
  if (pendingDead_ != 0 && (!On() || Layout() != pendingLayout_)) pendingDead_ = 0;
  view_->Say(StateLine());
  view_->Refresh();
  host_->KeyboardChanged();
}

// The library took a key (it tells of each key it swallows): a dead key of
// the active layout in the state held now waits for the next key, which
// ends it whatever it is. Lock and modifier keys leave it waiting.
void Controller::KeyTaken(std::uint16_t scan, bool keyUp) {
  if (keyUp || o_.attach || !host_->KeyboardShown()) return;
  if (scan == 0 || ModifierBitOf(scan) >= 0) return;
  for (const LockKey& lock : kLockKeys) {
    if ((scan & 0xFF) == (lock.scan & 0xFF)) return;
  }
  std::uint16_t pending = 0;
  KeyboardView view = Keyboard();
  view.pendingDead = 0;
  const std::vector<layoutkit::KeyCap> keys = layoutkit::KeyboardKeys(false);
  for (std::size_t n = 0; n < keys.size(); ++n) {
    if (keys[n].scan != scan) continue;
    const layoutkit::KeyFace face = KeyboardFaces(description_, view)[n];
    const layoutkit::KeyLabel* typed =
        layoutkit::TypingLabel(face, view.modifiers >> kModLeftShift & 1, view.modifiers >> kModRightShift & 1);
    const bool dead = typed != nullptr && (typed->kind == layoutkit::LabelKind::kDead ||
                                           typed->kind == layoutkit::LabelKind::kCompose);
    if (dead) pending = scan;
    break;
  }
  if (pending == pendingDead_) return;
  pendingDead_ = pending;
  pendingLayout_ = view.layout;
  host_->KeyboardChanged();
}

KeyboardView Controller::Keyboard() const {
  KeyboardView v;
  v.layout = Layout() % 4;
  v.on = On();
  v.modifiers = host_->HeldModifiers();
  v.capsLock = (Leds() >> kLedCapsLock & 1) != 0;
  v.pendingDead = pendingDead_;
  return v;
}

// --- The diagnostics report ----------------------------------------------------------

namespace {

std::string CharSetText(const LayoutRecord& r) {
  switch (CharSetOf(r)) {
    case CharSetKind::kUnicode:
      return "Unicode";
    case CharSetKind::kCodePage:
      return "code page " + std::to_string(HeaderOf(r).codePage);
    default:
      break;
  }
  const unsigned cp = static_cast<unsigned>(r.reserved[0] | r.reserved[1] << 8);
  return cp == 0 ? "none (ANSI bytes)" : "none (ANSI bytes, code page " + std::to_string(cp) + ")";
}

std::string RuleText(const Rule& rule) {
  std::string text = "[rule " + rule.name + "]";
  std::string names;
  for (const std::string& p : rule.programs) names += (names.empty() ? "" : ", ") + p;
  for (const std::string& c : rule.classes) names += (names.empty() ? "class " : ", class ") + c;
  return text + " " + (names.empty() ? "nothing" : names) + ": " + rule.Describe();
}

}  // namespace

void Controller::Diagnose(const WindowInFront& inFront, DiagnosticFacts& f) const {
  f.version = VELTO_VERSION;
  f.companionGivenUp = companionGivenUp_;
  f.settingsFile = settingsFile_;
  f.settingsExist = !settingsFile_.empty() && host_->StampOf(settingsFile_).exists;
  f.settingsErrors = settingsErrors_;
  for (const Rule& rule : settings_.rules) f.rules.push_back(RuleText(rule));
  if (const Rule* rule = MatchRule(settings_.rules, {inFront.program, inFront.windowClass})) {
    f.ruleNow = RuleText(*rule);
  }
  if (o_.attach) {
    f.layoutSource = "the running instance's (this one watches it)";
    return;
  }
  if (!started_) {
    f.layoutSource = "none handed over";
    return;
  }
  f.layoutSource = layoutFile_.empty() ? "built-in" : layoutFile_;
  for (unsigned n = 0; n < 4; ++n) {
    f.layouts.push_back({n, layoutkit::LayoutName(description_, n), CharSetText(description_.layouts[n]),
                         layoutkit::LayoutBadge(description_, n)});
  }
  // Counted as the source the description reads back to writes them: a
  // line per chain and per macro, lines per dead key by its name.
  std::istringstream source(layoutkit::DecompileToVkl(description_));
  std::set<std::string> dead;
  for (std::string line; std::getline(source, line);) {
    std::istringstream words(line);
    std::string first, second;
    words >> first >> second;
    if (first == "deadkey") dead.insert(second);
    if (first == "chain") ++f.chains;
    if (first == "macro") ++f.macros;
  }
  f.deadKeys = static_cast<int>(dead.size());
}

void Controller::KeyboardMoved(const WindowPlace& place) {
  if (o_.attach || !place.known() || place == settings_.keyboardWindow) return;
  SetSetting("keyboard window", PlaceText(place));
}

void Controller::CompanionReady(const std::string& fileName) {
  view_->Say(std::string(host_->CompanionArchitecture()) + " applications are translated too (" + fileName +
             ").");
}

void Controller::CompanionStopped(std::uint32_t exitCode) {
  view_->Say(std::string("The ") + host_->CompanionArchitecture() + " companion stopped (exit code " +
             std::to_string(exitCode) + "); starting it again.");
  StartCompanion();
}

std::string Controller::CompanionGivenUpText() const {
  return std::string(host_->CompanionArchitecture()) + " applications type untranslated (the companion was given up)";
}

// Five starts within a minute: the companion is given up, and says so until
// it is started again ("companion").
void Controller::StartCompanion() {
  const std::uint32_t now = host_->Milliseconds();
  std::uint32_t* starts = companionStarts_;
  const std::string untranslated = std::string(host_->CompanionArchitecture()) + " applications type untranslated";
  if (starts[kCompanionStartsKept - 1] != 0 && now - starts[kCompanionStartsKept - 1] < kCompanionStartWindowMs) {
    companionGivenUp_ = true;
    view_->Problems("warning: the companion stopped " + std::to_string(kCompanionStartsKept) +
                        " times within a minute; " + untranslated + " (\"companion\" starts it again)",
                    {});
    view_->Refresh();
    return;
  }
  for (int i = kCompanionStartsKept - 1; i > 0; --i) starts[i] = starts[i - 1];
  starts[0] = now == 0 ? 1 : now;
  std::string error;
  if (!host_->StartCompanion(error)) view_->Problems("warning: " + error + "; " + untranslated, {});
}

}  // namespace velto::controller
