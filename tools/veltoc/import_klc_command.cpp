// veltoc import-klc FILE.klc -o OUT.vkl [--layout N] [--codepage CP] [--skip-unmappable]
//
// Without --codepage the layout is `unicode`; --codepage locale takes the
// code page of the file's LOCALEID.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "layoutkit/codepage.h"
#include "layoutkit/klc_import.h"
#include "layoutkit/text.h"
#include "layoutkit/vkb.h"
#include "veltoc/commands.h"

namespace velto::veltoc {

namespace {

int Usage(const std::string& problem, const char* usage) {
  std::fprintf(stderr, "veltoc: import-klc: %s\n%s", problem.c_str(), usage);
  return 2;
}

}  // namespace

int ImportKlc(const std::vector<std::string>& args, const char* usage) {
  using namespace velto::layoutkit;
  KlcImportOptions options;
  std::string input, output;
  bool layoutGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-o" || a == "--layout" || a == "--codepage") {
      if (i + 1 == args.size()) return Usage(a + " needs a value", usage);
      const std::string& value = args[++i];
      const std::optional<unsigned> n = ParseDecimal(value, 5);
      if (a == "-o") {
        if (!output.empty()) return Usage("-o given twice", usage);
        output = value;
      } else if (a == "--layout") {
        if (layoutGiven) return Usage("--layout given twice", usage);
        if (!n || *n > 3) return Usage("bad layout number '" + value + "': 0 or 1", usage);
        if (*n > 1)
          return Usage("layouts 2 and 3 have no keys of their own: import into layout 0 or 1", usage);
        options.layout = *n;
        layoutGiven = true;
      } else {
        if (options.codePage != 0) return Usage("--codepage given twice", usage);
        if (value == "locale") {
          options.codePage = kCodePageOfLocale;
        } else if (!n || !IsSupportedCodePage(static_cast<int>(*n))) {
          return Usage("unknown code page '" + value + "': use 874, 1250 to 1258 or locale", usage);
        } else {
          options.codePage = static_cast<int>(*n);
        }
      }
    } else if (a == "--skip-unmappable") {
      options.skipUnmappable = true;
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      return Usage("unknown option '" + a + "'", usage);
    } else if (input.empty()) {
      input = a;
    } else {
      return Usage("unexpected argument '" + a + "'", usage);
    }
  }
  if (input.empty()) return Usage("no input file given", usage);
  if (output.empty()) return Usage("no output file given (-o FILE)", usage);

  Diagnostics diags;
  std::vector<std::uint8_t> bytes;
  std::string text;
  if (ReadFile(input, bytes, diags) &&
      KlcToVkl(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), input, options,
               text, diags)) {
    WriteFile(output, std::vector<std::uint8_t>(text.begin(), text.end()), diags);
  }
  std::fputs(diags.Text().c_str(), stderr);
  return diags.HasErrors() ? 1 : 0;
}

}  // namespace velto::veltoc
