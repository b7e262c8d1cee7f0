#include "control/dict_parms.h"

#include <strings.h>

namespace qvx {

namespace {
std::vector<dict_parm> parms;
}

void add_dict_parm(std::string name, std::string value) {
    parms.push_back({std::move(name), std::move(value)});
}

std::optional<std::string> search_dict_parm(std::string_view name) {
    for (const auto& p : parms) {
        if (p.name.size() == name.size() &&
            strncasecmp(p.name.data(), name.data(), name.size()) == 0)
            return p.value;
    }
    return std::nullopt;
}

const std::vector<dict_parm>& dict_parms() { return parms; }

void reset_dict_parms() { parms.clear(); }

} // namespace qvx
