// Prints the text of another program's edit control as UTF-8: the first
// top-level window of the class (and title) given, then its child of the
// second class (by default "Edit"), read with WM_GETTEXT.
// Usage: velto-window-text.exe WINDOW-CLASS [CHILD-CLASS [WINDOW-TITLE]]
// Exit status 1 when no such window exists.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: velto-window-text.exe WINDOW-CLASS [CHILD-CLASS [WINDOW-TITLE]]\n");
    return 2;
  }
  HWND top = FindWindowA(argv[1], argc > 3 ? argv[3] : nullptr);
  HWND edit = top == nullptr ? nullptr : FindWindowExA(top, nullptr, argc > 2 ? argv[2] : "Edit", nullptr);
  if (edit == nullptr) return 1;
  const LRESULT length = SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
  std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1);
  SendMessageW(edit, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), -1, nullptr, 0, nullptr, nullptr);
  std::vector<char> utf8(static_cast<std::size_t>(bytes));
  WideCharToMultiByte(CP_UTF8, 0, text.data(), -1, utf8.data(), bytes, nullptr, nullptr);
  std::fwrite(utf8.data(), 1, utf8.size() - 1, stdout);
  return 0;
}
