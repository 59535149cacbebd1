// Fuzzes the import of Windows layout sources (.klc) with any bytes. What the
// importer writes must compile: it promises so, and a user who imports a
// layout has nothing else to go on.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "layoutkit/klc_import.h"
#include "layoutkit/vkl.h"

namespace {

using velto::layoutkit::Diagnostics;
using velto::layoutkit::KlcImportOptions;

void ImportAndCompile(std::string_view bytes, const KlcImportOptions& options) {
  std::string vkl;
  Diagnostics diags;
  if (!velto::layoutkit::KlcToVkl(bytes, "input.klc", options, vkl, diags)) return;
  velto::layoutkit::KeyboardDescription d;
  Diagnostics compiled;
  // The source names no file to include: compile it from a directory of its own.
  if (!velto::layoutkit::CompileVklText(vkl, "/nonexistent/imported.vkl", d, compiled)) {
    std::fprintf(stderr,
                 "klc_fuzz: the imported source (layout %u, code page %d, skipping unmappable %d) does not "
                 "compile:\n%s\n--- imported source\n%s\n",
                 options.layout, options.codePage, options.skipUnmappable ? 1 : 0, compiled.Text().c_str(),
                 vkl.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ImportAndCompile(bytes, KlcImportOptions{});
  KlcImportOptions other;  // a code-page layout, without what the code page lacks
  other.layout = 0;
  other.codePage = 1252;
  other.skipUnmappable = true;
  ImportAndCompile(bytes, other);
  return 0;
}
