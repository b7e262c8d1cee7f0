// One collection through a cursor's fetch exit: the working set, the
// internal exits, the command run by its run option with its output parsed
// line by line as it arrives, and the rows merged or the dummy row set up.
#include <algorithm>
#include <unordered_map>

#include "control/cursor.h"
#include "model/cursor_list.h"
#include "pipeline/dummy_rows.h"
#include "pipeline/row_store.h"
#include "procs/exit_command.h"
#include "procs/exit_result.h"
#include "procs/fetch_exit.h"
#include "procs/script_exit.h"
#include "procs/trace_environment.h"
#include "runtime/messages.h"
#include "runtime/trace.h"
#include "support/child_process.h"

namespace qvx {

namespace {

constexpr int kTimed = 1;
constexpr int kNoWait = 2;
constexpr int kRunsScript = 7;
constexpr int kInternal = 9;
constexpr int kProgramScript = 2;
constexpr int kDefaultTimeout = 30;
constexpr int kTimedLineCap = 300;
constexpr int kWaitLineCap = 10000;
constexpr int kWaitTimeLimit = 600;
constexpr int kNoRow = -1;
constexpr int kRowsDone = 100;

// The result sets, one per cursor, kept between collections.
struct ExitState {
    std::unordered_map<const curs*, ResultSet> results;
    bool forget_registered = false;
};

ExitState& exit_state() {
    static ExitState s;
    return s;
}

ResultSet& result_set_of(curs& c) {
    ExitState& s = exit_state();
    if (!s.forget_registered) {
        on_delete_cursors([] { exit_state().results.clear(); });
        s.forget_registered = true;
    }
    auto [it, made] = s.results.try_emplace(&c);
    if (made) build_result_columns(c, it->second);
    return it->second;
}

FetchExitWork setCurs4exit(curs& c, const std::string& date) {
    FetchExitWork w;
    w.date = date;
    w.kind = c.fetch_exit->parse_kind;
    w.option = c.fetch_exit->mode;
    w.skip = c.start_after;
    w.take = c.stop_after;
    w.taking_limited = c.stop_after > 0;
    w.cursor = &c;
    w.result = &result_set_of(c);
    w.result->clear_rows();
    c.sql_rc_text.clear();
    if (c.show_cursor || debug_on(5))
        PRINT('i', "fxr5505", "Calling Fetch Exit (%s) for cursor %s at time %s \n", c.fetch_exit->name.c_str(),
              c.cur_name.c_str(), date.c_str());
    return w;
}

// Internal exits: true when the option gives no rows, false when the
// collection fails.
bool run_internal(const FetchExitWork& w) {
    if (w.option == kTimed || w.option == kNoWait) return true;
    PRINT('e', "fxr4025", "Invalid internal exit option %d\n", w.option);
    return false;
}

// A script exit: the parameters name an internal procedure, unless the
// exit name is a path ("/" in it), which runs that program.
int run_script(FetchExitWork& w) {
    curs& c = *w.cursor;
    const std::string& script = c.script ? *c.script : std::string();
    const bool program = script.substr(0, script.find(' ')).find('/') != std::string::npos;
    return parse_script_text(c, w, program ? kProgramScript : kInternal);
}

// Runs the command by the run option, each output line parsed as it is
// read. False when the command line cannot be built.
bool run_external(FetchExitWork& w) {
    curs& c = *w.cursor;
    CommandLine line;
    if (formatCommand(c, line) != 0) return false;
    w.program = line.program;
    w.command = line.text();
    const bool traced = c.trace || debug_on(5);
    if (traced) PRINT('t', "fxr4024", "Call Exit %s, Parms %.200s.\n", line.program.c_str(), line.parameters.c_str());
    prepare_trace_environment(traced);

    const std::vector<std::string> words = line.words();
    const LineSink parse = [&w](const std::string& l) { return parse_exit_line(w, l); };
    execopt o;
    if (w.option == kTimed) {
        o.line_limit = c.row_limit > 0 ? std::min(2 * c.row_limit, kTimedLineCap) : kTimedLineCap;
        const int timeout = c.fetch_exit->timeout > 0 ? c.fetch_exit->timeout : kDefaultTimeout;
        u_exec_timed_words(words, timeout, o, parse);
    } else if (w.option == kNoWait) {
        u_AsynProcess(words);
    } else {
        o.flags = exec_options_set;
        o.line_limit = kWaitLineCap;
        u_exec_timed_words(words, kWaitTimeLimit, o, parse);
    }
    if (debug_on(3)) PRINT('t', "fxr4028", "Exit returned %d rows\n", static_cast<int>(w.result->rows));
    return true;
}

int fail(curs& c) {
    set_sql_code(c, kNoRow);
    return 1;
}

// No rows: a dummy row stands in when the cursor has one.
int without_rows(curs& c, const ResultSet& rs) {
    if (!c.dummy_last_row && !c.conditional_dummy_last_row) return fail(c);
    if (!c.bound && setup_dummy(c, result_layout(rs), RowOrigin::fetch_exit) != 0) return fail(c);
    set_sql_code(c, kRowsDone);
    return 0;
}

} // namespace

int run_cursor_fetch_exit(curs& c, const std::string& date, const RowSink& sink) {
    if (!c.fetch_exit) return 1;
    FetchExitWork w = setCurs4exit(c, date);
    w.sink = &sink;
    if (w.kind == kInternal && w.option == kRunsScript) return run_script(w);
    const bool ran = w.kind == kInternal ? run_internal(w) : run_external(w);
    if (!ran) return fail(c);
    if (w.result->rows == 0) return without_rows(c, *w.result);
    if (merge_DB_DATA2curs(w, c, sink) != 0) return 1;
    set_sql_code(c, kRowsDone);
    return 0;
}

int run_cursor_fetch_exit(curs& c, const std::string& date) {
    static const RowSink to_row_store = [](curs& cur, const SelectDescriptor* d, const std::string& t) {
        return merge_text(cur, d, t, RowOrigin::fetch_exit);
    };
    return run_cursor_fetch_exit(c, date, to_row_store);
}

void reset_fetch_exits() {
    exit_state().results.clear();
    reset_trace_environment();
}

} // namespace qvx
