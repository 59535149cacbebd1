// The Windows side of bench/wine_latency.sh. Three modes:
//
//   velto-latency-target.exe clock COUNT
//     prints the QueryPerformanceCounter frequency, then COUNT lines
//     "QPC FILETIME" (GetSystemTimePreciseAsFileTime), each flushed at once,
//     2 ms apart: the script reads them as they come and compares them with
//     the Linux clocks. Then "TICKS N": the WM_TIMERs of a 1 ms thread timer
//     in one second.
//
//   velto-latency-target.exe window LOG
//     a focused top-level window ("Velto latency target") that records the
//     keyboard messages it takes from its queue, with the QPC value read as
//     GetMessageW returns them. On a line "quit" on its input (or at its end)
//     it writes "FREQ f" and one line per message to LOG and exits (LPARAM
//     in hexadecimal):
//       C|S|D CODE LPARAM QPC   WM_CHAR, WM_SYSCHAR, WM_DEADCHAR (UTF-16 code)
//       K|U|k|u VK LPARAM QPC   WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYUP
//
//   velto-latency-target.exe watch WINDOW-CLASS EXPECTED-FILE TIMEOUT-MS [POLL-MS [post]]
//     waits until the Edit child of the first window of that class holds
//     exactly the UTF-8 text of EXPECTED-FILE, asking for its length every
//     POLL-MS milliseconds (default 1; a little more, and longer while the
//     window's thread is busy). Prints "ready" once it found the window, then
//     "done FIRST LAST POLLS FREQ POSTED": the QPC of the first poll that saw
//     any text and of the one that saw all of it, the QPC frequency, and
//     with "post" the QPC at which it posted the text to the Edit itself, a
//     WM_CHAR for each character (else 0). Exit status 1 on a timeout
//     ("timeout LENGTH TEXT-SO-FAR"), 2 on bad arguments or no such window.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr UINT kWriteAndQuit = WM_APP + 1;
constexpr const wchar_t* kClassName = L"VeltoLatencyTarget";
constexpr const wchar_t* kTitle = L"Velto latency target";

long long Qpc() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

long long QpcFrequency() {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return f.QuadPart;
}

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

// --- clock --------------------------------------------------------------------------

int ClockMode(int count) {
  std::printf("FREQ %lld\n", QpcFrequency());
  std::fflush(stdout);
  for (int i = 0; i < count; ++i) {
    FILETIME ft;
    const long long qpc = Qpc();
    GetSystemTimePreciseAsFileTime(&ft);
    const unsigned long long filetime =
        static_cast<unsigned long long>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
    std::printf("%lld %llu\n", qpc, filetime);
    std::fflush(stdout);
    Sleep(2);
  }
  // How often a thread timer of 1 ms really ticks, over one second.
  const UINT_PTR timer = SetTimer(nullptr, 0, 1, nullptr);
  const long long end = Qpc() + QpcFrequency();
  int ticks = 0;
  MSG msg;
  while (Qpc() < end && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER) ++ticks;
  }
  KillTimer(nullptr, timer);
  std::printf("TICKS %d\n", ticks);
  return 0;
}

// --- window -------------------------------------------------------------------------

struct Record {
  char kind;
  unsigned code;
  unsigned long long lParam;
  long long qpc;
};

std::vector<Record> records;
const char* logPath = nullptr;
HWND window = nullptr;

bool WriteLog() {
  std::FILE* f = std::fopen(logPath, "wb");
  if (f == nullptr) return false;
  std::fprintf(f, "FREQ %lld\n", QpcFrequency());
  for (const Record& r : records) std::fprintf(f, "%c %u %llx %lld\n", r.kind, r.code, r.lParam, r.qpc);
  return std::fclose(f) == 0;
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case kWriteAndQuit:
      if (!WriteLog()) std::fprintf(stderr, "velto-latency-target: cannot write %s\n", logPath);
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

DWORD WINAPI ReadInput(void*) {
  char line[64];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    if (std::strncmp(line, "quit", 4) == 0) break;
  }
  PostMessageW(window, kWriteAndQuit, 0, 0);
  return 0;
}

char KindOf(UINT msg) {
  switch (msg) {
    case WM_CHAR:
      return 'C';
    case WM_SYSCHAR:
      return 'S';
    case WM_DEADCHAR:
      return 'D';
    case WM_KEYDOWN:
      return 'K';
    case WM_KEYUP:
      return 'U';
    case WM_SYSKEYDOWN:
      return 'k';
    case WM_SYSKEYUP:
      return 'u';
    default:
      return 0;
  }
}

int WindowMode(const char* path) {
  logPath = path;
  records.reserve(1 << 16);
  WNDCLASSW wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kClassName;
  if (RegisterClassW(&wc) == 0) return 2;
  window = CreateWindowExW(0, kClassName, kTitle, WS_OVERLAPPEDWINDOW, 40, 40, 320, 200, nullptr, nullptr,
                           wc.hInstance, nullptr);
  if (window == nullptr) return 2;
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  SetFocus(window);
  CloseHandle(CreateThread(nullptr, 0, ReadInput, nullptr, 0, nullptr));
  std::printf("ready\n");
  std::fflush(stdout);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    const long long now = Qpc();
    if (const char kind = KindOf(msg.message)) {
      records.push_back(
          {kind, static_cast<unsigned>(msg.wParam), static_cast<unsigned long long>(msg.lParam), now});
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}

// --- watch --------------------------------------------------------------------------

std::wstring EditText(HWND edit, LRESULT length) {
  std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1);
  const LRESULT got = SendMessageW(edit, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  return std::wstring(text.data(), static_cast<std::size_t>(got));
}

int WatchMode(const char* windowClass, const char* expectedPath, long timeoutMs, DWORD pollMs, bool post) {
  std::FILE* f = std::fopen(expectedPath, "rb");
  if (f == nullptr) {
    std::fprintf(stderr, "velto-latency-target: cannot read %s\n", expectedPath);
    return 2;
  }
  std::string utf8;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) utf8.append(buffer, n);
  std::fclose(f);
  const std::wstring expected = Widen(utf8);

  HWND top = FindWindowA(windowClass, nullptr);
  HWND edit = top == nullptr ? nullptr : FindWindowExA(top, nullptr, "Edit", nullptr);
  if (edit == nullptr) {
    std::fprintf(stderr, "velto-latency-target: no window of class %s with an Edit\n", windowClass);
    return 2;
  }
  std::printf("ready\n");
  std::fflush(stdout);

  const long long freq = QpcFrequency();
  long long posted = 0;
  if (post) {
    posted = Qpc();
    for (const wchar_t ch : expected) PostMessageW(edit, WM_CHAR, ch, 1);
  }
  const long long deadline = Qpc() + freq * timeoutMs / 1000;
  long long first = 0;
  long polls = 0;
  LRESULT length = 0;
  for (;;) {
    const long long now = Qpc();
    length = SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
    ++polls;
    if (length > 0 && first == 0) first = now;
    if (static_cast<std::size_t>(length) == expected.size() && EditText(edit, length) == expected) {
      std::printf("done %lld %lld %ld %lld %lld\n", first, now, polls, freq, posted);
      return 0;
    }
    if (now > deadline) break;
    Sleep(pollMs);
  }
  std::printf("timeout %ld %s\n", static_cast<long>(length), Narrow(EditText(edit, length)).c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "clock" && argc == 3) return ClockMode(std::atoi(argv[2]));
  if (mode == "window" && argc == 3) return WindowMode(argv[2]);
  if (mode == "watch" && argc >= 5 && argc <= 7 && (argc < 7 || std::strcmp(argv[6], "post") == 0)) {
    const DWORD pollMs = argc >= 6 ? static_cast<DWORD>(std::atol(argv[5])) : 1;
    return WatchMode(argv[2], argv[3], std::atol(argv[4]), pollMs, argc == 7);
  }
  std::fprintf(
      stderr,
      "usage: velto-latency-target.exe clock COUNT\n"
      "       velto-latency-target.exe window LOG\n"
      "       velto-latency-target.exe watch WINDOW-CLASS EXPECTED-FILE TIMEOUT-MS [POLL-MS [post]]\n");
  return 2;
}
