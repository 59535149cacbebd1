// Draws the controller's tray icon for each badge given, on and off, at 16,
// 20, 24 and 32 pixels, and checks what the icons hold: the size asked for,
// premultiplied alpha, an opaque square with the badge centred in another
// colour when on, a mostly transparent icon unlike the "on" one when off,
// and a different picture for every badge.
// With --bmp DIR it also writes each icon as a 32-bit BMP with alpha,
// DIR/BADGE-on-16.bmp and so on, to be looked at.
// Usage: velto-tray-icons.exe [--bmp DIR] BADGE...   (exit 1: a check failed)
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "controller/tray_icon.h"

namespace {

constexpr int kSizes[] = {16, 20, 24, 32};
int failures = 0;

std::string Utf8(const std::wstring& text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), bytes, nullptr, nullptr);
  out.pop_back();
  return out;
}

std::wstring Name(const std::wstring& badge, bool on, int size) {
  return badge + (on ? L"-on-" : L"-off-") + std::to_wstring(size);
}

void Fail(const std::wstring& name, const char* why) {
  std::printf("FAIL %s: %s\n", Utf8(name).c_str(), why);
  ++failures;
}

// The icon's colour bitmap as 0xAARRGGBB rows from the top; empty when its
// bitmaps are not `size` square.
std::vector<std::uint32_t> Pixels(HICON icon, int size) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return {};
  BITMAP colour{}, mask{};
  GetObjectW(info.hbmColor, sizeof(colour), &colour);
  GetObjectW(info.hbmMask, sizeof(mask), &mask);
  std::vector<std::uint32_t> pixels;
  if (colour.bmWidth == size && colour.bmHeight == size && colour.bmBitsPixel == 32 && mask.bmWidth == size &&
      mask.bmHeight == size) {
    pixels.resize(static_cast<std::size_t>(size) * size);
    BITMAPINFO format{};
    format.bmiHeader = {sizeof(BITMAPINFOHEADER), size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HDC dc = GetDC(nullptr);
    if (GetDIBits(dc, info.hbmColor, 0, size, pixels.data(), &format, DIB_RGB_COLORS) != size) pixels.clear();
    ReleaseDC(nullptr, dc);
  }
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return pixels;
}

int Alpha(std::uint32_t pixel) {
  return pixel >> 24;
}
int Channel(std::uint32_t pixel, int shift) {
  return (pixel >> shift) & 0xff;
}
int Distance(std::uint32_t a, std::uint32_t b) {
  int sum = 0;
  for (int shift : {0, 8, 16, 24}) sum += std::abs(Channel(a, shift) - Channel(b, shift));
  return sum;
}
int Differing(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
  int count = 0;
  for (std::size_t i = 0; i < a.size(); ++i) count += Distance(a[i], b[i]) > 48 ? 1 : 0;
  return count;
}

void CheckOn(const std::wstring& name, const std::vector<std::uint32_t>& pixels, int size) {
  std::map<std::uint32_t, int> counts;
  int opaque = 0;
  for (std::uint32_t pixel : pixels) {
    if (Alpha(pixel) == 255) ++opaque, ++counts[pixel];
  }
  if (opaque < size * size * 85 / 100) return Fail(name, "fewer than 85% of the pixels are opaque");
  std::uint32_t fill = 0;
  for (const auto& [colour, count] : counts) {
    if (count > counts[fill]) fill = colour;
  }
  // The badge: opaque pixels clearly unlike the fill, centred within a pixel.
  int text = 0, left = size, right = 0, top = size, bottom = 0;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const std::uint32_t pixel = pixels[static_cast<std::size_t>(y) * size + x];
      if (Alpha(pixel) != 255 || Distance(pixel, fill) < 192) continue;  // not the square's soft edge
      ++text;
      left = std::min(left, x), right = std::max(right, x + 1);
      top = std::min(top, y), bottom = std::max(bottom, y + 1);
    }
  }
  if (text < size * size / 16) return Fail(name, "the badge hardly differs from the fill");
  if (std::abs(left + right - size) > 2 || std::abs(top + bottom - size) > 2) {
    std::printf("  badge's pixels span x %d..%d, y %d..%d of %d\n", left, right, top, bottom, size);
    Fail(name, "the badge is not centred");
  }
}

void WriteBmp(const std::wstring& path, const std::vector<std::uint32_t>& pixels, int size) {
  BITMAPV5HEADER header{};
  header.bV5Size = sizeof(header);
  header.bV5Width = size;
  header.bV5Height = -size;
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_BITFIELDS;
  header.bV5SizeImage = static_cast<DWORD>(pixels.size() * 4);
  header.bV5RedMask = 0x00ff0000;
  header.bV5GreenMask = 0x0000ff00;
  header.bV5BlueMask = 0x000000ff;
  header.bV5AlphaMask = 0xff000000;
  header.bV5CSType = 0x73524742;  // LCS_sRGB, a multi-character constant in wingdi.h
  BITMAPFILEHEADER file{};
  file.bfType = 0x4d42;  // "BM"
  file.bfOffBits = sizeof(file) + sizeof(header);
  file.bfSize = file.bfOffBits + header.bV5SizeImage;
  // A BMP holds straight alpha: undo the premultiplication.
  std::vector<std::uint32_t> straight(pixels);
  for (std::uint32_t& pixel : straight) {
    const int alpha = Alpha(pixel);
    if (alpha == 0) continue;
    std::uint32_t out = static_cast<std::uint32_t>(alpha) << 24;
    for (int shift : {0, 8, 16})
      out |= static_cast<std::uint32_t>(Channel(pixel, shift) * 255 / alpha) << shift;
    pixel = out;
  }
  FILE* bmp = _wfopen(path.c_str(), L"wb");
  if (bmp == nullptr ||
      !(std::fwrite(&file, sizeof(file), 1, bmp) == 1 && std::fwrite(&header, sizeof(header), 1, bmp) == 1 &&
        std::fwrite(straight.data(), 4, straight.size(), bmp) == straight.size())) {
    std::printf("FAIL cannot write %s\n", Utf8(path).c_str());
    ++failures;
  }
  if (bmp != nullptr) std::fclose(bmp);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring bmp_dir;
  std::vector<std::wstring> badges;
  for (int i = 1; i < argc; ++i) {
    if (std::wstring(argv[i]) == L"--bmp" && i + 1 < argc) {
      bmp_dir = argv[++i];
    } else {
      badges.push_back(argv[i]);
    }
  }
  if (badges.empty()) {
    std::fprintf(stderr, "usage: velto-tray-icons.exe [--bmp DIR] BADGE...\n");
    return 2;
  }
  // Every badge's picture by state and size.
  std::map<std::pair<bool, int>, std::vector<std::pair<std::wstring, std::vector<std::uint32_t>>>> drawn;
  for (const std::wstring& badge : badges) {
    for (int size : kSizes) {
      std::vector<std::uint32_t> on_pixels;
      for (bool on : {true, false}) {
        const std::wstring name = Name(badge, on, size);
        HICON icon = velto::controller::MakeTrayIcon(badge, on, size);
        if (icon == nullptr) {
          Fail(name, "MakeTrayIcon returned no icon");
          continue;
        }
        const std::vector<std::uint32_t> pixels = Pixels(icon, size);
        DestroyIcon(icon);
        if (pixels.empty()) {
          Fail(name, "the icon's bitmaps are not 32-bit and of the size asked for");
          continue;
        }
        for (std::uint32_t pixel : pixels) {
          if (Channel(pixel, 0) > Alpha(pixel) || Channel(pixel, 8) > Alpha(pixel) ||
              Channel(pixel, 16) > Alpha(pixel)) {
            Fail(name, "a colour channel exceeds its alpha: the alpha is not premultiplied");
            break;
          }
        }
        if (on) {
          CheckOn(name, pixels, size);
          on_pixels = pixels;
        } else {
          int opaque = 0;
          for (std::uint32_t pixel : pixels) opaque += Alpha(pixel) == 255 ? 1 : 0;
          if (opaque > size * size / 2) Fail(name, "more than half of the \"off\" icon is opaque");
          if (!on_pixels.empty() && Differing(pixels, on_pixels) < size * size / 4) {
            Fail(name, "differs from the \"on\" icon in fewer than a quarter of its pixels");
          }
        }
        for (const auto& [other, other_pixels] : drawn[{on, size}]) {
          if (other != badge && Differing(pixels, other_pixels) == 0) {
            Fail(name, ("looks the same as " + Utf8(Name(other, on, size))).c_str());
          }
        }
        drawn[{on, size}].emplace_back(badge, pixels);
        if (!bmp_dir.empty()) WriteBmp(bmp_dir + L"\\" + name + L".bmp", pixels, size);
      }
    }
  }
  if (failures != 0) {
    std::printf("%d checks failed\n", failures);
    return 1;
  }
  std::printf("%zu icons checked (%zu badges, on and off, 16 to 32 px)\n", badges.size() * 8, badges.size());
  return 0;
}
