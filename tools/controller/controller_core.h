// The controller both programs share: velto.exe in the notification area and
// veltoctl.exe in a console. It hands the library the layouts (from a .vkl,
// compiled here, or a .vkb), loads them again when their files are saved,
// follows the settings file and the window in front for the rules per
// program, and runs the commands that the console, the tray menu and a
// second start give it. It reaches the system only through its Host and
// shows what happens only through its View, so it runs without Windows too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "controller/command.h"
#include "controller/diagnostics_report.h"
#include "controller/host.h"
#include "controller/options.h"
#include "controller/rules.h"
#include "controller/settings.h"
#include "controller/view.h"
#include "layoutkit/layout_builder.h"
#include "layoutkit/render.h"

namespace velto::controller {

// Paths, Windows' way or the other.
std::string FolderOf(const std::string& path);  // with the separator at the end
std::string FileNameOf(const std::string& path);
bool IsAbsolute(const std::string& path);

// A layout file as read: the description, or why not, and the files it
// includes, which are watched for changes either way.
struct LoadedLayouts {
  bool ok = false;
  layoutkit::KeyboardDescription description{};  // the built-in layouts when not ok
  std::vector<std::string> diagnostics;          // FILE:LINE:COL: error: ... (or warning)
  std::vector<std::string> files;
};
// Reads `path`; an empty path is the built-in layouts.
LoadedLayouts LoadLayouts(const std::string& path);

// What the on-screen keyboard shows: the active layout in the state of the
// modifiers held and the Caps Lock light, translation on or off, and the
// dead key that waits for the next key, if any.
struct KeyboardView {
  unsigned layout = 0;
  bool on = true;
  std::uint16_t modifiers = 0;  // `modifiers` bits, Shift's included
  bool capsLock = false;
  std::uint16_t pendingDead = 0;  // its scan code, 0 for none
  bool operator==(const KeyboardView&) const = default;
};

// The keys of the on-screen keyboard (layoutkit::KeyboardKeys(false)), each
// as it shows in `view`.
std::vector<layoutkit::KeyFace> KeyboardFaces(const layoutkit::KeyboardDescription& d, const KeyboardView& view);

class Controller {
 public:
  Controller(Options options, Host& host, View& view) : o_(std::move(options)), host_(&host), view_(&view) {}

  // Before anything is installed: finds the settings file and reads a
  // layout file named on veltoctl's command line, which must load. False
  // with the diagnostics when it does not.
  bool Prepare(bool trayProgram, std::vector<std::string>& diagnostics);
  // With the library hooked: reads the settings, loads the layouts, hands
  // them over with the layout and translation to start with, and says that
  // Velto runs with `library`.
  void Start(bool trayProgram, const std::string& library);
  // Once the host follows the window in front: shows the state, applies a
  // rule for the window in front and starts the companion.
  void StartFollowing();
  // The host's loop ended.
  void Stopped();
  // For a diagnostics report when no instance runs: after Prepare, reads
  // the settings without following them or showing their errors.
  void ReadSettingsForReport();

  // Runs a command. False, and says so, for one it does not take: while
  // attached to another instance, only layout, on, off, toggle, state and quit.
  bool Execute(const Command& command);
  // Says that `text`, given as a command, is not one.
  void Refuse(const std::string& text);

  // The window in front may have changed: the host calls it when the system
  // says so, and where the system does not, now and then.
  void FollowForeground();
  // Something changed in the folder of a watched file (Host::WatchFiles).
  // What has changed is loaded once it has settled: when a later look
  // (LookAgain, asked of the host) finds it as this one did.
  void FilesMayHaveChanged();
  // The look that Host::LookAgainIn asked for.
  void LookAgain();
  // A notice of the library to the controller's window.
  void Notice(std::uintptr_t wParam, std::uintptr_t lParam);
  // The user left the on-screen keyboard's window at `place`: kept in the settings.
  void KeyboardMoved(const WindowPlace& place);
  void CompanionReady(const std::string& fileName);
  void CompanionStopped(std::uint32_t exitCode);

  // The state, for the views.
  const Options& options() const { return o_; }
  unsigned Layout() const { return host_->CurrentLayout(); }
  bool On() const { return host_->Enabled(); }
  unsigned Leds() const { return host_->Leds(); }
  std::string LayoutName(unsigned layout) const;  // UTF-8; empty when not known
  std::string Badge(unsigned layout) const;       // what the tray icon carries
  std::string StateLine() const;  // "layout 1 (US International), translation on, lights: ..."
  const std::string& LayoutFile() const { return layoutFile_; }  // empty: the built-in layouts
  const std::string& SettingsFile() const { return settingsFile_; }
  const Settings& settings() const { return settings_; }
  const std::vector<std::string>& Errors() const { return errors_; }
  std::string LayoutsFolder() const { return FolderOf(settingsFile_) + "layouts\\"; }
  // The program in front when it runs as administrator, else empty.
  const std::string& ElevatedInFront() const { return elevatedInFront_; }
  // The program in front when it runs in an AppContainer (a Store app), else empty.
  const std::string& ContainedInFront() const { return containedInFront_; }
  // The companion stopped too often and is not started again until asked.
  bool CompanionGivenUp() const { return companionGivenUp_; }
  bool Elevated() const { return elevated_; }
  bool Attached() const { return o_.attach; }
  const layoutkit::KeyboardDescription& Description() const { return description_; }
  // What the on-screen keyboard shows now, with the modifiers held as the host reads them.
  KeyboardView Keyboard() const;
  // What the controller knows for the diagnostics report: the version, the
  // layouts in use, the settings and their errors, the rules and the one
  // that applies to `inFront`.
  void Diagnose(const WindowInFront& inFront, DiagnosticFacts& f) const;

 private:
  struct Watched {
    std::vector<std::string> files;
    std::vector<FileStamp> loaded, seen;  // as loaded, and at the latest look
  };

  void ReadSettings();
  std::string ResolvedLayoutFile() const;
  // Takes loaded layouts in, or keeps the errors; what the library gets is
  // the caller's business.
  bool Adopt(const std::string& path, LoadedLayouts loaded, const char* failed);
  void Reload(const std::string& path);
  void WarnAboutCodePages();
  void ApplySignIn(bool on, bool say);
  std::string SignInCommandLine() const;
  void SetSetting(const std::string& key, const std::string& value);
  void Watch(Watched& w, std::vector<std::string> files);
  bool Looked(Watched& w) const;
  void AskToLookAgain();
  void TakeSettingsIn();
  void StartCompanion();
  std::string CompanionGivenUpText() const;
  void KeyTaken(std::uint16_t scan, bool keyUp);

  Options o_;
  Host* host_;
  View* view_;

  layoutkit::KeyboardDescription description_{};
  std::optional<LoadedLayouts> named_;  // the command line's file, read by Prepare
  std::string settingsFile_, layoutFile_;
  Settings settings_;
  std::vector<std::string> errors_;  // of the layout file, as last loaded
  std::vector<std::string> settingsErrors_;  // of the settings file, as last read
  Watched layoutWatch_, settingsWatch_;
  bool lookAsked_ = false;  // LookAgain is due

  RuleFollower rules_;
  ElevationNotices notices_;
  std::uintptr_t lastInFront_ = 0;
  std::string elevatedInFront_, containedInFront_;
  bool elevated_ = false;
  bool started_ = false;  // Start has handed the layouts over

  std::uint16_t pendingDead_ = 0;  // the scan code of a dead key typed last, while the keyboard is shown
  unsigned pendingLayout_ = 0;     // the layout it was typed on
  std::uint32_t companionStarts_[5] = {};  // clock of the latest starts, newest first
  bool companionGivenUp_ = false;
};

}  // namespace velto::controller
