// Environment access for the settings: u_getenv/u_putenv and the
// environment pass that fills the settings slots left empty by the
// command line.
#pragma once

#include <optional>
#include <string>

namespace qvx {

// Value of an environment variable, else the default, else nothing. An
// empty value counts as not set; an empty default is no default.
// Modes: 1 reports missing/empty/defaulted; -1 as 1 and also exports a
// defaulted value; -2 silent; 0 reports the look-up when debug level 3 is on.
std::optional<std::string> u_getenv(const char* name, int mode, const char* def);

// Puts name=value (or just name when value is null) into the process
// environment from a string that is never freed. Returns the value part
// of the stored string, or null on failure.
const char* u_putenv(const std::string& name, const char* value);


} // namespace qvx
