// Environment look-ups and exports for the settings.
#include "runtime/environment.h"

#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace qvx {

namespace {

// Strings handed to putenv belong to the environment for the rest of the
// process. Keeping them here, in a store that is never destroyed, keeps
// them alive and reachable.
std::vector<std::unique_ptr<char[]>>& putenv_store() {
    static auto* store = new std::vector<std::unique_ptr<char[]>>();
    return *store;
}

} // namespace

std::optional<std::string> u_getenv(const char* name, int mode, const char* def) {
    if (!name || !*name) return std::nullopt;
    const bool report = mode == 1 || mode == -1;
    const bool trace = mode == 0 && debug_on(3);

    const char* value = std::getenv(name);
    if (value && *value) {
        if (trace) PRINT('t', "uen0025", "Env var %s=%s.\n", name, value);
        return std::string(value);
    }

    if (report) {
        if (!value)
            PRINT('w', "uen0015", "Environment variable \"%s\" not set\n", name);
        else
            PRINT('w', "uen0010", "Environment variable \"%s\" is not available\n", name);
    } else if (trace) {
        PRINT('t', "uen0026", "Env var %s was not set.\n", name);
    }

    if (!def || !*def) return std::nullopt;
    if (report) PRINT('i', "uen0020", "Using default of %s\n", def);
    if (mode == -1) u_putenv(name, def);
    return std::string(def);
}

const char* u_putenv(const std::string& name, const char* value) {
    if (name.empty() || name.find('=') != std::string::npos) {
        U_MSG("e", "uen0045", "Environment variable \"%s\" could not be set.", name.c_str());
        return nullptr;
    }
    std::string text = name;
    if (value) text.append("=").append(value);

    auto stored = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(stored.get(), text.c_str(), text.size() + 1);
    if (::putenv(stored.get()) != 0) {
        U_MSG("e", "uen0045", "Environment variable \"%s\" could not be set.", name.c_str());
        return nullptr;
    }
    if (debug_on(0)) U_MSG("t", "uen0046", "Set environment variable \"%s\".", name.c_str());

    const char* result = stored.get() + (value ? name.size() + 1 : name.size());
    putenv_store().push_back(std::move(stored));
    return result;
}

} // namespace qvx
