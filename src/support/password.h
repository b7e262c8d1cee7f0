// Scrambled database passwords: recognises the plain, current and old
// scrambled forms and returns the plain password.
#pragma once

#include <optional>
#include <string>

namespace qvx {

// The plain password for a password as written in the settings or
// PROCESS.CTL; nothing for a null password or "NONE"; an error text for a
// scrambled form that does not decode.
std::optional<std::string> fok(const char* password);

} // namespace qvx
