// The tray program's view: an icon in the notification area that carries
// the active layout's letters (drawn anew when translation goes off), a
// tooltip with the layout's name and the lock lights, balloons for errors
// and notices, and the menu.
#pragma once

// clang-format off
#include "controller/win32_host.h"  // windows.h, which shellapi.h needs first
#include <shellapi.h>
// clang-format on

#include <string>
#include <vector>

#include "controller/log.h"

namespace velto::controller {

class TrayView : public View, public WindowClient {
 public:
  TrayView(Log& log, const Win32Host& host) : log_(log), host_(host) {}
  ~TrayView() override;
  void Attach(Controller& c) { c_ = &c; }

  void Say(const std::string& line) override { log_.Write(line); }
  void Problems(const std::string& summary, const std::vector<std::string>& lines) override;
  void Tell(const std::string& text) override;
  void Refresh() override;
  void ShowErrors() override;
  void Show() override;
  bool Handle(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void Balloon(const std::string& title, const std::string& text, DWORD icon);
  void ShowMenu();
  void OnMenu(UINT id);
  void OpenDiagnostics();
  void Remove();

  Log& log_;
  const Win32Host& host_;
  Controller* c_ = nullptr;
  NOTIFYICONDATAW icon_{};
  bool shown_ = false;
  HICON drawn_ = nullptr;
  std::wstring drawnBadge_;
  bool drawnOn_ = false;
  int drawnSize_ = 0;
  std::wstring pendingTitle_, pendingText_;  // a balloon before the icon is there
  DWORD pendingIcon_ = 0;
  std::vector<std::string> menuFiles_;  // the layout files the menu offers, by item
  UINT taskbarCreated_ = 0;
};

}  // namespace velto::controller
