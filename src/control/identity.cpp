// The collector's identity: logon id, password and server id shared by
// the settings and the "collector" distributor, and the host identity.
#include "control/identity.h"

#include <algorithm>
#include <array>
#include <string>

#include "control/distributor.h"
#include "runtime/settings.h"

namespace qvx {

namespace {

// Copies text into a blank-padded fixed field (no terminator).
template <size_t N>
void fill_padded(std::array<char, N>& field, const std::string& text) {
    field.fill(' ');
    std::copy_n(text.begin(), std::min(text.size(), N), field.begin());
}

void take_setting(std::string& setting, std::string& field, size_t width) {
    if (setting.empty())
        setting = field;
    else
        field = setting.substr(0, width);
}

} // namespace

void set_collector_identity() {
    if (collector_at) {
        take_setting(env_vars.logonid, collector_at->logonid, 33);
        take_setting(env_vars.password, collector_at->password, 100);
        take_setting(env_vars.serverid, collector_at->serverid, 33);
    }
    fill_padded(machine_id.host, env_vars.hostname);
    fill_padded(machine_id.server, env_vars.serverid);
    std::string third(machine_id.third.begin(), machine_id.third.end());
    if (third.find_first_not_of(std::string(1, '\0')) == std::string::npos) third.clear();
    fill_padded(machine_id.third, third);
}

} // namespace qvx
