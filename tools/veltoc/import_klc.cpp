#include <cstdio>

#include "veltoc/commands.h"

namespace veltoc {

int ImportKlc(const std::vector<std::string>&, const char* usage) {
  std::fprintf(stderr, "veltoc: import-klc is not available yet\n%s", usage);
  return 2;
}

}  // namespace veltoc
