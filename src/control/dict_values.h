// Initial values of dictionary elements: where a value comes from ("-parm"
// dictionary parameters, "%name" environment names, defaults) and the
// form it is stored in. Internal to the DICT.CTL parser.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qvx::dict {

// Resolves the argument of an initial statement (the rest of the
// statement, trailing blanks included). nullopt when the element gets no
// initial value (a warning was given where one is due).
std::optional<std::string> resolve_initial(std::string_view arg);

// Stored form of a value: character data without its single quotes,
// numeric data right-aligned in a field of width characters. nullopt when
// a numeric value does not fit its field.
std::optional<std::string> store_initial(const std::string& value, int data_type, int width);

} // namespace qvx::dict
