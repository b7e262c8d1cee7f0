// What the monitor-counter procedures ought to answer, worked out with
// SQLite over the same counters: each figure is a SUM over a table
// m(g, f, v) (group, field name, value) under the condition that states
// what the figure means, and the lines are laid out field by field.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

namespace qvxtest {

struct MonitorSample {
    sqlite3* db = nullptr;   // holds m(g TEXT, f TEXT, v INTEGER)
    double interval = 1;     // seconds of the sample
    double xacts = 1;        // transactions (0 taken as 1)
    int engines = 0;
    struct Cache {
        std::string name, group;
    };
    std::vector<Cache> caches;
    struct Device {
        std::string name, osname, group;
    };
    std::vector<Device> devices;
};

// SUM(v) of the counters `where` selects (an SQL condition over g and f);
// a condition that selects no counter gives 1, as a missing counter does.
int monitor_sum(const MonitorSample& s, const std::string& where);

using Fields = std::vector<std::string>;

// The lines procedure `proc` ("ZEPCACD", ..., "ZEPTSK2") answers for the
// sample, each as its fields (printf layouts applied, blanks kept).
std::vector<Fields> monitor_expected(const std::string& proc, const MonitorSample& s);

// The output line of those fields: one tab, the fields separated by two
// tabs, one tab.
std::string monitor_line(const Fields& fields);

// The twelve procedure names.
const std::vector<std::string>& monitor_procedures();

} // namespace qvxtest
