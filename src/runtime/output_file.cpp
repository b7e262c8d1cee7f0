// The message output file: its name from the settings, the numbered
// backups rotated on every open, and the one retry under "colx.out".
#include "runtime/message_state.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace qvx {
namespace {

constexpr const char* kDefaultSuffix = "col.out";

// COLL_NUMOUTBAK: 0..9 backups, or up to 9999 when written negative
// (below -9); unset means 1, or 5 when debug level 4 is on.
int read_backup_count() {
    const char* v = std::getenv("COLL_NUMOUTBAK");
    if (!v || !*v) return debug_on(4) ? 5 : 1;
    long n = std::strtol(v, nullptr, 10);
    n = std::max(-100000L, std::min(n, 100000L));
    if (n < -9)
        n = -n;
    else if (n < 0)
        n = 0;
    else if (n > 9)
        n = 9;
    return static_cast<int>(std::min(n, 9999L));
}

} // namespace

std::string output_file_name(const std::string& suffix) {
    const EnvVars& e = env_vars;
    std::string name;
    if (!e.coll_out.empty()) name += e.coll_out + "/";
    if (!e.hostname.empty()) name += e.hostname + "_";
    if (!e.db_type.empty()) name += e.db_type.substr(1) + "_";
    if (!e.serverid.empty()) name += e.serverid + "_";
    return name + suffix;
}

namespace {

// Backup n of a file: its last character replaced by the decimal number
// (col.out -> col.ou1). From backup 10 on the number takes more than one
// character and simply replaces the last one all the same (col.ou10).
std::string backup_name(const std::string& path, int n) {
    return path.substr(0, path.size() - 1) + std::to_string(n);
}

// Drops the oldest backup, shifts the others up by one and makes the
// current file backup 1. Missing files are no error.
void rotate_backups(const std::string& path, int backups) {
    if (backups <= 0 || path.empty()) return;
    std::remove(backup_name(path, backups).c_str());
    for (int i = backups - 1; i >= 1; --i)
        std::rename(backup_name(path, i).c_str(), backup_name(path, i + 1).c_str());
    std::rename(path.c_str(), backup_name(path, 1).c_str());
}

} // namespace

FILE* u_openPRINTfile(const char* suffix) {
    msgout::State& st = msgout::state();
    if (!st.backups) st.backups = read_backup_count();
    st.file.reset();

    const bool default_suffix = !suffix || !*suffix;
    const std::string path = (default_suffix && !st.path.empty())
                                 ? st.path
                                 : output_file_name(default_suffix ? kDefaultSuffix : suffix);
    rotate_backups(path, *st.backups);
    if (FILE* f = std::fopen(path.c_str(), "w")) {
        st.file.reset(f);
        st.path = path;
        return f;
    }

    st.path.clear();
    if (++st.open_failures > 1) return nullptr;
    std::fprintf(stdout, "CAT1995E - Can't open message ouput file: %s\n", path.c_str());
    std::fflush(stdout);
    return u_openPRINTfile("colx.out");
}

bool print_file_open() { return msgout::state().file != nullptr; }

const std::string& print_file_path() { return msgout::state().path; }

void use_message_sink(FILE* sink, bool milestones) {
    msgout::State& st = msgout::state();
    st.milestones_to_stderr = milestones;
    st.file.reset(sink);
    st.line_limit = 0;  // never wrap into a new output file
}

void close_PRINT() {
    msgout::State& st = msgout::state();
    if (st.file) std::fflush(st.file.get());
    st.file.reset();
}

} // namespace qvx
