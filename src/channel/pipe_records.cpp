// Wire records, pipe names and the wait time-out of the pipe channel.
#include "channel/pipe_channel.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "runtime/environment.h"
#include "support/environment_pass.h"
#include "runtime/settings.h"

namespace qvx {

int pipe_count = 0;

namespace {

void put16(std::vector<unsigned char>& buf, size_t off, int16_t v) { std::memcpy(buf.data() + off, &v, 2); }

} // namespace

std::vector<unsigned char> serialize_request(const std::string& name, const std::string& reply_pipe,
                                             const std::vector<std::string>& parms) {
    const std::string cut = name.substr(0, kMaxCursorName);
    size_t total = 4 + cut.size() + reply_pipe.size() + 1 + 2;
    for (const auto& p : parms)
        if (!p.empty()) total += p.size() + 1;
    std::vector<unsigned char> buf(total, 0);
    put16(buf, 0, static_cast<int16_t>(total > INT16_MAX ? INT16_MAX : total));
    put16(buf, 2, static_cast<int16_t>(cut.size()));
    size_t off = 4;
    std::memcpy(buf.data() + off, cut.data(), cut.size());
    off += cut.size();
    std::memcpy(buf.data() + off, reply_pipe.data(), reply_pipe.size());
    off += reply_pipe.size() + 1;
    for (const auto& p : parms) {
        if (p.empty()) continue;
        std::memcpy(buf.data() + off, p.data(), p.size());
        off += p.size() + 1;
    }
    return buf;  // the last two bytes stay zero
}

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

int get_timeout_value(const char* variable, int def) {
    const char* text = std::getenv(variable);
    if (!text || !*text) return def;
    errno = 0;
    const long v = std::strtol(text, nullptr, 10);
    if (v == 0 && errno == 0) return def;
    if (v < 0 || v > 600 || errno == ERANGE) return 600;
    return static_cast<int>(v);
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
