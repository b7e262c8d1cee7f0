// The request record, the anchor and its blocks, the request parameters
// and the words: the parts both transports and the dispatcher share.
#include "channel/comm_anchor.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

namespace qvx {

int wait_timeout = 0;

namespace {

void default_sleep(unsigned seconds) { std::this_thread::sleep_for(std::chrono::seconds(seconds)); }

void put16(std::vector<unsigned char>& buf, size_t off, int16_t v) { std::memcpy(buf.data() + off, &v, 2); }

} // namespace

std::function<void(unsigned)> comm_sleep = default_sleep;

void reset_comm_timing() {
    wait_timeout = 0;
    comm_sleep = default_sleep;
}

// ---------------------------------------------------------------- record

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

int16_t request_get16(const unsigned char* p) {
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
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

// ---------------------------------------------------------------- anchor

void PipeFd::reset(int fd) {
    if (fd_ > 0) ::close(fd_);
    fd_ = fd;
}

comm_anchor::~comm_anchor() = default;

// ------------------------------------------------------- either transport

void for_each_request_parm(const std::vector<unsigned char>& buf,
                           const std::function<void(const char*, size_t)>& take) {
    if (buf.size() < 4) return;
    const long len = std::min<long>(request_get16(buf.data()), static_cast<long>(buf.size()));
    const long name_len = request_get16(buf.data() + 2);
    if (name_len < 0 || 4 + name_len >= len) return;
    const auto path_end = std::find(buf.begin() + 4 + name_len, buf.begin() + len, 0);
    if (path_end == buf.begin() + len) return;
    const long path_len = static_cast<long>(path_end - buf.begin()) - 4 - name_len;
    size_t pos = static_cast<size_t>(path_end - buf.begin()) + 1;
    long remaining = len - name_len - path_len - 5;
    while (remaining > 0 && pos < static_cast<size_t>(len)) {
        const auto end = std::find(buf.begin() + static_cast<long>(pos), buf.begin() + len, 0);
        if (end == buf.begin() + len) break;
        const size_t n = static_cast<size_t>(end - buf.begin()) - pos;
        take(reinterpret_cast<const char*>(buf.data() + pos), n);
        remaining -= static_cast<long>(n + 1);
        pos += n + 1;
    }
}

void read_request_parms(comm_anchor& a, const std::vector<unsigned char>& buf) {
    for (auto& p : a.parms) p.clear();
    a.parm_count = 0;
    for_each_request_parm(buf, [&a](const char* text, size_t n) {
        if (a.parm_count < kParmSlots)  // parameters beyond the slots are dropped
            a.parms[static_cast<size_t>(a.parm_count++)].assign(text, n);
    });
}

void build_request_blocks(comm_anchor& a, const char* list) {
    const std::string_view given = list ? list : "";
    const std::string_view names = given.substr(0, 99);
    if (names == a.curs_names) return;  // the usual case: no copy
    a.curs_names = names;
    a.c_list.clear();
    std::vector<std::string> parms;
    for (const auto& p : a.parms)
        if (!p.empty()) parms.push_back(p);
    size_t pos = 0;
    for (;;) {
        std::string name = get_curs_name(a.curs_names, pos);
        if (name.empty()) break;
        curs_list block;
        block.pipe_buf = serialize_request(name, a.probe_pipe, parms);
        block.name = std::move(name);
        a.c_list.push_back(std::move(block));
    }
}

std::string get_curs_name(const std::string& list, size_t& pos) {
    while (pos < list.size() && (list[pos] == ' ' || list[pos] == ',')) ++pos;
    const size_t start = pos;
    while (pos < list.size() && list[pos] != ' ' && list[pos] != ',' && pos - start < kMaxCursorName) ++pos;
    return list.substr(start, pos - start);
}

// ------------------------------------------------------------------ words

int comm_function_code(const std::string& function) {
    // Compared in place: the word is looked up on every call of a request.
    static constexpr std::pair<std::string_view, int> words[] = {{"init", 1}, {"initc", 2}, {"get", 3},
                                                                 {"put", 4},  {"term", 5},  {"shut", 6},
                                                                 {"initsm", 7}};
    auto same = [&function](std::string_view w) {
        if (function.size() != w.size()) return false;
        for (size_t i = 0; i < w.size(); ++i)
            if ((function[i] >= 'A' && function[i] <= 'Z' ? function[i] - 'A' + 'a' : function[i]) != w[i])
                return false;
        return true;
    };
    for (const auto& [w, c] : words)
        if (same(w)) return c;
    return 0;
}

bool comm_uses_shm() {
    const char* v = std::getenv("COLL_USESHM");
    return !v || v[0] == '1';
}

} // namespace qvx
