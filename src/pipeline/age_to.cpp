// Sample ageing: binding age_to targets and handing rows over.
#include "pipeline/age_to.h"

#include <algorithm>
#include <cstdint>
#include <memory>
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

unsigned short_address(const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }

char hold_flag(const curs& c) { return c.held ? c.held : 'N'; }

// The copy cursor and the target records of the source's versions.
void trace_target(curs& t) {
    PRINT('t', "SZF1110", "curs %x, vers_list %x, name %s, hold %c\n", short_address(&t), short_address(t.vers_list),
          t.cur_name.c_str(), hold_flag(t));
    for (curs* r : cursor_versions(t))
        if (r != &t)
            PRINT('t', "smf1120", "vers %x, vers_list %x, name %s, hold %c\n", short_address(r),
                  short_address(r->vers_list), r->cur_name.c_str(), hold_flag(*r));
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
    if (t->cur_name == version.cur_name || (t->is_age_copy && t->age_to_source != version.cur_name)) {
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

// The whole record of a copy cursor (definition, clauses, rows and run
// state) exchanged with a version's target record; each keeps its place
// in the cursor list, its version links and the evaluations made on it.
void swap_record(curs& a, curs& b) {
    std::swap(a, b);
    std::swap(a.if_chain, b.if_chain);
    std::swap(a.parent_if, b.parent_if);
    std::swap(a.vers_root, b.vers_root);
    std::swap(a.tree_place, b.tree_place);
    std::swap(a.vers_list, b.vers_list);
    std::swap(a.vers_tree, b.vers_tree);
    std::swap(a.evals, b.evals);
    std::swap(a.post_cursors, b.post_cursors);
}

// A new target record of t, kept with t's own records.
curs& new_target_record(curs& t) {
    if (!t.vers_tree) t.vers_tree = std::make_shared<VersionTree>();
    t.vers_tree->records.push_back(copy_curs(t));
    return *t.vers_tree->records.back();
}

// A target's records in the order of the source's versions, closed into
// a ring; the copy cursor holds the content of shown (its tree place)
// and chooses no version of its own.
void ring_records(curs& t, const std::vector<curs*>& records, curs* shown) {
    for (size_t i = 0; i < records.size(); ++i) {
        records[i]->vers_list = records[(i + 1) % records.size()];
        records[i]->tree_place = records[i];
    }
    t.vers_root = nullptr;
    t.tree_place = shown ? shown : records.front();
    t.vers_list = t.tree_place->vers_list;
}

// A source with several versions: each version naming a target gets its
// own target record, shaped after that version. The active version's
// record waits in its place while the copy cursor shows that version; a
// target only other versions name is shaped after the first of them.
int bind_version_targets(curs& s) {
    struct Binding {
        curs* target;
        std::vector<curs*> records;
        curs* shown = nullptr;
    };
    std::vector<Binding> bindings;
    int failed = 0;
    for (curs* v : cursor_versions(s)) {
        curs& place = v == &s ? *s.tree_place : *v;  // where the version's link lives
        if (v->age_to.empty()) continue;
        curs* t = find_target(*v);
        if (!t) {
            failed = 1;
            continue;
        }
        curs& record = new_target_record(*t);
        make_age_to_copy(record, *v);
        place.age_to_cur = &record;
        auto b = std::find_if(bindings.begin(), bindings.end(), [&](const Binding& x) { return x.target == t; });
        if (b == bindings.end()) b = bindings.insert(bindings.end(), Binding{t, {}});
        b->records.push_back(&record);
        if (v == &s) {
            make_age_to_copy(*t, s);
            b->shown = &record;
        } else if (!t->is_age_copy) {
            make_age_to_copy(*t, *v);
            v->age_to_cur = &record;
            b->shown = &record;
        }
    }
    for (const Binding& b : bindings) ring_records(*b.target, b.records, b.shown);
    return failed;
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
        const std::vector<curs*> versions = cursor_versions(s);
        if (std::all_of(versions.begin(), versions.end(), [](const curs* v) { return v->age_to.empty(); })) continue;
        if (s.virtual_cur) {
            PRINT('e', "pag3680", "Can't copy from a virtual table\n");
            failed = true;
            continue;
        }
        if (versions.size() > 1) {
            if (bind_version_targets(s) != 0) failed = true;
        } else if (curs* t = find_target(s)) {
            make_age_to_copy(*t, s);
        } else {
            failed = true;
        }
        if (trace_all && s.age_to_cur) trace_target(*s.age_to_cur);
    }
    if (failed) {
        PRINT('e', "pag3700", "Age_to editing failed\n");
        return 1;
    }
    PRINT('i', "pag3695", "Age_to editing successful\n");
    return 0;
}

void switch_age_to_copy(curs& slot, curs& left, curs& selected) {
    if (slot.age_to_cur && left.age_to_cur) swap_record(*slot.age_to_cur, *left.age_to_cur);
    slot.age_to_cur = nullptr;
    curs* record = selected.age_to_cur;
    curs* copy = record ? find_cursor(record->cur_name) : nullptr;
    if (!copy) return;
    swap_record(*copy, *record);
    copy->tree_place = record;
    copy->vers_list = record->vers_list;
    slot.age_to_cur = copy;
    // A source that had no target until now starts its copy cycle.
    if (!slot.copied) slot.copy_pending = 1;
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
