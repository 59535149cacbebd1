// The veltoc commands that live in files of their own. Each takes the
// arguments after the command's name and returns the exit status: 0 done,
// 1 errors in the input (nothing written), 2 bad arguments.
#pragma once

#include <string>
#include <vector>

namespace velto::veltoc {

int ImportKlc(const std::vector<std::string>& args, const char* usage);
int ImportXkb(const std::vector<std::string>& args, const char* usage);
int Render(const std::vector<std::string>& args, const char* usage);

}  // namespace velto::veltoc
