// The "evaluator" distributor: tests the rows of the cursors it names
// against their evaluations and writes each row that satisfies one (or, with
// send_false, that stopped satisfying one) through send_a_row.
#pragma once

#include <cstdint>
#include <vector>

#include "control/cursor.h"
#include "control/distributor.h"
#include "model/evaluation.h"

namespace qvx {

// Why an entry is reported (row_entry::reason).
enum EvalReason : int16_t {
    ER_MAX = 1,        // holds the maximum of a MAX evaluation
    ER_MIN = 2,        // holds the minimum of a MIN evaluation
    ER_SATISFIED = 3,  // satisfied the evaluation
    ER_STOPPED = 4,    // the evaluation stopped holding (send_false)
};

// A cursor's rows for one evaluation run: a copy of every stored row
// (kind 1) and one extra entry (kind 2) holding the column-function row,
// or the last row when the cursor has no column functions.
struct row_entry {
    row_entry* next = nullptr;
    int16_t kind = 0;        // 1 a stored row, 2 the extra entry
    int16_t selected = 0;    // to be reported
    int16_t reason = 0;      // EvalReason
    int16_t evaluation = 0;  // ordinal of the evaluation that selected it
    row_data* row = nullptr; // the copy of the row image

    const char* text() const { return row->text(); }
};

// The entries of one run, their row copies laid end to end in one block.
class PredicateRows {
public:
    std::vector<row_entry>& entries() { return entries_; }
    const std::vector<row_entry>& entries() const { return entries_; }
    row_entry& extra() { return entries_.back(); }
    void clear() {
        entries_.clear();
        images_.clear();
    }

private:
    friend int get_predicate_rows(curs& cursor, PredicateRows& rows);
    std::vector<row_entry> entries_;
    std::vector<uint64_t> images_;  // 8-byte units, so that every copy is aligned
};

// Writes one send-layout row of a cursor; non-zero when it failed.
using RowSender = int (*)(const curs& cursor, const char* row);

// One evaluation run over every cursor in its window that the distributor
// accepts and that has evaluations; the last failing status of building
// a cursor's entries (0 when all went well). The selected rows go to
// sender (send_a_row unless a test gives another); when it fails, the
// cursor's evaluations take back the fired flags of the previous run.
int do_evaluator(long time, distrib& process, RowSender sender = nullptr);

// Opens and closes the cursor for reading (bringing its rows and its
// column-function row up to date) and copies them into entries: 0, 1 when
// the cursor gives nothing to evaluate, 2 when memory ran out.
int get_predicate_rows(curs& cursor, PredicateRows& rows);

// Applies every evaluation of the cursor to the entries (newest
// evaluation first) and, with send_false, marks the candidates of the
// evaluations that stopped holding.
void mark_entries(curs& cursor, const distrib& process, PredicateRows& rows);

// 1 when the column's value (at value, in a row image) satisfies the
// evaluation, else 0.
int do_compare(const columns& column, const char* value, const e_ptr& evaluation);

} // namespace qvx
