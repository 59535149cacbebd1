// veltoc import-xkb 'LAYOUT(VARIANT)' [--options OPT,OPT...] [--xkb-root DIR]
//                   [--compose FILE] -o OUT.vkl
//
// The options are spelled as setxkbmap takes them: lv3:ralt_switch,
// compose:menu, caps:internal.
#include <cstdio>
#include <string>
#include <vector>

#include "layoutkit/vkb.h"
#include "layoutkit/xkb_import.h"
#include "veltoc/commands.h"

namespace velto::veltoc {

namespace {

int Usage(const std::string& problem, const char* usage) {
  std::fprintf(stderr, "veltoc: import-xkb: %s\n%s", problem.c_str(), usage);
  return 2;
}

}  // namespace

int ImportXkb(const std::vector<std::string>& args, const char* usage) {
  using namespace velto::layoutkit;
  XkbImportOptions options;
  std::string name, output;
  bool optionsGiven = false, rootGiven = false, composeGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-o" || a == "--options" || a == "--xkb-root" || a == "--compose") {
      if (i + 1 == args.size()) return Usage(a + " needs a value", usage);
      const std::string& value = args[++i];
      if (a == "-o") {
        if (!output.empty()) return Usage("-o given twice", usage);
        output = value;
      } else if (a == "--options") {
        if (optionsGiven) return Usage("--options given twice", usage);
        optionsGiven = true;
        for (std::size_t start = 0; start <= value.size();) {
          const std::size_t comma = value.find(',', start);
          const std::string opt = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
          if (!opt.empty()) options.options.push_back(opt);
          if (comma == std::string::npos) break;
          start = comma + 1;
        }
      } else if (a == "--xkb-root") {
        if (rootGiven) return Usage("--xkb-root given twice", usage);
        rootGiven = true;
        options.root = value;
      } else {
        if (composeGiven) return Usage("--compose given twice", usage);
        composeGiven = true;
        options.compose = value;
      }
    } else if (!a.empty() && a[0] == '-') {
      return Usage("unknown option '" + a + "'", usage);
    } else if (name.empty()) {
      name = a;
    } else {
      return Usage("unexpected argument '" + a + "'", usage);
    }
  }
  if (name.empty()) return Usage("no layout given: LAYOUT or 'LAYOUT(VARIANT)', such as 'fr(bepo)'", usage);
  if (!ParseXkbLayoutName(name, options.layout, options.variant)) {
    return Usage("bad layout '" + name + "': LAYOUT or 'LAYOUT(VARIANT)', such as 'fr(bepo)'", usage);
  }
  if (output.empty()) return Usage("no output file given (-o FILE)", usage);

  Diagnostics diags;
  std::string text;
  if (XkbToVkl(options, text, diags)) WriteFile(output, std::vector<std::uint8_t>(text.begin(), text.end()), diags);
  std::fputs(diags.Text().c_str(), stderr);
  return diags.HasErrors() ? 1 : 0;
}

}  // namespace velto::veltoc
