// Sample ageing (age_to): a source cursor hands the rows of its previous
// run to a second cursor, its target, so that the newest and the previous
// sample can be served and compared side by side.
//
// After the source's first fetch both show the first sample (they share
// the rows); from the second fetch on, the source shows the newest sample
// and the target the one before it. A target is never run: its rows come
// only from copies.
#pragma once

#include "model/cursor.h"

namespace qvx {

// Edit pass "age_to": binds every age_to name to its target and shapes
// the target after the source. Each version of a source with several
// versions gets a target record of its own, shaped after that version;
// the target's records form its ring of versions. Ends with "Age_to
// editing successful" or "Age_to editing failed"; 0 good, 1 after errors.
int edit_age_to();

// Shapes the target after the source: the target takes the source's
// definition but its own name, age_to name and target, loses the clauses
// that build rows (loads, pre-cursors, iterate, in-lists, bases, math,
// decodes) and its column functions, and becomes a demand-style target;
// both are then waiting for the first copy.
void make_age_to_copy(curs& target, curs& source);

// A version change of a source (slot: the listed source, left: the place
// of the version it leaves, selected: the version it takes): the copy
// cursor's whole record (definition, rows and run state) is saved into
// the record of the version left, and the selected version's target
// record moves into its copy cursor, which the slot's link then names.
// So each version keeps its own aged rows and shape across changes.
void switch_age_to_copy(curs& slot, curs& left, curs& selected);

// Hands the source's rows to its target. Nothing for a cursor without a
// target.
void do_copy(curs& source);

// The fetch's hooks: before the first row of a fetch is built (a source
// past its first copy copies, then empties itself with `empty`; in an
// iteration only before the first row of the whole run), and after a
// fetch or an iteration that stored rows (the first copy).
void age_before_first_row(curs& source);
void age_after_fetch(curs& source, int rows);

// True for a source in the copy cycle: the copy empties it, not the run.
inline bool in_copy_cycle(const curs& c) { return c.age_to_cur != nullptr; }

} // namespace qvx
