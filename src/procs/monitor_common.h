// What the monitor-counter procedures share: the sample interval and the
// transaction count, the counter reads over SYSMON with their three
// outcomes, and the output line of rates, counts and percentages.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "procs/monitor_procs.h"

namespace qvx {

// One run of a procedure: its message prefix (CACD, ...), the next counter
// read's message number and the inputs every line divides by.
struct MonRun {
    const char* prefix;
    int next_id = 160;   // counter reads number their ids from here, 30 apart
    double interval = 1;
    double xacts = 1;
    explicit MonRun(const char* p) : prefix(p) {}
    std::string id(int number) const;
};

// xacts (ids 0030/0040/0050, 0 becomes 1), then stoptime and starttime
// (0100, 0110); the interval gets a day added when below 1. False: failed.
bool mon_common_inputs(MonRun& run);
// The interval alone (ids 0100, 0110).
bool mon_interval(MonRun& run);
// SYSCCONF.NUMENG into the term variable `engine` (id 0020).
bool mon_numeng(MonRun& run, int& engines);

// The cursor of that name, or null after "Cursor %s not found " (id 0120).
curs* mon_cursor(const MonRun& run, const char* name);
// Walks the cursor's rows, one call of `line` each, and gives back the
// chain the calls filled; null when the walk cannot open, a fetch fails
// (a corruption reported under id 0130), a line fails or the walk does
// not close.
std::optional<ResultChain> mon_walk(const MonRun& run, curs& c,
                                    const std::function<bool(ResultChain&)>& line);

// SUM(FLDVALUE) of the SYSMON rows that `where` selects, with the next
// three ids: no rows counts 1 (W), an error or corruption fails.
std::optional<int> mon_sum(MonRun& run, const std::string& where, const char* name);
// The same with the select list FLDVALUE.
std::optional<int> mon_value(MonRun& run, const std::string& where, const char* name);

// n, or 1 when n is 0.
inline int nonzero(int n) { return n == 0 ? 1 : n; }

// The number layouts of one procedure's groups.
struct MonStyle {
    const char* rate;   // rate per second and per transaction
    const char* count;
    const char* pct;
};
inline constexpr MonStyle kStyle51{"%5.1f", "%7d", "%5.1f"};
inline constexpr MonStyle kStyle82{"%8.2f", "%7d", "%8.2f"};
inline constexpr MonStyle kStyleWide{"%8.2f", "%8d", "%8.2f"};

// An output line: one tab, the fields separated by two tabs, one tab.
class MonLine {
public:
    MonLine(const MonRun& run, const MonStyle& style) : run_(run), style_(style) {}
    MonLine& text(std::string_view s);
    MonLine& num(const char* fmt, double v);
    MonLine& integer(const char* fmt, long v);
    // Rate per second, rate per transaction and the count.
    MonLine& rates(int count);
    // The same and count * 100 / base (a base of 0 taken as 1).
    MonLine& group(int count, int base);
    // The rates, the count and the number 100 (a total's line).
    MonLine& total(int count);
    std::string str() const;
    // Appends the line to the chain.
    void to(ResultChain& chain) const;

private:
    void field(const char* fmt, ...);
    const MonRun& run_;
    MonStyle style_;
    std::string fields_;
};

// A labelled line of a count and its percentage of base (total: the 100).
struct MonPart {
    const char* label;
    int count;
    int base;   // -1 marks a total line
};
void mon_parts(const MonRun& run, const MonStyle& style, const MonPart* parts, size_t n,
               ResultChain& chain);

} // namespace qvx

namespace qvx {

// A counter of a table of reads: its WHERE text and its short name.
struct MonRead {
    std::string where;
    const char* name;
};
// Reads every counter in order into out; false: a read failed.
bool mon_sums(MonRun& run, const MonRead* reads, size_t n, int* out);

} // namespace qvx
