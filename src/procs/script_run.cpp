// Running a cursor's script: its host variables merged, the exit run as an
// internal procedure or a program, and its output lines stored as rows.
#include <cctype>
#include <cstdio>
#include <optional>
#include <vector>

#include "control/cursor_lists_clause.h"
#include "db/fetch.h"
#include "model/cursor_list.h"
#include "pipeline/dummy_rows.h"
#include "pipeline/row_store.h"
#include "procs/exit_command.h"
#include "procs/internal_procs.h"
#include "procs/script_exit.h"
#include "runtime/messages.h"
#include "runtime/trace.h"
#include "support/child_process.h"

namespace qvx {

namespace {

constexpr int kInternalMode = 9;
constexpr int kNoRows = -1;
constexpr int kRowsDone = 100;
constexpr size_t kMaxHostName = 49;
constexpr int kLineCap = 10000;
constexpr int kTimeLimit = 600;

void set_status(curs& c, int code) {
    char text[32];
    std::snprintf(text, sizeof text, "%16d", code);
    c.conn_rc = code;
    c.conn_rc_text = text;
    set_sql_code(c, code);
}

const columns* column_named(const curs& c, std::string_view name) {
    for (const columns& col : c.cols)
        if (col.name == name) return &col;
    return nullptr;
}

const InList* in_list_named(const curs& c, std::string_view name) {
    if (!c.in_list) return nullptr;
    for (const InList& list : c.in_list->lists)
        if (list.name == name) return &list;
    return nullptr;
}

// The value of one host variable; empty after reporting.
std::optional<std::string> host_value(const std::string& name, const std::string& script) {
    const size_t dot = name.find('.');
    curs* owner = dot == std::string::npos ? nullptr : find_cursor(std::string_view(name).substr(0, dot));
    const std::string_view part = dot == std::string::npos ? std::string_view() : std::string_view(name).substr(dot + 1);
    if (owner) {
        if (const columns* col = column_named(*owner, part)) {
            const row_data* row = owner->rows.last();
            if (!row) {
                PRINT('e', "ccc4020", "No data in cursor (%s) for hv (%s) in script (%s)\n", owner->cur_name.c_str(),
                      name.c_str(), script.c_str());
                return std::nullopt;
            }
            const size_t at = static_cast<size_t>(std::max(col->buf_offset, 0));
            const size_t len = static_cast<size_t>(std::max(col->length, 0));
            std::string v(len, ' ');
            if (at < row->size) v.replace(0, std::min(len, row->size - at), row->text() + at, std::min(len, row->size - at));
            return v;
        }
        if (const InList* list = in_list_named(*owner, part)) return in_list_words(list->text);
    }
    PRINT('e', "ccc4015", "Script host variable (%s) not found in script %s\n", name.c_str(), script.c_str());
    return std::nullopt;
}

// The operator's parameter text as arguments: split at blanks, a '...' or
// "..." group part of its argument without the quotes.
std::vector<std::string> arguments(std::string_view parms) {
    std::vector<std::string> args;
    std::string arg;
    bool in_arg = false;
    for (size_t at = 0; at < parms.size(); ++at) {
        const char ch = parms[at];
        if (ch == ' ') {
            if (in_arg) args.push_back(std::move(arg));
            arg.clear();
            in_arg = false;
            continue;
        }
        in_arg = true;
        if (ch == '\'' || ch == '"') {
            const size_t close = parms.find(ch, at + 1);
            const size_t end = close == std::string_view::npos ? parms.size() : close;
            arg.append(parms.substr(at + 1, end - at - 1));
            at = end;
        } else {
            arg += ch;
        }
    }
    if (in_arg) args.push_back(std::move(arg));
    return args;
}

// Runs the exit as a program. Collected values never meet a shell: each
// argument of the operator's text gets its host variables on its own, so
// a value is part of one argument whatever it holds.
std::optional<ResultChain> run_program(const std::string& exit, std::string_view raw, const std::string& script) {
    std::vector<std::string> words{exit};
    for (const std::string& arg : arguments(raw)) {
        std::string merged;
        if (!merge_script_vars(arg, script, merged)) return std::nullopt;
        words.push_back(std::move(merged));
    }
    ResultChain lines;
    execopt o;
    o.flags = exec_options_set;
    o.line_limit = kLineCap;
    u_exec_timed_words(words, kTimeLimit, o, [&lines](const std::string& l) {
        lines.push_back(l);
        return true;
    });
    if (lines.empty()) return std::nullopt;
    return lines;
}

struct RunCounts {
    int skip = 0;     // rows still to skip (start_after)
    int take = 0;     // rows still to store (stop_after), when limited
    bool limited = false;
    int stored = 0;
};

// One row line into the store; false when it could not be stored.
bool store_row(curs& c, FetchExitWork& w, SelectDescriptor& d, std::string_view row, int mode) {
    ++c.row_no;
    ++c.fetch_rows;
    fill_script_row(d, row, mode);
    const int rc = w.sink ? (*w.sink)(c, &d, w.date) : merge_text(c, &d, w.date, RowOrigin::fetch_exit);
    if (rc > 0) return true;
    --c.fetch_rows;
    return false;
}

} // namespace

bool merge_script_vars(std::string_view parms, const std::string& script, std::string& out) {
    out.clear();
    for (size_t at = 0; at < parms.size();) {
        if (parms[at] != '[') {
            out += parms[at++];
            continue;
        }
        size_t start = at + 1;
        while (start < parms.size() && parms[start] == ' ') ++start;
        size_t end = start;
        while (end < parms.size() && end - start < kMaxHostName && parms[end] != ' ' && parms[end] != ',' &&
               parms[end] != ']')
            ++end;
        const std::optional<std::string> value = host_value(std::string(parms.substr(start, end - start)), script);
        if (!value) return false;
        out += *value;
        if (end < parms.size() && parms[end] != ']') out += parms[end];
        at = end + 1;
    }
    return true;
}

int parse_script_text(curs& c, FetchExitWork& w, int mode) {
    set_status(c, 0);
    const std::string script = c.script ? *c.script : std::string();
    const size_t blank = script.find(' ');
    const std::string exit = script.substr(0, blank);
    const size_t parms_at = blank == std::string::npos ? script.size() : script.find_first_not_of(' ', blank);
    const std::string_view raw = parms_at == std::string::npos ? "" : std::string_view(script).substr(parms_at);
    std::string parms;
    if (!merge_script_vars(raw, script, parms)) return 1;
    if (c.trace) PRINT('t', "ccc4024", "Call Exit %s, Parms %.200s.\n", exit.c_str(), parms.c_str());

    std::optional<ResultChain> chain =
        mode == kInternalMode ? exec_internal(parms) : run_program(exit, raw, script);
    if (!chain || chain->empty()) {
        set_status(c, kNoRows);
        return 0;
    }
    if (!c.script_columns && parse_script_exit(c) != 0) return 1;
    SelectDescriptor& d = *c.script_columns;
    RunCounts n{c.start_after, c.stop_after, c.stop_after > 0, 0};
    for (std::string& line : *chain) {
        if (!line.empty() && line.back() == '\n') line.pop_back();
        if (c.trace) PRINT('t', "ccc4026", "Exit returned:\"%.200s\"\n", line.c_str());
        std::string_view row;
        if (route_script_line(line, row) == ScriptLine::message) {
            PRINT(std::tolower(static_cast<unsigned char>(line[7])), "", "%s\n", line.c_str());
            continue;
        }
        if (n.skip > 0) {
            --n.skip;
            continue;
        }
        if (!store_row(c, w, d, row, mode)) {
            PRINT('w', "ccc4035", "Time = %s For cursor %s, merge failed after = %d rows\n", w.date.c_str(),
                  c.cur_name.c_str(), n.stored);
            PRINT('w', "ccc4040", "Holding cursor\n");
            c.held = 'Y';
            set_status(c, kNoRows);
            return 1;
        }
        ++n.stored;
        if ((c.trace && c.show_row) || debug_on(8)) trace_fetched_row(c, d);
        if (n.limited && --n.take <= 0) break;
    }
    chain->clear();
    // The dummy row is added after the collection; it needs the layout.
    if (n.stored == 0 && !c.bound && (c.dummy_last_row || c.conditional_dummy_last_row))
        setup_dummy(c, d, RowOrigin::fetch_exit);
    set_status(c, kRowsDone);
    return 0;
}

} // namespace qvx
