// veltoctl: Velto in a console, for scripts and for a look at what it does.
// It shares everything with velto.exe, the tray program
// (controller/win32_host.h).
#include "controller/win32_host.h"

int main() {
  return velto::controller::RunController(false);
}
