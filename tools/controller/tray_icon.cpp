// The tray icon is composed from coverage maps rather than drawn straight
// into the icon's bitmap: GDI leaves the alpha byte at 0 wherever it draws,
// so its antialiased text is drawn white on black into a scratch bitmap and
// the grey level taken as the text's coverage, while the rounded square and
// its outline are sampled here at 4x4 points a pixel. The layers are then
// laid over one another with premultiplied alpha, which is what the shell
// expects of a 32-bit icon.
#include "controller/tray_icon.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace velto::controller {
namespace {

struct Colour {
  float r, g, b;
};
// Calm enough to sit in the notification area all day, dark enough for
// white text, light enough to stand out on a dark taskbar.
constexpr Colour kOnFill{0x2e / 255.f, 0x6b / 255.f, 0xc6 / 255.f};
constexpr Colour kOnText{1.f, 1.f, 1.f};
// Readable on both light and dark taskbars, and plainly not "on".
constexpr Colour kOffInk{0x8c / 255.f, 0x8c / 255.f, 0x8c / 255.f};

// A 32-bit top-down DIB section: row 0 is the top, pixels are 0xAARRGGBB.
HBITMAP CreateDib(int width, int height, std::uint32_t** bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* memory = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &memory, nullptr, 0);
  *bits = static_cast<std::uint32_t*>(memory);
  return bitmap;
}

// A memory DC with a DIB section selected into it, for drawing text; what it
// created is released with it.
class Surface {
 public:
  Surface(int width, int height) : width_(width), height_(height) {
    dc_ = CreateCompatibleDC(nullptr);
    std::uint32_t* bits = nullptr;
    bitmap_ = CreateDib(width, height, &bits);
    if (dc_ == nullptr || bitmap_ == nullptr) return;
    bits_ = bits;
    old_ = SelectObject(dc_, bitmap_);
    std::memset(bits_, 0, static_cast<std::size_t>(width) * height * 4);
  }
  ~Surface() {
    if (old_ != nullptr) SelectObject(dc_, old_);
    if (bitmap_ != nullptr) DeleteObject(bitmap_);
    if (dc_ != nullptr) DeleteDC(dc_);
  }
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  bool ok() const { return bits_ != nullptr; }
  HDC dc() const { return dc_; }
  std::uint32_t* bits() const { return bits_; }
  int width() const { return width_; }
  int height() const { return height_; }
  void Clear() { std::memset(bits_, 0, static_cast<std::size_t>(width_) * height_ * 4); }

 private:
  int width_, height_;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  std::uint32_t* bits_ = nullptr;
};

// Coverage of each pixel of a size x size square, 0 to 1.
using Coverage = std::vector<float>;

// Samples `inside(x, y)` at 4x4 points in every pixel.
template <typename Inside>
Coverage Sample(int size, Inside inside) {
  constexpr int kGrid = 4;
  Coverage out(static_cast<std::size_t>(size) * size);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      int hits = 0;
      for (int j = 0; j < kGrid; ++j) {
        for (int i = 0; i < kGrid; ++i) {
          hits += inside(x + (i + 0.5f) / kGrid, y + (j + 0.5f) / kGrid) ? 1 : 0;
        }
      }
      out[static_cast<std::size_t>(y) * size + x] = hits / float(kGrid * kGrid);
    }
  }
  return out;
}

// Signed distance from (px, py) to the edge of the rounded square that fills
// the icon: negative inside.
float RoundedSquareDistance(float px, float py, int size, float radius) {
  const float half = size / 2.f;
  const float qx = std::fabs(px - half) - (half - radius);
  const float qy = std::fabs(py - half) - (half - radius);
  const float outside = std::hypot(std::max(qx, 0.f), std::max(qy, 0.f));
  return outside + std::min(std::max(qx, qy), 0.f) - radius;
}

int CALLBACK NoteFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;  // one is enough
}

bool FaceExists(HDC dc, const wchar_t* face) {
  LOGFONTW query{};
  query.lfCharSet = DEFAULT_CHARSET;
  wcsncpy(query.lfFaceName, face, LF_FACESIZE - 1);
  bool found = false;
  EnumFontFamiliesExW(dc, &query, NoteFace, reinterpret_cast<LPARAM>(&found), 0);
  return found;
}

// Segoe UI where it is installed (Windows Vista on); elsewhere the face of
// the system's message font, which is what the user reads in dialogs anyway.
std::wstring BadgeFace(HDC dc) {
  if (FaceExists(dc, L"Segoe UI")) return L"Segoe UI";
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0) &&
      metrics.lfMessageFont.lfFaceName[0] != 0) {
    return metrics.lfMessageFont.lfFaceName;
  }
  return L"Tahoma";
}

HFONT MakeFont(const std::wstring& face, int height, int width) {
  LOGFONTW font{};
  font.lfHeight = -height;  // the em height in pixels, not the cell height
  font.lfWidth = width;     // 0: the face's own proportions
  font.lfWeight = FW_BOLD;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfOutPrecision = OUT_TT_PRECIS;
  // Grey antialiasing: ClearType's coloured fringes would show once the grey
  // level becomes alpha.
  font.lfQuality = ANTIALIASED_QUALITY;
  wcsncpy(font.lfFaceName, face.c_str(), LF_FACESIZE - 1);
  return CreateFontIndirectW(&font);
}

struct Ink {
  int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
  bool empty() const { return right <= left || bottom <= top; }
  int width() const { return right - left; }
  int height() const { return bottom - top; }
};

// Draws `text` white on black in the middle of `scratch` and returns where
// its ink landed.
Ink DrawBadge(Surface& scratch, const std::wstring& text, HFONT font) {
  scratch.Clear();
  HGDIOBJ old = SelectObject(scratch.dc(), font);
  SIZE extent{};
  const int length = static_cast<int>(text.size());
  GetTextExtentPoint32W(scratch.dc(), text.c_str(), length, &extent);
  SetBkMode(scratch.dc(), TRANSPARENT);
  SetTextColor(scratch.dc(), RGB(255, 255, 255));
  TextOutW(scratch.dc(), (scratch.width() - extent.cx) / 2, (scratch.height() - extent.cy) / 2, text.c_str(),
           length);
  GdiFlush();
  SelectObject(scratch.dc(), old);

  Ink ink{scratch.width(), scratch.height(), 0, 0};
  for (int y = 0; y < scratch.height(); ++y) {
    for (int x = 0; x < scratch.width(); ++x) {
      if ((scratch.bits()[static_cast<std::size_t>(y) * scratch.width() + x] & 0xffffff) == 0) continue;
      ink.left = std::min(ink.left, x);
      ink.top = std::min(ink.top, y);
      ink.right = std::max(ink.right, x + 1);
      ink.bottom = std::max(ink.bottom, y + 1);
    }
  }
  return ink;
}

// The badge's coverage: the largest bold font whose ink fits the box inside
// the square, with its ink centred on whole pixels so that stems stay sharp.
// Three letters fit at 16 px at half the icon's height; below that height
// letters stop reading, so the font is narrowed first and only then made
// smaller still.
Coverage BadgeCoverage(const std::wstring& badge, int size, int box_width, int box_height) {
  Coverage out(static_cast<std::size_t>(size) * size, 0.f);
  if (badge.empty()) return out;
  Surface scratch(size * 4, size * 2);
  if (!scratch.ok()) return out;
  const std::wstring face = BadgeFace(scratch.dc());

  // Ink that reaches the scratch bitmap's edge may have been cut off.
  auto fits = [&](const Ink& ink) {
    return ink.width() <= box_width && ink.height() <= box_height && ink.left > 0 && ink.top > 0 &&
           ink.right < scratch.width() && ink.bottom < scratch.height();
  };
  HFONT chosen = nullptr;
  auto attempt = [&](int height, int width) {
    HFONT font = MakeFont(face, height, width);
    if (font == nullptr) return false;
    const Ink drawn = DrawBadge(scratch, badge, font);
    if (!drawn.empty() && fits(drawn)) {
      chosen = font;
      return true;
    }
    DeleteObject(font);
    return false;
  };
  const int floor_height = std::max(6, size / 2);
  bool found = false;
  for (int height = size; !found && height >= floor_height; --height) found = attempt(height, 0);
  if (!found) {
    // The face's natural average width at the floor height, then narrower.
    int natural = 0;
    if (HFONT font = MakeFont(face, floor_height, 0)) {
      HGDIOBJ old = SelectObject(scratch.dc(), font);
      TEXTMETRICW metrics{};
      if (GetTextMetricsW(scratch.dc(), &metrics)) natural = metrics.tmAveCharWidth;
      SelectObject(scratch.dc(), old);
      DeleteObject(font);
    }
    for (int width = natural - 1; !found && width >= std::max(1, natural * 3 / 5); --width) {
      found = attempt(floor_height, width);
    }
    for (int height = floor_height - 1; !found && height >= 4; --height) {
      found = attempt(height, std::max(1, natural * 3 / 5 * height / floor_height));
    }
  }
  if (!found) return out;
  // Draw once more with the chosen font, then copy the ink to the middle.
  const Ink ink = DrawBadge(scratch, badge, chosen);
  DeleteObject(chosen);
  const int dx = (size - ink.width()) / 2 - ink.left;
  const int dy = (size - ink.height()) / 2 - ink.top;
  for (int y = ink.top; y < ink.bottom; ++y) {
    for (int x = ink.left; x < ink.right; ++x) {
      const int tx = x + dx, ty = y + dy;
      if (tx < 0 || ty < 0 || tx >= size || ty >= size) continue;
      const std::uint32_t pixel = scratch.bits()[static_cast<std::size_t>(y) * scratch.width() + x];
      const int grey = std::max({(pixel >> 16) & 0xff, (pixel >> 8) & 0xff, pixel & 0xff});
      out[static_cast<std::size_t>(ty) * size + tx] = grey / 255.f;
    }
  }
  return out;
}

// A premultiplied pixel being composed.
struct Pixel {
  float r = 0, g = 0, b = 0, a = 0;
  // `colour` at `coverage` laid over this pixel.
  void Over(const Colour& colour, float coverage) {
    r = colour.r * coverage + r * (1 - coverage);
    g = colour.g * coverage + g * (1 - coverage);
    b = colour.b * coverage + b * (1 - coverage);
    a = coverage + a * (1 - coverage);
  }
  void Erase(float coverage) {
    r *= 1 - coverage;
    g *= 1 - coverage;
    b *= 1 - coverage;
    a *= 1 - coverage;
  }
  std::uint32_t Packed() const {
    auto byte = [](float v) {
      return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.f, 1.f) * 255));
    };
    const std::uint32_t alpha = byte(a);
    // Rounding must not leave a channel above the alpha it is premultiplied by.
    auto channel = [&](float v) { return std::min(byte(v), alpha); };
    return alpha << 24 | channel(r) << 16 | channel(g) << 8 | channel(b);
  }
};

std::vector<std::uint32_t> Compose(const std::wstring& badge, bool on, int size) {
  const float radius = size * 3 / 16.f;
  const float outline = static_cast<float>(std::max(1, (size + 8) / 16));
  const Coverage square =
      Sample(size, [&](float x, float y) { return RoundedSquareDistance(x, y, size, radius) <= 0; });
  // The same box in both states, so that the badge keeps its size when
  // translation is turned off; off, it may meet the outline at the sides.
  // Its height leaves a margin above and below that a single broad letter
  // would otherwise fill.
  const int pad = std::max(1, size / 16);
  const Coverage text = BadgeCoverage(badge, size, size - 2 * pad, (size * 5 + 4) / 8);

  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(size) * size);
  if (on) {
    for (std::size_t i = 0; i < pixels.size(); ++i) {
      Pixel pixel;
      pixel.Over(kOnFill, 1);
      pixel.Over(kOnText, text[i]);
      // The square's edge trims everything, text included.
      pixel.Erase(1 - square[i]);
      pixels[i] = pixel.Packed();
    }
    return pixels;
  }
  const Coverage ring = Sample(size, [&](float x, float y) {
    const float d = RoundedSquareDistance(x, y, size, radius);
    return d <= 0 && d > -outline;
  });
  // The stroke runs corner to corner over the badge as a staircase of whole
  // pixels, which stays sharp where an antialiased line at 45 degrees turns
  // into a grey blur. The pixels of the badge on either side of it are left
  // out so that it reads apart from the letters it crosses.
  const int stroke = std::max(1, size / 16);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * size + x;
      const int across = x + y - (size - 1);  // 0 on the diagonal from bottom left to top right
      const bool on_stroke = across >= 0 && across < stroke && square[i] >= 0.5f;
      const bool beside_stroke = across == -1 || across == stroke;
      Pixel pixel;
      if (!beside_stroke) pixel.Over(kOffInk, text[i]);
      pixel.Over(kOffInk, ring[i]);
      if (on_stroke) pixel.Over(kOffInk, 1);
      pixels[i] = pixel.Packed();
    }
  }
  return pixels;
}

}  // namespace

HICON MakeTrayIcon(const std::wstring& badge, bool on, int size) {
  size = std::clamp(size, 8, 256);
  const std::vector<std::uint32_t> pixels = Compose(badge, on, size);

  std::uint32_t* bits = nullptr;
  HBITMAP colour = CreateDib(size, size, &bits);
  if (colour == nullptr) return nullptr;
  std::memcpy(bits, pixels.data(), pixels.size() * 4);
  // The AND mask, for whatever still draws without alpha: set where nothing
  // is drawn. Rows of a monochrome bitmap are padded to 16 bits.
  const int stride = (size + 15) / 16 * 2;
  std::vector<std::uint8_t> mask(static_cast<std::size_t>(stride) * size, 0);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      if ((pixels[static_cast<std::size_t>(y) * size + x] >> 24) == 0) {
        mask[static_cast<std::size_t>(y) * stride + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
      }
    }
  }
  HBITMAP mask_bitmap = CreateBitmap(size, size, 1, 1, mask.data());
  HICON icon = nullptr;
  if (mask_bitmap != nullptr) {
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmMask = mask_bitmap;
    info.hbmColor = colour;
    icon = CreateIconIndirect(&info);  // copies both bitmaps
    DeleteObject(mask_bitmap);
  }
  DeleteObject(colour);
  return icon;
}

int TrayIconSize() {
  return std::clamp(GetSystemMetrics(SM_CXSMICON), 16, 32);
}

}  // namespace velto::controller
