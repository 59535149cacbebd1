#include <cstdio>

#include "veltoc/commands.h"

namespace veltoc {

int Render(const std::vector<std::string>&, const char* usage) {
  std::fprintf(stderr, "veltoc: render is not available yet\n%s", usage);
  return 2;
}

}  // namespace veltoc
