// The fetch exits the collector knows, and their installation at start-up.
#include "procs/fetch_exit.h"

#include "control/cursor.h"
#include "pipeline/row_sources.h"
#include "procs/script_exit.h"

namespace qvx {

const std::vector<FetchExitSpec>& fetch_exit_table() {
    static const std::vector<FetchExitSpec> table{
        {"fetchx1", 0, 0, 1},  {"fetchx2", 0, 0, 2},  {"fetchx3", 0, 0, 3},  {"fetchx4", 0, 0, 4},
        {"fetchx5", 0, 0, 5},  {"fetchxi1", 7, 0, 9}, {"fetchxi", 0, 0, 9},  {"fetchxt", 0, 0, 1},
    };
    return table;
}

void install_fetch_exits() {
    set_known_fetch_exits(&fetch_exit_table());
    set_script_exit_parser(parse_script_exit);
    set_fetch_exit_runner([](curs& c, const std::string& date, const RowSink& sink) {
        return run_cursor_fetch_exit(c, date, sink);
    });
}

} // namespace qvx
