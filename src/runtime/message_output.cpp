// Where message lines go: the output file (wrapped after COLL_WRAPLINES
// lines per writing routine), standard error for the levels that ask for a
// copy, and standard output with its prefix while no file is open.
#include "runtime/clock.h"
#include "runtime/message_state.h"
#include "runtime/messages.h"

#include <cstdlib>
#include <ctime>

namespace qvx {
namespace msgout {
namespace {

constexpr long kDefaultWrapLines = 30000;

long read_wrap_limit() {
    const char* v = std::getenv("COLL_WRAPLINES");
    if (!v || !*v) return kDefaultWrapLines;
    long n = std::strtol(v, nullptr, 10);
    return n < 0 ? 0 : n;
}

bool put(FILE* f, const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), f) == text.size();
}

// Writes a line to its destinations without the wrap check.
void deliver(const std::string& line, Route route) {
    State& st = state();
    if (FILE* f = st.file.get()) {
        bool ok = put(f, line);
        if (ok && route.flush) ok = std::fflush(f) == 0;
        if (!ok) {
            std::clearerr(f);
            put(stderr, "+ " + line);
            std::fflush(stderr);
        }
        if (route.to_stderr) {
            put(stderr, line);
            std::fflush(stderr);
        }
        return;
    }
    if (route.to_stderr) {
        put(stderr, line);
        std::fflush(stderr);
        return;
    }
    if (!put(stdout, st.stdout_prefix + line)) {
        std::clearerr(stdout);
        put(stderr, "+ " + line);
        std::fflush(stderr);
    } else if (route.flush) {
        std::fflush(stdout);
    }
}

// Runs before every line written to the file: counts the line for its
// routine and, when the count has reached the limit, starts a fresh file
// (rotating the backups) that begins with the wrap notice.
void check_limit(Writer who) {
    State& st = state();
    if (!st.line_limit) st.line_limit = read_wrap_limit();
    if (*st.line_limit <= 0) return;
    long& count = who == Writer::print ? st.print_lines : st.umsg_lines;
    if (count >= *st.line_limit) {
        count = 0;
        st.file.reset();
        u_openPRINTfile(nullptr);
        const std::string text = "       File wrapped -- " + form_time() + "\n";
        deliver(print_line('i', "cgn5000", text), Route{});
    }
    ++count;
}

} // namespace

State& state() {
    static State instance;
    return instance;
}

std::string local_time(const char* format) {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[64];
    size_t n = std::strftime(buf, sizeof buf, format, &tm);
    return std::string(buf, n);
}

int write_line(Writer who, const std::string& line, Route route) {
    if (state().file) check_limit(who);
    deliver(line, route);
    return static_cast<int>(line.size());
}

} // namespace msgout

void reset_messages() { msgout::state() = msgout::State{}; }

} // namespace qvx
