// Fuzzes the layout language's compiler with any text. Whatever compiles
// must survive the decompiler: its source compiles again to the same bytes.
//
// `include` lines read files. The text is compiled as a file of a private
// temporary directory that holds only a copy of us.vkl (which the shipped
// layouts include), and a text that includes anything with a slash, a
// backslash or a '%' (a Compose file's %H, %L, %S) in it is not tried: no
// input reaches other files, devices or pipes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "layoutkit/vkb.h"
#include "layoutkit/vkl.h"

namespace {

using velto::layoutkit::Diagnostics;
using velto::layoutkit::KeyboardDescription;

// The name the input is compiled under; no such file exists.
const std::string& InputName() {
  static const std::string name = [] {
    char dir[] = "/tmp/velto-vkl-fuzz-XXXXXX";
    if (::mkdtemp(dir) == nullptr) {
      std::perror("vkl_fuzz: mkdtemp");
      std::abort();
    }
    std::vector<std::uint8_t> us;
    Diagnostics diags;
    const std::string from = VELTO_SOURCE_DIR "/layouts/us.vkl";
    const std::string to = std::string(dir) + "/us.vkl";
    if (!velto::layoutkit::ReadFile(from, us, diags) || !velto::layoutkit::WriteFile(to, us, diags)) {
      std::fprintf(stderr, "vkl_fuzz: %s", diags.Text().c_str());
      std::abort();
    }
    static std::string copy = to;
    std::atexit([] {
      std::remove(copy.c_str());
      ::rmdir(copy.substr(0, copy.rfind('/')).c_str());
    });
    return std::string(dir) + "/input.vkl";
  }();
  return name;
}

bool MayReadOtherFiles(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower.find("include") != std::string::npos && lower.find_first_of("/\\%") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (MayReadOtherFiles(text)) return 0;
  KeyboardDescription first;
  Diagnostics diags;
  if (!velto::layoutkit::CompileVklText(text, InputName(), first, diags)) return 0;

  const std::string source = velto::layoutkit::DecompileToVkl(first);
  KeyboardDescription second;
  Diagnostics again;
  if (!velto::layoutkit::CompileVklText(source, "decompiled.vkl", second, again)) {
    std::fprintf(stderr, "vkl_fuzz: the decompiled source does not compile:\n%s\n--- source\n%s\n",
                 again.Text().c_str(), source.c_str());
    std::abort();
  }
  const std::vector<std::uint8_t> a = velto::layoutkit::ToVkb(first);
  const std::vector<std::uint8_t> b = velto::layoutkit::ToVkb(second);
  if (a != b) {
    std::size_t at = 0;
    while (a[at] == b[at]) ++at;
    std::fprintf(stderr, "vkl_fuzz: compiled again, the bytes differ first at offset %zu (%02x, then %02x)\n"
                 "--- decompiled source\n%s\n", at, a[at], b[at], source.c_str());
    std::abort();
  }
  return 0;
}
