// Dictionary parameters: name/value pairs from the command line and the
// settings, read by DICT.CTL to fill initial values. New parameters go to
// the tail; a look-up walks from the head comparing names without regard
// to case, so the first parameter of a name wins.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvx {

struct dict_parm {
    std::string name;
    std::string value;
};

void add_dict_parm(std::string name, std::string value);
std::optional<std::string> search_dict_parm(std::string_view name);
const std::vector<dict_parm>& dict_parms();
void reset_dict_parms();

} // namespace qvx
