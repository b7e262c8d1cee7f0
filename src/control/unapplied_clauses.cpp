#include "control/unapplied_clauses.h"

#include <array>

#include "runtime/messages.h"

namespace qvx {

namespace {

struct Unapplied {
    const char* keyword;
    bool (*used)(const curs& c);
};

// The clause kinds still waiting for their processing; an entry goes
// when its clause kind takes effect.
constexpr std::array kUnapplied{
    // A script is what a fetch exit runs.
    Unapplied{"script", [](const curs& c) { return c.script && !c.fetch_exit; }},
};

} // namespace

int report_unapplied_clauses(const curs& c) {
    int count = 0;
    for (const Unapplied& u : kUnapplied) {
        if (!u.used(c)) continue;
        PRINT('w', "pcc0516", "Cursor %s: %s is read but not applied by this collector yet\n", c.cur_name.c_str(),
              u.keyword);
        ++count;
    }
    return count;
}

} // namespace qvx
