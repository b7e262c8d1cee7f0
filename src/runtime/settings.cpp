#include "runtime/settings.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace qvx {

EnvVars env_vars;
std::string disable_cursors;

std::string db_type_code(const std::string& db_type) {
    if (db_type.empty()) return "und";
    std::string code = db_type.substr(0, 3);
    for (auto& c : code) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    static constexpr std::array<const char*, 10> kept = {"zep", "zeb", "zec", "zef", "zeg",
                                                         "zej", "zeh", "qvx", "zem", "zek"};
    if (std::find(kept.begin(), kept.end(), code) != kept.end()) return code;
    if (code == "syb") return "zep";
    if (code == "ora") return "zeb";
    if (code == "inf") return "zec";
    if (code == "sql") return "zef";
    if (code == "rdx") return "zek";
    return "unk";
}

void reset_settings() {
    env_vars = EnvVars{};
    disable_cursors.clear();
}

} // namespace qvx
