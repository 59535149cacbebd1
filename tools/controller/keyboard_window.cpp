#include "controller/keyboard_window.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <map>
#include <tuple>

#include "controller/win32_system.h"
#include "shared/keys.h"

namespace velto::controller {
namespace {

constexpr const wchar_t* kClass = L"VeltoKeyboard";
constexpr const wchar_t* kTitle = L"Velto keyboard";
constexpr UINT_PTR kLookTimer = 1;
constexpr UINT kLookMs = 50;
constexpr UINT kDpiChanged = 0x02E0;  // WM_DPICHANGED
// The drawing, in the renderer's units: the case around the keys.
constexpr double kCasePad = 10;
constexpr double kDrawingWidth = layoutkit::kKeyboardWidth * layoutkit::kKeyUnit + 2 * kCasePad;
constexpr double kDrawingHeight = layoutkit::kKeyboardHeight * layoutkit::kKeyUnit + 2 * kCasePad;
// A key unit at 96 dots per inch, for the size the window starts with.
constexpr double kDefaultKeyPixels = 40;

// The renderer's colours (its style sheet), as COLORREF.
constexpr COLORREF Rgb(std::uint32_t rgb) {
  return RGB(rgb >> 16 & 0xFF, rgb >> 8 & 0xFF, rgb & 0xFF);
}
constexpr COLORREF kBackground = Rgb(0xf5f6f8), kCase = Rgb(0xdde0e5);
constexpr COLORREF kPendingRing = Rgb(0xc2560c);

struct KeyColours {
  COLORREF side, face;
};

// Where the style sheet gives a key of several classes the colours of the
// later rule: held, then system, macro, none, compose, dead.
KeyColours ColoursOf(const layoutkit::KeyFace& f) {
  if (f.held) return {Rgb(0x7ea5dd), Rgb(0xdbe7fa)};
  if (f.system) return {Rgb(0xcdd0d6), Rgb(0xe8eaed)};
  if (f.macro) return {Rgb(0xb39ae0), Rgb(0xf3ecff)};
  if (f.none) return {Rgb(0xd9dce1), Rgb(0xf1f2f4)};
  if (f.compose) return {Rgb(0x5fb3a6), Rgb(0xe2f5f1)};
  if (f.dead) return {Rgb(0xe6a76b), Rgb(0xfff1e2)};
  return {Rgb(0xc3c7cf), Rgb(0xfdfdfe)};
}

COLORREF InkOf(const layoutkit::KeyLabel& l, bool held) {
  using K = layoutkit::LabelKind;
  switch (l.kind) {
    case K::kDead:
      return Rgb(0xc2560c);
    case K::kCompose:
      return Rgb(0x13695d);
    case K::kMacro:
      return Rgb(0x6a3dbf);
    case K::kGrey:
      return Rgb(0x8a9099);
    case K::kName:
      return held ? Rgb(0x1f4e96) : Rgb(0x7a808a);
    case K::kChar:
      break;
  }
  return l.place == layoutkit::LabelPlace::kTopRight ? Rgb(0x0b7a78) : Rgb(0x1f2328);
}

// `a` taken `t` of the way to `b`.
COLORREF Mix(COLORREF a, COLORREF b, double t) {
  auto mix = [t](int x, int y) { return static_cast<BYTE>(std::lround(x + (y - x) * t)); };
  return RGB(mix(GetRValue(a), GetRValue(b)), mix(GetGValue(a), GetGValue(b)),
             mix(GetBValue(a), GetBValue(b)));
}

// Translation off: every colour as a pale grey of its lightness.
COLORREF Greyed(COLORREF c) {
  const int y = (GetRValue(c) * 299 + GetGValue(c) * 587 + GetBValue(c) * 114) / 1000;
  return Mix(RGB(y, y, y), kBackground, 0.45);
}

// Called for a typeface that exists: notes it, and asks for no more.
int CALLBACK NoteFaceFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

// The first of these typefaces that the system has.
const wchar_t* FirstFace(std::initializer_list<const wchar_t*> faces) {
  const HDC screen = GetDC(nullptr);
  const wchar_t* chosen = *faces.begin();
  for (const wchar_t* face : faces) {
    LOGFONTW want{};
    want.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(want.lfFaceName, face, LF_FACESIZE);
    bool found = false;
    EnumFontFamiliesExW(screen, &want, NoteFaceFound, reinterpret_cast<LPARAM>(&found), 0);
    if (found) {
      chosen = face;
      break;
    }
  }
  ReleaseDC(nullptr, screen);
  return chosen;
}

// Windows' own typeface, or where it lacks it (Wine) one with the dead
// keys' dotted circle and the like.
const wchar_t* FaceName() {
  static const wchar_t* const face = FirstFace({L"Segoe UI", L"DejaVu Sans", L"Noto Sans", L"Tahoma"});
  return face;
}

// For a label whose characters it lacks (the compose key's ⎄), the first
// of these that has them.
constexpr const wchar_t* kSymbolFaces[] = {L"Segoe UI Symbol", L"Noto Sans Symbols", L"Noto Sans Symbols2"};

// True if the font selected into `dc` has every character of `text`.
bool HasGlyphs(HDC dc, const std::wstring& text) {
  std::vector<WORD> glyphs(text.size());
  if (GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()), glyphs.data(),
                       GGI_MARK_NONEXISTING_GLYPHS) == GDI_ERROR)
    return true;
  return std::find(glyphs.begin(), glyphs.end(), 0xFFFF) == glyphs.end();
}

// The fonts of one painting, by size in pixels and weight.
class Fonts {
 public:
  ~Fonts() {
    for (const auto& [key, font] : fonts_) DeleteObject(font);
  }
  // `face` 0 the main typeface, else kSymbolFaces[face - 1].
  HFONT Get(int pixels, bool bold, int face = 0) {
    HFONT& font = fonts_[{pixels, bold, face}];
    if (font == nullptr) {
      font = CreateFontW(-pixels, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH,
                         face == 0 ? FaceName() : kSymbolFaces[face - 1]);
    }
    return font;
  }

 private:
  std::map<std::tuple<int, bool, int>, HFONT> fonts_;
};

LRESULT CALLBACK KeyboardProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<KeyboardWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (msg == WM_NCCREATE) {
    self = static_cast<KeyboardWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (self == nullptr) return DefWindowProcW(window, msg, wParam, lParam);
  return self->Proc(window, msg, wParam, lParam);
}

constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
constexpr DWORD kExStyle = WS_EX_TOPMOST | WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW;

}  // namespace

KeyboardWindow::~KeyboardWindow() {
  if (window_ != nullptr) DestroyWindow(window_);
}

bool KeyboardWindow::Create() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = KeyboardProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = kClass;
  RegisterClassW(&wc);  // fails harmlessly when it is registered already
  RECT r = DefaultRect();
  const WindowPlace kept = c_->settings().keyboardWindow;
  if (kept.known()) {
    const RECT place{kept.x, kept.y, kept.x + kept.width, kept.y + kept.height};
    // A place on a display that is no longer there is not used.
    if (MonitorFromRect(&place, MONITOR_DEFAULTTONULL) != nullptr) r = place;
  }
  window_ = CreateWindowExW(kExStyle, kClass, kTitle, kStyle, r.left, r.top, r.right - r.left,
                            r.bottom - r.top, nullptr, nullptr, wc.hInstance, this);
  return window_ != nullptr;
}

// At the bottom of the work area, in the middle, a key unit of 40 pixels at
// the display's scale.
RECT KeyboardWindow::DefaultRect() const {
  const HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  const double unit = kDefaultKeyPixels * dpi / 96.0;
  RECT r{0, 0, static_cast<LONG>(std::lround(kDrawingWidth / layoutkit::kKeyUnit * unit)),
         static_cast<LONG>(std::lround(kDrawingHeight / layoutkit::kKeyUnit * unit))};
  AdjustWindowRectEx(&r, kStyle, FALSE, kExStyle);
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const LONG w = r.right - r.left, h = r.bottom - r.top;
  const LONG x = work.left + (work.right - work.left - w) / 2;
  const LONG y = std::max(work.top, work.bottom - h - 8);
  return {x, y, x + w, y + h};
}

void KeyboardWindow::Show(bool show) {
  if (show == shown_) return;
  if (show) {
    if (window_ == nullptr && !Create()) return;
    shown_ = true;
    Look(true);
    ShowWindow(window_, SW_SHOWNOACTIVATE);
    SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetTimer(window_, kLookTimer, kLookMs, nullptr);
  } else {
    shown_ = false;
    KillTimer(window_, kLookTimer);
    KeepPlace();
    ShowWindow(window_, SW_HIDE);
  }
}

void KeyboardWindow::Changed() {
  if (shown_) Look(true);
}

// Draws again when what it shows has changed (or `anyway`: the layouts may
// have been loaded again).
void KeyboardWindow::Look(bool anyway) {
  const KeyboardView now = c_->Keyboard();
  if (!anyway && now == drawn_ && !faces_.empty()) return;
  const bool sameFaces = !anyway && !faces_.empty() && now.layout == drawn_.layout &&
                         now.modifiers == drawn_.modifiers && now.capsLock == drawn_.capsLock;
  if (!sameFaces) faces_ = KeyboardFaces(c_->Description(), now);
  drawn_ = now;
  InvalidateRect(window_, nullptr, FALSE);
}

void KeyboardWindow::KeepPlace() {
  RECT r;
  if (window_ == nullptr || IsIconic(window_) || !GetWindowRect(window_, &r)) return;
  c_->KeyboardMoved({r.left, r.top, r.right - r.left, r.bottom - r.top});
}

LRESULT KeyboardWindow::Proc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_MOUSEACTIVATE:
      return MA_NOACTIVATE;
    case WM_TIMER:
      if (wParam == kLookTimer) Look(false);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_SIZE:
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    case WM_EXITSIZEMOVE:
      KeepPlace();
      return 0;
    case WM_CLOSE:
      c_->Execute(Command::Keyboard(Command::Shown::kHide));
      return 0;
    case kDpiChanged: {
      const RECT* r = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(window, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      const HDC dc = BeginPaint(window, &ps);
      RECT client;
      GetClientRect(window, &client);
      const int w = client.right, h = client.bottom;
      // Drawn off screen and put on at once: no flicker at 20 looks a second.
      const HDC memory = CreateCompatibleDC(dc);
      const HBITMAP bitmap = CreateCompatibleBitmap(dc, std::max(w, 1), std::max(h, 1));
      if (memory != nullptr && bitmap != nullptr) {
        const HGDIOBJ old = SelectObject(memory, bitmap);
        Paint(memory, w, h);
        BitBlt(dc, 0, 0, w, h, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
      }
      if (bitmap != nullptr) DeleteObject(bitmap);
      if (memory != nullptr) DeleteDC(memory);
      EndPaint(window, &ps);
      return 0;
    }
    default:
      return DefWindowProcW(window, msg, wParam, lParam);
  }
}

void KeyboardWindow::Paint(HDC dc, int width, int height) {
  const bool on = drawn_.on;
  auto ink = [on](COLORREF c) { return on ? c : Greyed(c); };
  const HBRUSH background = CreateSolidBrush(kBackground);
  const RECT all{0, 0, width, height};
  FillRect(dc, &all, background);
  DeleteObject(background);
  if (width < 8 || height < 8) return;

  // The drawing fitted into the client area, in the middle.
  const double scale = std::min(width / kDrawingWidth, height / kDrawingHeight);
  const double left = (width - kDrawingWidth * scale) / 2, top = (height - kDrawingHeight * scale) / 2;
  auto px = [&](double u) { return static_cast<int>(std::lround(left + u * scale)); };
  auto py = [&](double u) { return static_cast<int>(std::lround(top + u * scale)); };
  auto radius = [&](double r) { return std::max(2, static_cast<int>(std::lround(2 * r * scale))); };

  const HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
  const HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(DC_BRUSH));
  SetDCBrushColor(dc, ink(kCase));
  RoundRect(dc, px(0), py(0), px(kDrawingWidth) + 1, py(kDrawingHeight) + 1, radius(10), radius(10));

  const bool leftShift = drawn_.modifiers >> kModLeftShift & 1,
             rightShift = drawn_.modifiers >> kModRightShift & 1;
  const std::vector<layoutkit::KeyCap> keys = layoutkit::KeyboardKeys(false);
  Fonts fonts;
  SetBkMode(dc, TRANSPARENT);
  for (std::size_t n = 0; n < keys.size() && n < faces_.size(); ++n) {
    const layoutkit::KeyCap& k = keys[n];
    const layoutkit::KeyFace& face = faces_[n];
    const KeyColours colours = ColoursOf(face);
    const double x = kCasePad + k.x * layoutkit::kKeyUnit, y = kCasePad + k.y * layoutkit::kKeyUnit;
    const layoutkit::KeyBox side = layoutkit::KeySide(x, y, k.w);
    const layoutkit::KeyBox text = layoutkit::KeyFaceBox(x, y, k.w, k.isoEnter);
    auto outline = [&](double l, double t, double r, double b) {
      std::vector<POINT> points;
      for (const auto& [ux, uy] : layoutkit::IsoEnterOutline(x, y, k.w, l, t, r, b))
        points.push_back({px(ux), py(uy)});
      Polygon(dc, points.data(), static_cast<int>(points.size()));
    };
    SetDCBrushColor(dc, ink(colours.side));
    if (k.isoEnter) {
      outline(0, 0, 0, 0);
    } else {
      RoundRect(dc, px(side.x), py(side.y), px(side.x + side.w) + 1, py(side.y + side.h) + 1, radius(5),
                radius(5));
    }
    SetDCBrushColor(dc, ink(colours.face));
    if (k.isoEnter) {
      outline(layoutkit::kFaceLeft, layoutkit::kFaceTop, layoutkit::kFaceRight, layoutkit::kFaceBottom);
    } else {
      RoundRect(dc, px(text.x), py(text.y), px(text.x + text.w) + 1, py(text.y + text.h) + 1, radius(4),
                radius(4));
    }
    if (drawn_.pendingDead != 0 && k.scan == drawn_.pendingDead) {
      // The dead key that waits for the next key: a ring around it.
      const HPEN ring =
          CreatePen(PS_SOLID, std::max(2, static_cast<int>(std::lround(3 * scale))), ink(kPendingRing));
      const HGDIOBJ pen = SelectObject(dc, ring);
      const HGDIOBJ brush = SelectObject(dc, GetStockObject(NULL_BRUSH));
      if (k.isoEnter) {
        outline(0, 0, 0, 0);
      } else {
        RoundRect(dc, px(side.x), py(side.y), px(side.x + side.w), py(side.y + side.h), radius(5), radius(5));
      }
      SelectObject(dc, brush);
      SelectObject(dc, pen);
      DeleteObject(ring);
    }
    // With Shift held, what the key types without it steps back.
    const layoutkit::KeyLabel* typed = layoutkit::TypingLabel(face, leftShift, rightShift);
    for (const layoutkit::KeyLabel& l : face.labels) {
      if (l.text.empty()) continue;
      const layoutkit::LabelSpot at = layoutkit::SpotOf(text, l);
      const int pixels = static_cast<int>(std::lround(at.size * scale));
      if (pixels < 4) continue;
      const bool bold = l.kind == layoutkit::LabelKind::kDead || l.kind == layoutkit::LabelKind::kCompose;
      const std::wstring wide = Wide(l.text);
      SelectObject(dc, fonts.Get(pixels, bold));
      if (!HasGlyphs(dc, wide)) {
        int face = 1;
        for (; face <= static_cast<int>(std::size(kSymbolFaces)); ++face) {
          SelectObject(dc, fonts.Get(pixels, bold, face));
          if (HasGlyphs(dc, wide)) break;
        }
        if (face > static_cast<int>(std::size(kSymbolFaces))) SelectObject(dc, fonts.Get(pixels, bold));
      }
      COLORREF colour = InkOf(l, face.held);
      if ((leftShift || rightShift) && l.kind != layoutkit::LabelKind::kName && &l != typed)
        colour = Mix(colour, colours.face, 0.65);
      SetTextColor(dc, ink(colour));
      SetTextAlign(dc, TA_BASELINE | (at.alignRight ? TA_RIGHT : TA_LEFT));
      TextOutW(dc, px(at.x), py(at.y), wide.c_str(), static_cast<int>(wide.size()));
    }
  }
  SelectObject(dc, GetStockObject(SYSTEM_FONT));
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
}

}  // namespace velto::controller
