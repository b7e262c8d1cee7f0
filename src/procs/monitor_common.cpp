// The shared parts of the monitor-counter procedures.
#include "procs/monitor_common.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "expr/select.h"
#include "model/cursor_list.h"
#include "runtime/messages.h"

namespace qvx {

std::string MonRun::id(int number) const {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s%04d", prefix, number);
    return buf;
}

namespace {

// The three outcomes of a counter read; ids first, first + 10, first + 20.
std::optional<int> counter_read(MonRun& run, const char* list, const std::string& where,
                                const char* name, int first) {
    int32_t v = 0;
    int rc = perform_select(list, "SYSMON", &v, where.c_str(), kTargetInt);
    if (rc == 0) return v;
    if (rc == 1) {
        PRINT('e', run.id(first).c_str(), "Bad return from cursor SYSMON\n");
        return std::nullopt;
    }
    if (rc == 100) {
        PRINT('w', run.id(first + 10).c_str(),
              "No rows in cursor SYSMON to get a FLDVALUE for %s: assuming 1\n", name);
        return 1;
    }
    PRINT('s', run.id(first + 20).c_str(), "Corrupted: quitting\n");
    return std::nullopt;
}

bool zepv_column(MonRun& run, const char* column, const char* variable, int id, int32_t& v) {
    if (select_column(column, "ZEPV", &v, kTargetInt, variable, nullptr) == 0) return true;
    PRINT('e', run.id(id).c_str(), "Can't get column ZEPV.%s\n", column);
    return false;
}

} // namespace

std::optional<int> mon_sum(MonRun& run, const std::string& where, const char* name) {
    int first = run.next_id;
    run.next_id += 30;
    return counter_read(run, "SUM(FLDVALUE)", where, name, first);
}

std::optional<int> mon_value(MonRun& run, const std::string& where, const char* name) {
    int first = run.next_id;
    run.next_id += 30;
    return counter_read(run, "FLDVALUE", where, name, first);
}

bool mon_interval(MonRun& run) {
    int32_t stop = 0, start = 0;
    if (!zepv_column(run, "STOPTIME", "stoptime", 100, stop)) return false;
    if (!zepv_column(run, "STARTTIME", "starttime", 110, start)) return false;
    long interval = static_cast<long>(stop) - start;
    if (interval < 1) interval += 86400;
    run.interval = static_cast<double>(interval);
    return true;
}

bool mon_common_inputs(MonRun& run) {
    std::optional<int> x =
        counter_read(run, "FLDVALUE", "GROUPNAME = \"access\" and FLDNAME = \"xacts\" ", "xacts", 30);
    if (!x) return false;
    run.xacts = nonzero(*x);
    return mon_interval(run);
}

bool mon_numeng(MonRun& run, int& engines) {
    int32_t v = 0;
    if (select_column("NUMENG", "SYSCCONF", &v, kTargetInt, "engine", nullptr) != 0) {
        PRINT('e', run.id(20).c_str(), "Can't get column SYSCCONF.NUMENG\n");
        return false;
    }
    engines = v;
    return true;
}

void MonLine::field(const char* fmt, ...) {
    char buf[1000];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    fields_ += fields_.empty() ? "\t" : "\t\t";
    fields_ += buf;
}

MonLine& MonLine::text(std::string_view s) {
    field("%.*s", static_cast<int>(s.size()), s.data());
    return *this;
}

MonLine& MonLine::num(const char* fmt, double v) {
    field(fmt, v);
    return *this;
}

MonLine& MonLine::integer(const char* fmt, long v) {
    field(fmt, static_cast<int>(v));
    return *this;
}

MonLine& MonLine::rates(int count) {
    num(style_.rate, count / run_.interval);
    num(style_.rate, count / run_.xacts);
    return integer(style_.count, count);
}

MonLine& MonLine::group(int count, int base) {
    rates(count);
    return num(style_.pct, count * 100.0 / nonzero(base));
}

MonLine& MonLine::total(int count) {
    rates(count);
    return integer(style_.count, 100);
}

std::string MonLine::str() const {
    std::string line = fields_ + "\t";
    if (line.size() > 999) line.resize(999);   // the line buffer holds 1000 characters
    return line;
}

void MonLine::to(ResultChain& chain) const { chain_internal_res(str(), chain); }

void mon_parts(const MonRun& run, const MonStyle& style, const MonPart* parts, size_t n,
               ResultChain& chain) {
    for (size_t i = 0; i < n; ++i) {
        MonLine line(run, style);
        line.text(parts[i].label);
        if (parts[i].base < 0)
            line.total(parts[i].count);
        else
            line.group(parts[i].count, parts[i].base);
        line.to(chain);
    }
}

} // namespace qvx

namespace qvx {

bool mon_sums(MonRun& run, const MonRead* reads, size_t n, int* out) {
    for (size_t i = 0; i < n; ++i) {
        std::optional<int> v = mon_sum(run, reads[i].where, reads[i].name);
        if (!v) return false;
        out[i] = *v;
    }
    return true;
}

curs* mon_cursor(const MonRun& run, const char* name) {
    curs* c = find_cursor(name);
    if (!c) PRINT('e', run.id(120).c_str(), "Cursor %s not found \n", name);
    return c;
}

std::optional<ResultChain> mon_walk(const MonRun& run, curs& c, const std::function<bool(ResultChain&)>& line) {
    SelectWalk walk;
    if (open_select_cursor(c, walk) != 0) return std::nullopt;
    ResultChain chain;
    for (;;) {
        const int rc = fetch_next_row(c, walk);
        if (rc == 100) break;
        if (rc == -1) return std::nullopt;
        if (rc != 0) PRINT('s', run.id(130).c_str(), "Process for cursor %s corrupted\n", c.cur_name.c_str());
        if (rc != 0 || !line(chain)) {
            close_select_cursor(c, walk);
            return std::nullopt;
        }
    }
    if (close_select_cursor(c, walk) != 0) return std::nullopt;
    return chain;
}

} // namespace qvx
