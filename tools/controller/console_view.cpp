#include "controller/console_view.h"

#include <cstdio>

namespace velto::controller {
namespace {

std::function<void(const Command&)>* g_post = nullptr;

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  (*g_post)(Command::Of(Command::Kind::kQuit));
  return TRUE;
}

// Holds a lock while it lives.
class Locked {
 public:
  explicit Locked(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
  ~Locked() { ReleaseSRWLockExclusive(&lock_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  SRWLOCK& lock_;
};

}  // namespace

void ConsoleView::TakeCommands(std::function<void(const Command&)> post) {
  post_ = std::move(post);
  g_post = &post_;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  Say("Type quit, or press Ctrl+C, to stop.");
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return;
  CloseHandle(CreateThread(nullptr, 0, ReadInput, this, 0, nullptr));
}

// Reads commands until the end of the input, which leaves Velto running
// (a scheduled task or "< NUL" gives none).
DWORD WINAPI ConsoleView::ReadInput(void* view) {
  auto* self = static_cast<ConsoleView*>(view);
  char line[1024];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    if (s.empty()) continue;
    if (const auto command = ParseCommand(s)) {
      self->post_(*command);
    } else {
      self->Say(UnknownCommand(s));
    }
  }
  return 0;
}

void ConsoleView::Say(const std::string& line) {
  const Locked locked(writing_);
  log_.Write(line);
  if (o_.quiet) return;
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void ConsoleView::Problems(const std::string& summary, const std::vector<std::string>& lines) {
  const Locked locked(writing_);
  log_.Write(summary);
  std::fprintf(stderr, "veltoctl: %s\n", summary.c_str());
  for (const std::string& l : lines) {
    log_.Write(l);
    std::fprintf(stderr, "%s\n", l.c_str());
  }
  std::fflush(stderr);
}

void ConsoleView::ShowErrors() {
  if (c_->Errors().empty()) return Say("The layout file has no errors.");
  for (const std::string& l : c_->Errors()) Say(l);
}

void ConsoleView::Show() {
  Say("Velto is running: " + c_->StateLine() + ".");
}

}  // namespace velto::controller
