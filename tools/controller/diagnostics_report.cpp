#include "controller/diagnostics_report.h"

#include <cstdio>

namespace velto::controller {
namespace {

const char* YesNo(bool yes) {
  return yes ? "yes" : "no";
}

std::string Hex8(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
  return text;
}

// A keyboard layout handle as a layout identifier: the language in the low
// word; the high word is the same language for a layout of its own, else a
// variant that the handle alone does not name.
std::string KeyboardLayoutText(std::uint32_t hkl) {
  if (hkl == 0) return "unknown";
  const std::uint32_t language = hkl & 0xFFFF, device = hkl >> 16;
  std::string text = Hex8(device == language ? language : hkl);
  if (device != language) text += " (language " + Hex8(language).substr(4) + ", a variant layout)";
  return text;
}

std::string OrNone(const std::string& text, const char* none) {
  return text.empty() ? none : text;
}

}  // namespace

std::string DiagnosticsReport(const DiagnosticFacts& f) {
  std::string r = "Velto diagnostics\n";
  if (!f.seenOnlyBy.empty()) r += "Note: " + f.seenOnlyBy + "\n";
  r += "\n[programs]\n";
  r += "version: " + f.version + "\n";
  r += "program: " + OrNone(f.program, "unknown") + "\n";
  r += "library: " + OrNone(f.library, "unknown") + "\n";
  r += "companion: " + OrNone(f.companion, "none needed") +
       (f.companionGivenUp ? " (given up after stopping five times in a minute; \"companion\" starts it again)" : "") +
       "\n";

  r += "\n[hooks]\n";
  for (const HookFacts& h : f.hooks) {
    r += h.architecture + ": " + (h.installed ? "installed" : "not installed") +
         (h.holder.empty() ? "" : ", " + h.holder) + "\n";
  }
  if (f.hooks.empty()) r += "unknown\n";

  r += "\n[shared region]\n";
  r += "name: " + f.regionName + "\n";
  r += "size: " + std::to_string(f.regionSize) + " bytes\n";
  r += std::string("mapped by this process: ") + YesNo(f.regionMapped) + "\n";

  r += "\n[layouts]\n";
  r += "source: " + OrNone(f.layoutSource, "unknown") + "\n";
  for (const LayoutFacts& l : f.layouts) {
    r += "layout " + std::to_string(l.number) + ": \"" + l.name + "\", character set " + l.charSet +
         ", badge \"" + l.badge + "\"\n";
  }
  if (!f.layouts.empty()) {
    r += "dead keys: " + std::to_string(f.deadKeys) + ", chains: " + std::to_string(f.chains) +
         ", macros: " + std::to_string(f.macros) + "\n";
  }

  r += "\n[settings]\n";
  r += "file: " + OrNone(f.settingsFile, "unknown") + (f.settingsExist ? "" : " (not there: defaults)") + "\n";
  r += "errors: " + (f.settingsErrors.empty() ? std::string("none") : std::to_string(f.settingsErrors.size())) +
       "\n";
  for (const std::string& e : f.settingsErrors) r += "  " + e + "\n";

  r += "\n[rules]\n";
  for (const std::string& rule : f.rules) r += rule + "\n";
  if (f.rules.empty()) r += "none\n";
  r += "applies now: " + OrNone(f.ruleNow, "none") + "\n";

  r += "\n[program in front]\n";
  const ForegroundFacts& p = f.inFront;
  if (!p.known) {
    r += "none\n";
  } else {
    r += "executable: " + OrNone(p.program, "unknown (cannot be read)") + "\n";
    r += "window class: " + p.windowClass + "\n";
    r += "architecture: " + (p.bits == 0 ? std::string("unknown") : std::to_string(p.bits) + "-bit") + "\n";
    r += std::string("administrator: ") + YesNo(p.elevated) + "\n";
    r += std::string("AppContainer: ") + YesNo(p.appContainer) + "\n";
    r += std::string("Unicode window: ") + YesNo(p.unicodeWindow) + "\n";
  }

  r += "\n[system]\n";
  r += "ANSI code page: " + std::to_string(f.ansiCodePage) + "\n";
  r += "keyboard layout: " + KeyboardLayoutText(f.keyboardLayout) + "\n";
  return r;
}

}  // namespace velto::controller
