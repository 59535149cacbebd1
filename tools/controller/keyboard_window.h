// The on-screen keyboard: a window that stays on top and is never
// activated, so that the program being typed into keeps the focus and every
// key. It draws the active layout as `veltoc render` draws it (the geometry
// and faces of layoutkit/keyboard_geometry.h), in the state of the
// modifiers held, scaled to its client area; greyed while translation is
// off, with the dead key that waits for the next key outlined. While shown
// it looks at the modifiers every 50 ms; hidden, it costs nothing.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <vector>

#include "controller/controller_core.h"

namespace velto::controller {

class KeyboardWindow {
 public:
  KeyboardWindow() = default;
  KeyboardWindow(const KeyboardWindow&) = delete;
  KeyboardWindow& operator=(const KeyboardWindow&) = delete;
  ~KeyboardWindow();

  void Attach(Controller& c) { c_ = &c; }
  void Show(bool show);
  bool Shown() const { return shown_; }
  // Something it shows may have changed: looks again now.
  void Changed();

  LRESULT Proc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

 private:
  bool Create();
  RECT DefaultRect() const;
  void Look(bool anyway);
  void Paint(HDC dc, int width, int height);
  void KeepPlace();

  Controller* c_ = nullptr;
  HWND window_ = nullptr;
  bool shown_ = false;
  KeyboardView drawn_;
  std::vector<layoutkit::KeyFace> faces_;
};

}  // namespace velto::controller
