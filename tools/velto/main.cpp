// velto.exe: Velto in the notification area, from sign-in to sign-out. A
// program of the Windows subsystem, so no console comes with it.
#include "controller/win32_host.h"

int main() {
  return velto::controller::RunController(true);
}
