// The history writer.
#include "pipeline/history.h"

#include <cstdio>
#include <memory>

#include "model/cursor_list.h"
#include "pipeline/column_function.h"
#include "runtime/clock.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/window.h"

namespace qvx {

namespace {

struct FileClose {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileClose>;

std::string history_path(const curs& c) {
    std::string path = env_vars.coll_home;
    if (!path.empty() && path.back() != '/') path += '/';
    return path + c.cur_name + ".HST";
}

// One record: the pass time, the row text and a line end. The zero byte
// that ends each column inside a row text (and any zero padding a text
// value carries) is written as a blank, and the column-function record
// ends with a line end as a stored row's does: the file is then plain
// text with one row per line, read with any pager or line tool.
void write_record(std::FILE* f, const std::string& time_text, const row_data& row, std::string& line) {
    line.assign(time_text);
    line.append(row.text(), row.size);
    for (size_t i = time_text.size(); i < line.size(); ++i)
        if (line[i] == '\0') line[i] = ' ';
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), f);
}

bool wants_history(curs& c, long pass) {
    if (c.window_end <= pass) set_window_c(c, pass);
    if (c.window_start > pass || !c.history || !c.history_pending || c.held == 'Y') return false;
    c.history_pending = 0;
    return true;
}

void write_rows(curs& c, std::FILE* f, const std::string& time_text) {
    std::string line;
    if (c.column_data) {
        // Brought up to date first when the store changed since it was built.
        if (const row_data* row = do_column_func(c)) write_record(f, time_text, *row, line);
        return;
    }
    const bool current_only = c.sample_limit > 0;
    for (const row_data* r = c.rows.first(); r; r = r->next)
        if (!current_only || r->sample_no == c.sample_no) write_record(f, time_text, *r, line);
}

} // namespace

int do_history(const std::string& time_text) {
    const long pass = relative_sec(time_text);
    for (const auto& cp : cur_anchor) {
        curs& c = *cp;
        if (!wants_history(c, pass)) continue;
        const std::string path = history_path(c);
        File f(std::fopen(path.c_str(), "ab"));
        if (!f) {
            PRINT('e', "chi1630", "Can't open %s\n", path.c_str());
            return 1;
        }
        if (c.trace) PRINT('t', "chi1635", "Cur = %s, rows = %d\n", c.cur_name.c_str(), c.rows.size());
        if (c.length == 0) {
            PRINT('e', "chi1640", "Cursor (%s) needs history but has no length\n", c.cur_name.c_str());
            continue;
        }
        write_rows(c, f.get(), time_text);
    }
    return 0;
}

} // namespace qvx
