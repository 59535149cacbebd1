// An ANSI window (class registered with RegisterClassA, window made with
// CreateWindowA) that writes each WM_CHAR it receives to FILE, as the
// character code in hex, one a line. The system hands such a window the
// characters of a Unicode WM_CHAR converted to its ANSI code page, so the
// file shows what an old program gets from a layout delivered as Unicode.
// Prints READY once the window is up; ends when it is closed.
// Usage: velto-ansi-window.exe FILE
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>

namespace {

std::FILE* out = nullptr;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CHAR:
      std::fprintf(out, "%02X\n", static_cast<unsigned>(wParam));
      std::fflush(out);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velto-ansi-window.exe FILE\n");
    return 2;
  }
  out = std::fopen(argv[1], "w");
  if (out == nullptr) {
    std::fprintf(stderr, "velto-ansi-window: cannot write %s\n", argv[1]);
    return 1;
  }
  WNDCLASSA wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = "VeltoAnsiWindow";
  if (RegisterClassA(&wc) == 0) return 1;
  HWND window = CreateWindowA(wc.lpszClassName, "Velto ANSI window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100,
                              400, 300, nullptr, nullptr, wc.hInstance, nullptr);
  if (window == nullptr || IsWindowUnicode(window)) {
    std::fprintf(stderr, "velto-ansi-window: no ANSI window\n");
    return 1;
  }
  std::printf("READY\n");
  std::fflush(stdout);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  std::fclose(out);
  return 0;
}
