// The diagnostics report (--diagnostics, and "Diagnostics..." in the tray
// menu): plain text made from facts that the host and the controller
// gather, so that it is the same on every system and tested without
// Windows. It holds the state of the programs, never what was typed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velto::controller {

// One architecture's hooks: installed or not, and by which process.
struct HookFacts {
  std::string architecture;  // "64-bit" or "32-bit"
  bool installed = false;
  std::string holder;  // "this process (pid 412)", "companion velto-companion.exe (pid 520)", or why none
};

struct LayoutFacts {
  unsigned number = 0;
  std::string name;     // UTF-8
  std::string charSet;  // "Unicode", "code page 1252", "none (ANSI bytes, code page 1251)"
  std::string badge;
};

// The window in front and its program.
struct ForegroundFacts {
  bool known = false;  // false: no window in front
  std::string program;  // the executable's file name; empty if it cannot be read
  std::string windowClass;
  int bits = 0;  // 32 or 64; 0 when it cannot be told
  bool elevated = false;
  bool appContainer = false;
  bool unicodeWindow = false;
};

struct DiagnosticFacts {
  // Empty when the report describes the instance that runs; else why it
  // describes only what the process that made it sees (the first lines).
  std::string seenOnlyBy;
  std::string version;
  std::string program;    // the controller's executable
  std::string library;    // velto64.dll or velto.dll
  std::string companion;  // the companion's executable; empty where none is needed
  bool companionGivenUp = false;  // it stopped too often and is not started again until asked
  std::vector<HookFacts> hooks;
  std::string regionName;
  std::size_t regionSize = 0;
  bool regionMapped = false;  // this process maps it
  // The description in use; no layouts when none is known.
  std::string layoutSource;  // a file, or "built-in"
  std::vector<LayoutFacts> layouts;
  int deadKeys = 0, chains = 0, macros = 0;
  std::string settingsFile;
  bool settingsExist = false;
  std::vector<std::string> settingsErrors;
  std::vector<std::string> rules;  // as Describe() says each, with the programs it names
  std::string ruleNow;             // the rule that applies now; empty: none
  ForegroundFacts inFront;
  unsigned ansiCodePage = 0;
  std::uint32_t keyboardLayout = 0;  // GetKeyboardLayout of the window in front
};

// The report, one line per fact.
std::string DiagnosticsReport(const DiagnosticFacts& f);

}  // namespace velto::controller
