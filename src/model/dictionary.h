// Dictionary element records of DICT.CTL: named, typed values that
// cursors use as host variables.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qvx {

struct dict_element {
    std::string name;            // up to 31 characters
    int16_t data_type = 0;       // 0 character, 2 numeric
    int16_t type_given = 0;      // a type statement was accepted
    int16_t length = 0;          // 1..2048 character, 16 numeric
    std::optional<std::string> initial;
};

} // namespace qvx
