// Sample ageing: binding age_to targets and handing rows over.
#include "pipeline/age_to.h"

#include <cstdint>
#include <string>
#include <vector>

#include "control/cursor.h"
#include "control/versions.h"
#include "model/cursor_list.h"
#include "pipeline/percent_cursor.h"
#include "pipeline/row_store.h"
#include "runtime/messages.h"
#include "runtime/trace.h"

namespace qvx {

namespace {

// The versions of a cursor, the cursor first. A cursor without IF/ELSE
// versions is its only version; the binding below handles each version
// the same way.
std::vector<curs*> versions_of(curs& c) { return cursor_versions(c); }

unsigned short_address(const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }

char hold_flag(const curs& c) { return c.held ? c.held : 'N'; }

void trace_versions(curs& s) {
    const std::vector<curs*> versions = versions_of(s);
    auto next_of = [&](size_t i) { return i + 1 < versions.size() ? versions[i + 1] : nullptr; };
    PRINT('t', "SZF1110", "curs %x, vers_list %x, name %s, hold %c\n", short_address(&s),
          short_address(next_of(0)), s.cur_name.c_str(), hold_flag(s));
    for (size_t i = 0; i < versions.size(); ++i)
        PRINT('t', "smf1120", "vers %x, vers_list %x, name %s, hold %c\n", short_address(versions[i]),
              short_address(next_of(i)), versions[i]->cur_name.c_str(), hold_flag(*versions[i]));
}

// The target a version names, checked; null after a reported error.
curs* find_target(const curs& version) {
    curs* t = find_cursor(version.age_to);
    if (!t || t == percent_cursor) {  // the percent cursor holds the collector's own variables
        PRINT('e', "pag3690", "Age-to Cursor (%s) not found\n", version.age_to.c_str());
        return nullptr;
    }
    if (t->virtual_cur) {
        PRINT('e', "pag3675", "Can't copy to virtual table\n");
        return nullptr;
    }
    // A cursor cannot age into itself: it would be its own target.
    if (t == &version || (t->is_age_copy && t->age_to_source != version.cur_name)) {
        PRINT('e', "pag3685", "Duplicate attempts to 'age_to' the same cursor %s\n", t->cur_name.c_str());
        return nullptr;
    }
    return t;
}

// Only rows built by the source: no column functions, math or decodes of
// the source's run.
void strip_row_building(std::vector<columns>& cols) {
    for (columns& col : cols) {
        col.col_funct = ColumnFunction::none;
        col.math_def = -1;
        col.decode_list = -1;
    }
}

// The target drops the rows it shows; nothing of the source's current or
// chosen row may point into them afterwards.
void forget_row_marks(curs& c) {
    c.reading_row = nullptr;
    c.chosen_row = nullptr;
}

const char* copy_format(const curs& s) {
    if (s.copied) return "PreCopying %d records from %s to %s\n";
    if (s.copy_pending) return "PostCopying %d records from %s to %s\n";
    return "Incorrectly Copying %d records from %s to %s\n";
}

const char* copy_id(const curs& s) { return s.copied ? "cag3710" : s.copy_pending ? "cag3715" : "cag3720"; }

// The run fields that describe the rows the target takes.
void take_run_fields(curs& t, const curs& s) {
    t.now_secs = s.now_secs;
    t.last_time = s.last_time;
    t.length = s.length;
    t.rows_changed = s.rows_changed;
    t.history_pending = s.history_pending;
    t.sample_no = s.sample_no;
    t.row_no = s.row_no;
    t.bound = s.bound;
    t.row_size = 0;  // its send layout follows the rows' layout
}

} // namespace

void make_age_to_copy(curs& t, curs& s) {
    const std::string name = t.cur_name;
    const std::string age_to = t.age_to;
    const int32_t def_line = t.def_line;
    // The definition part only: the target's own target, clauses and run
    // side stay its own.
    static_cast<CursorDefinition&>(t) = static_cast<const CursorDefinition&>(s);
    t.cur_name = name;
    t.age_to = age_to;
    t.def_line = def_line;

    t.is_age_copy = 1;
    t.demand = 1;
    t.load_list.reset();
    t.pre_cursor.reset();
    t.iterate.reset();
    t.in_list.reset();
    t.base.reset();
    t.math.reset();
    t.decode.reset();
    t.has_col_funct = 0;
    t.has_minmax = 0;
    strip_row_building(t.cols);

    s.copy_pending = 1;
    s.age_to_cur = &t;
    t.copy_pending = 1;
    t.age_to_source = s.cur_name;
}

int edit_age_to() {
    bool failed = false;
    for (const auto& sp : cur_anchor) {
        curs& s = *sp;
        if (s.age_to.empty()) continue;
        if (s.virtual_cur) {
            PRINT('e', "pag3680", "Can't copy from a virtual table\n");
            failed = true;
            continue;
        }
        for (curs* version : versions_of(s)) {
            if (version->age_to.empty()) continue;
            curs* t = find_target(*version);
            if (!t) {
                failed = true;
                continue;
            }
            make_age_to_copy(*t, *version);
        }
        if (trace_all) trace_versions(s);
    }
    if (failed) {
        PRINT('e', "pag3700", "Age_to editing failed\n");
        return 1;
    }
    PRINT('i', "pag3695", "Age_to editing successful\n");
    return 0;
}

void do_copy(curs& s) {
    if (!s.age_to_cur) return;
    curs& t = *s.age_to_cur;
    const char* sname = s.cur_name.c_str();
    if (t.rows.first() == s.rows.first()) {
        // The target already shows these rows: they become its own.
        if (s.trace) PRINT('t', "cag3705", "Skipping Copying\n");
        t.rows.take(s.rows);
        forget_row_marks(s);
    } else {
        if (s.trace) PRINT('t', copy_id(s), copy_format(s), s.rows.size(), sname, t.cur_name.c_str());
        forget_row_marks(t);
        take_run_fields(t, s);
        t.history = 0;
        t.once = 1;
        t.is_age_copy = 1;
        if (s.copy_pending && !s.copied) {
            // Both show the first sample until the next fetch; the target
            // reads it through the source's layout.
            t.rows.borrow(s.rows);
            t.cols = s.cols;
            strip_row_building(t.cols);
        } else {
            // The rows belong to the sample before the run now starting.
            t.rows.take(s.rows);
            forget_row_marks(s);
            if (const row_data* newest = t.rows.last()) {
                t.sample_no = newest->sample_no;
                t.row_no = newest->row_no;
            }
        }
        t.rows_changed = 1;
    }
    s.copied = 1;
    s.copy_pending = 0;
}

void age_before_first_row(curs& s) {
    if (!s.age_to_cur || !s.copied) return;
    // The later steps of an iteration add to the sample its first rows began.
    if (s.iterating && s.rows.last() && s.rows.last()->sample_no == s.sample_no) return;
    do_copy(s);
    if (s.empty) delete_all(s);
}

void age_after_fetch(curs& s, int rows) {
    if (s.age_to_cur && s.copy_pending && rows > 0) do_copy(s);
}

} // namespace qvx
