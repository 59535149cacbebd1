// The playground's module: the real engine over the simulated system, and
// the layout kit, for a page in the browser (tools/playground/web). The page
// hands it the source as it is edited and the keys as they are typed; it
// answers in JSON. A description that does not compile leaves the last good
// one in use.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "layoutkit/badge.h"
#include "layoutkit/diagnostics.h"
#include "layoutkit/klc_import.h"
#include "layoutkit/render.h"
#include "layoutkit/vkb.h"
#include "layoutkit/vkl.h"
#include "layoutkit/xkb_import.h"
#include "shared/bits.h"
#include "shared/keys.h"
#include "shared/region.h"
#include "sim/sim.h"
#include "simrun/session.h"

namespace velto::playground {

namespace {

using emscripten::val;

// The virtual folder of the shipped layouts (embedded at build time).
constexpr char kLayoutsDir[] = "/layouts/";

struct Playground {
  layoutkit::KeyboardDescription description;
  bool compiled = false;
  simrun::SimOutput output;
  std::unique_ptr<simrun::Session> session;
  unsigned layout = 1;
  std::set<std::uint16_t> down;  // the scan codes the page has pressed and not let go
};

Playground& The() {
  static Playground p;
  return p;
}

void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  out += '"';
}

std::string JsonBool(bool b) { return b ? "true" : "false"; }

// "LINE:COL: error: message", and the file where it is another than the one edited.
std::string DiagnosticsJson(const layoutkit::Diagnostics& diags, const std::string& fileName) {
  std::string out = "[";
  bool first = true;
  for (const layoutkit::Diagnostic& d : diags.all()) {
    if (!first) out += ',';
    first = false;
    std::string text = std::to_string(d.line) + ":" + std::to_string(d.column) + ": " +
                       (d.error ? "error: " : "warning: ") + d.message;
    if (d.file != fileName) text += " (in " + d.file + ")";
    out += "{\"line\":" + std::to_string(d.line) + ",\"col\":" + std::to_string(d.column) + ",\"text\":";
    AppendJsonString(out, text);
    out += '}';
  }
  return out + "]";
}

// Brings up a fresh system with the description in use, on the chosen layout.
void Restart() {
  Playground& p = The();
  const bool caps = p.session != nullptr ? sim::Toggled(kVkCapital) : false;
  p.session.reset();
  p.down.clear();
  if (!p.compiled) return;
  p.output = {};
  simrun::SimOptions options;
  options.layout = p.layout;
  options.capsLock = caps;
  p.session = std::make_unique<simrun::Session>(p.description, p.output);
  if (!p.session->Start(options)) p.session.reset();
}

std::string StateJson() {
  const Playground& p = The();
  if (p.session == nullptr || !TheRegion().valid()) {
    return "{\"layout\":" + std::to_string(p.layout) +
           ",\"enabled\":false,\"capsLock\":false,\"deadKey\":false,\"modifiers\":0}";
  }
  const ControlBlock& cb = TheRegion().control();
  const bool dead = cb.pendingDeadKey != 0 || TheRegion().queues().composeState != 0;
  return "{\"layout\":" + std::to_string(cb.currentLayout) + ",\"enabled\":" + JsonBool(cb.enabled != 0) +
         ",\"capsLock\":" + JsonBool(TestBit(cb.leds, kLedCapsLock) != 0) + ",\"deadKey\":" + JsonBool(dead) +
         ",\"modifiers\":" + std::to_string(cb.modifiers) + "}";
}

// The keys that move the caret or delete, which the page carries out itself.
// Enter and Tab need none: their characters come as WM_CHAR.
const char* EditKeyName(std::uint8_t vk) {
  switch (vk) {
    case 0x25: return "LEFT";
    case 0x27: return "RIGHT";
    case 0x08: return "BACK";
    case 0x2E: return "DELETE";
    case 0x24: return "HOME";
    case 0x23: return "END";
    default: return nullptr;
  }
}

std::string Compile(const std::string& source, const std::string& fileName) {
  Playground& p = The();
  layoutkit::KeyboardDescription d;
  layoutkit::Diagnostics diags;
  const bool ok = layoutkit::CompileVklText(source, fileName, d, diags);
  if (ok) {
    p.description = std::move(d);
    p.compiled = true;
    Restart();
  }
  std::string out = "{\"ok\":" + JsonBool(ok) + ",\"diagnostics\":" + DiagnosticsJson(diags, fileName) +
                    ",\"layouts\":[";
  for (unsigned i = 0; i < kLayouts; ++i) {
    if (i != 0) out += ',';
    AppendJsonString(out, p.compiled ? layoutkit::LayoutName(p.description, i) : "");
  }
  return out + "]}";
}

std::string ReadLayout(const std::string& name) {
  if (name.find('/') != std::string::npos) return {};
  std::ifstream in(kLayoutsDir + name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ImportFile(const std::string& fileName, const val& bytes) {
  const std::vector<std::uint8_t> data = emscripten::convertJSArrayToNumberVector<std::uint8_t>(bytes);
  layoutkit::Diagnostics diags;
  std::string source;
  bool ok = false;
  const auto endsWith = [&](std::string_view ext) {
    return fileName.size() >= ext.size() && fileName.compare(fileName.size() - ext.size(), ext.size(), ext) == 0;
  };
  if (endsWith(".klc")) {
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    ok = layoutkit::KlcToVkl(text, fileName, {}, source, diags);
  } else if (endsWith(".vkb")) {
    layoutkit::KeyboardDescription d;
    ok = layoutkit::FromVkb(data, d);
    if (ok) {
      source = layoutkit::DecompileToVkl(d);
    } else {
      diags.Error(fileName, 0, 0, "not a compiled keyboard description");
    }
  } else {
    diags.Error(fileName, 0, 0, "only .vkl, .klc and .vkb files can be opened");
  }
  std::string out = "{\"ok\":" + JsonBool(ok) + ",\"source\":";
  AppendJsonString(out, source);
  return out + ",\"diagnostics\":" + DiagnosticsJson(diags, fileName) + "}";
}

// A layout of xkeyboard-config ("de", "de(neo)") with setxkbmap's options
// (separated by spaces or commas), as .vkl source.
std::string ImportXkb(const std::string& name, const std::string& options) {
  layoutkit::XkbImportOptions o;
  layoutkit::Diagnostics diags;
  std::string source;
  bool ok = layoutkit::ParseXkbLayoutName(name, o.layout, o.variant);
  if (!ok) diags.Error(name, 0, 0, "not a layout name: write LAYOUT or LAYOUT(VARIANT), as de or de(neo)");
  for (std::size_t at = 0; ok && at < options.size();) {
    const std::size_t end = std::min(options.find_first_of(" ,", at), options.size());
    if (end > at) o.options.push_back(options.substr(at, end - at));
    at = end + 1;
  }
  ok = ok && layoutkit::XkbToVkl(o, source, diags);
  std::string out = "{\"ok\":" + JsonBool(ok) + ",\"source\":";
  AppendJsonString(out, source);
  return out + ",\"diagnostics\":" + DiagnosticsJson(diags, name) + "}";
}

// The layouts and variants xkeyboard-config lists: [["de","German"],["de(neo)","German (Neo 2)"],...].
std::string XkbLayouts() {
  std::ifstream in(std::string(layoutkit::kXkbRoot) + "/rules/evdev.lst");
  std::string line, section, out = "[";
  bool first = true;
  while (std::getline(in, line)) {
    if (line.rfind("! ", 0) == 0) {
      section = line.substr(2);
      continue;
    }
    if (section != "layout" && section != "variant") continue;
    const std::size_t start = line.find_first_not_of(' ');
    if (start == std::string::npos) continue;
    const std::size_t end = line.find(' ', start);
    const std::size_t text = end == std::string::npos ? std::string::npos : line.find_first_not_of(' ', end);
    if (text == std::string::npos) continue;
    std::string name = line.substr(start, end - start), description = line.substr(text);
    if (section == "variant") {
      // "  neo             de: German (Neo 2)"
      const std::size_t colon = description.find(':');
      if (colon == std::string::npos) continue;
      name = description.substr(0, colon) + "(" + name + ")";
      description = description.substr(description.find_first_not_of(' ', colon + 1));
    }
    out += first ? "[" : ",[";
    first = false;
    AppendJsonString(out, name);
    out += ',';
    AppendJsonString(out, description);
    out += ']';
  }
  return out + "]";
}

std::string SelectLayout(unsigned layout) {
  Playground& p = The();
  if (layout < kLayouts) {
    p.layout = layout;
    Restart();
  }
  return StateJson();
}

std::string Key(unsigned scan, bool up) {
  Playground& p = The();
  if (p.session == nullptr || scan == 0 || scan >= kScanCodes) {
    return "{\"swallowed\":false,\"out\":[],\"state\":" + StateJson() + "}";
  }
  const auto code = static_cast<std::uint16_t>(scan);
  if (up) {
    p.down.erase(code);
  } else {
    p.down.insert(code);
  }
  const simrun::Played played = p.session->Play({code, up});
  std::string out = "{\"swallowed\":" + JsonBool(played.swallowed) + ",\"out\":[";
  bool first = true;
  for (const simrun::Received& r : played.received) {
    // What the system made of a key it was let have, the browser types itself.
    if (r.fromInput && !played.swallowed) continue;
    const char* key = r.text.empty() ? EditKeyName(r.vk) : nullptr;
    if (r.text.empty() && key == nullptr) continue;
    if (!first) out += ',';
    first = false;
    out += r.text.empty() ? "{\"key\":" : "{\"text\":";
    AppendJsonString(out, r.text.empty() ? std::string_view(key) : std::string_view(r.text));
    out += '}';
  }
  return out + "],\"state\":" + StateJson() + "}";
}

std::string ReleaseAll() {
  Playground& p = The();
  const std::set<std::uint16_t> held = p.down;
  for (const std::uint16_t scan : held) Key(scan, true);
  return StateJson();
}

std::string Render() {
  const Playground& p = The();
  if (!p.compiled) return {};
  layoutkit::RenderOptions options;
  options.layout = p.layout;
  layoutkit::KeyboardState state;
  if (p.session != nullptr && TheRegion().valid()) {
    const ControlBlock& cb = TheRegion().control();
    options.layout = cb.currentLayout;
    state.modifiers = cb.modifiers & 0x3F;
    state.capsLock = TestBit(cb.leds, kLedCapsLock) != 0;
    const std::uint32_t composing = TheRegion().queues().composeState;
    if (composing != 0 || cb.pendingDeadKey != 0) {
      layoutkit::Composition after;
      after.table = composing != 0;
      after.state = composing;
      after.deadByte = static_cast<std::uint8_t>(cb.pendingDeadKey & 0xFF);
      after.caption = "after the dead key";
      options.after = after;
    }
  }
  options.states = {state};
  options.down.assign(p.down.begin(), p.down.end());
  return layoutkit::RenderSvg(p.description, options);
}

val Vkb() {
  const Playground& p = The();
  const std::vector<std::uint8_t> bytes = p.compiled ? layoutkit::ToVkb(p.description) : std::vector<std::uint8_t>{};
  return val(emscripten::typed_memory_view(bytes.size(), bytes.data())).call<val>("slice");
}

}  // namespace

}  // namespace velto::playground

EMSCRIPTEN_BINDINGS(velto_playground) {
  using namespace velto::playground;
  emscripten::function("compile", &Compile);
  emscripten::function("readLayout", &ReadLayout);
  emscripten::function("importFile", &ImportFile);
  emscripten::function("importXkb", &ImportXkb);
  emscripten::function("xkbLayouts", &XkbLayouts);
  emscripten::function("selectLayout", &SelectLayout);
  emscripten::function("key", &Key);
  emscripten::function("releaseAll", &ReleaseAll);
  emscripten::function("state", &StateJson);
  emscripten::function("render", &Render);
  emscripten::function("vkb", &Vkb);
}
