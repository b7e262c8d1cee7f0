// Program identification: the version, build stamp and the module
// identification strings embedded in the program file.
#pragma once

#include <string>
#include <vector>

namespace qvx {

const char* program_version();
const char* build_stamp();

// Identification lines of the modules of this program, as written in the
// banner.
std::vector<std::string> module_id_lines();

// The version dump over program files (the own program when none is
// named); returns the exit status.
int version_dump(const std::vector<std::string>& files);

} // namespace qvx
