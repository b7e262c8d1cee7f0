// The pipes' reply header and the names of the collector's and the
// agents' pipes.
#include "channel/comm_pipe.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "runtime/environment.h"
#include "support/environment_pass.h"
#include "runtime/settings.h"

namespace qvx {

int pipe_count = 0;

std::array<unsigned char, kStreamHeaderSize> serialize_header(const stream_header& h) {
    std::array<unsigned char, kStreamHeaderSize> out{};
    std::memcpy(out.data(), &h.rows, 4);
    std::memcpy(out.data() + 4, &h.len, 4);
    return out;
}

stream_header parse_header(const unsigned char* bytes) {
    stream_header h;
    std::memcpy(&h.rows, bytes, 4);
    std::memcpy(&h.len, bytes + 4, 4);
    return h;
}

namespace {

void ensure_settings() {
    if (env_vars.localtmpdir.empty()) get_envs();
}

std::string optional_part(const std::string& v) { return v.empty() ? std::string() : v + "_"; }

} // namespace

std::string collector_pipe_name() {
    ensure_settings();
    std::string name;
    if (!env_vars.localtmpdir.empty()) name = env_vars.localtmpdir + "/";
    return name + "col_" + optional_part(env_vars.serverid) + optional_part(env_vars.db_type) + "pipe";
}

std::string agent_pipe_prefix() {
    ensure_settings();
    return env_vars.localtmpdir + "/prb_" + optional_part(env_vars.serverid) +
           optional_part(env_vars.db_type) + optional_part(env_vars.hostname);
}

std::string make_agent_pipe_name() {
    const std::string prefix = agent_pipe_prefix();
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    std::string name;
    // Every name taken: after one full turn of the counter the last one is
    // used and the create reports the clash.
    for (int attempt = 0; attempt < 10000; ++attempt) {
        pipe_count = pipe_count < 9999 ? pipe_count + 1 : 0;
        char tail[64];
        std::snprintf(tail, sizeof tail, "%02d%02d%02d%02d%s%04d%s%s", tm.tm_mday, tm.tm_hour, tm.tm_min,
                      tm.tm_sec, "_", pipe_count, "_", "pipe");
        name = prefix + tail;
        if (::access(name.c_str(), F_OK) != 0) break;
    }
    return name;
}

} // namespace qvx
