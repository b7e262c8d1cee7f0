#include "control/dict_values.h"

#include <cstdlib>

#include "control/dict_parms.h"
#include "control/dictionary.h"
#include "runtime/messages.h"

namespace qvx::dict {

namespace {

bool strippable(char c) { return c == ' ' || c == ',' || c == '\'' || c == '"'; }

// The default written after a "-parm" or "%name" that has no value: the
// rest of the text with blanks, commas and quotes stripped from both ends.
// The blanks that end the statement stay behind it, as they do behind a
// value written directly. nullopt when nothing is left.
std::optional<std::string> default_after(std::string_view rest) {
    size_t b = 0;
    while (b < rest.size() && strippable(rest[b])) ++b;
    size_t e = rest.size();
    while (e > b && strippable(rest[e - 1])) --e;
    if (b == e) return std::nullopt;
    size_t trailing = 0;
    while (trailing < rest.size() && rest[rest.size() - 1 - trailing] == ' ') ++trailing;
    std::string value(rest.substr(b, e - b));
    value.append(trailing, ' ');
    return value;
}

} // namespace

std::optional<std::string> resolve_initial(std::string_view arg) {
    std::string value(arg);

    // "-name": a dictionary parameter, with an optional default.
    if (!value.empty() && value[0] == '-') {
        const size_t delim = value.find_first_of(" ,", 1);
        if (delim == std::string::npos) return std::nullopt;
        if (auto parm = search_dict_parm(std::string_view(value).substr(1, delim - 1))) {
            value = *parm;
        } else if (auto def = default_after(std::string_view(value).substr(delim + 1))) {
            value = *def;
        }
        // Neither parameter nor default: the text stands as written.
    }

    // "%name": an environment name, with an optional default.
    if (!value.empty() && value[0] == '%') {
        const size_t delim = value.find_first_of(" ,", 1);
        const std::string name =
            value.substr(1, delim == std::string::npos ? std::string::npos : delim - 1);
        std::optional<std::string> found = u_retrieveEnvVar(name);
        if (!found) {
            const char* env = std::getenv(name.c_str());
            if (env && *env) found = env;
        }
        if (found) {
            value = *found;
        } else {
            std::optional<std::string> def;
            if (delim != std::string::npos)
                def = default_after(std::string_view(value).substr(delim + 1));
            if (!def) {
                PRINT('w', "pdc2150", "Environmental variable %s not found\n", name.c_str());
                return std::nullopt;
            }
            value = *def;
        }
    }
    return value;
}

std::optional<std::string> store_initial(const std::string& value, int data_type, int width) {
    if (data_type != 2) {
        if (value.empty() || value[0] != '\'') return value;
        std::string quoted = value;
        quoted[quoted.rfind('\'')] = ' ';
        if (quoted.size() < 2) return std::string();
        return quoted.substr(1, quoted.size() - 2);
    }

    // Numeric: the first word, quotes taken for blanks, right-aligned.
    std::string text = value;
    for (char& c : text)
        if (c == '\'' || c == '"') c = ' ';
    const size_t b = text.find_first_not_of(' ');
    std::string word;
    if (b != std::string::npos) word = text.substr(b, text.find(' ', b) - b);
    const size_t field = width > 0 ? static_cast<size_t>(width) : 0;
    if (word.size() > field) return std::nullopt;
    return std::string(field - word.size(), ' ') + word;
}

} // namespace qvx::dict
