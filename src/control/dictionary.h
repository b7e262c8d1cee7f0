// Dictionary elements of DICT.CTL: named, typed values that cursors use as
// host variables.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/dictionary.h"

namespace qvx {

extern std::vector<std::unique_ptr<dict_element>> dict_anchor;

// Reads DICT.CTL; 0 on success, 1 when missing or after errors.
int parse_dict();
// 1 "name", 2 "type", 3 "initial", 4 "number", 5 "end", 0 otherwise.
int test_dict_word(std::string_view word);
// Value of a collector-owned environment name (COLL_LOGON, COLL_SERVERID, ...).
std::optional<std::string> u_retrieveEnvVar(std::string_view name);
// Exact, case-sensitive look-up.
dict_element* find_dict_element(std::string_view name);
// Forgets all elements (tests).
void reset_dictionary();

} // namespace qvx
