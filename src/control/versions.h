// Conditional versions of a cursor: the "if", "else" and "endif" clauses
// of a cursor block and the complete cursor definitions (versions) they
// expand into, arranged as a decision tree. The listed cursor (the slot)
// holds the definition of one version at a time; the others wait in the
// ring of versions.
#pragma once

#include <memory>
#include <vector>

#include "control/cursor.h"

namespace qvx {

// Parses one condition from pos (up to its ';' or the end of the text),
// leaving pos after it; null after a reported failure. The expression
// engine installs it, since the condition language lives above this layer.
using ConditionParser = std::shared_ptr<IfCondition> (*)(const char*& pos);
void set_condition_parser(ConditionParser parser);

// The clauses of the cursor-block reader. Each may replace record, the
// record that receives the following clauses. 0 good, 1 failed (reported).
int parse_if(curs*& record, const char*& pos);
int parse_else(curs*& record);
int parse_endif(curs*& record);

// Builds the versions of a finished block (record: the reader's current
// record). 0 good, 1 failed (reported).
int edit_curs_version_set(curs& record);

// Start-up, once every cursor is listed: the hold switch of each version
// becomes its third hold reason.
int define_vers_chain();

// A full copy of a record's definition and clauses (no rows, no run state
// and no tree of its own).
std::unique_ptr<curs> copy_curs(const curs& source);

// Completes a version from its parent: name, last time, window, next due
// time and collector always; every other definition field only when the
// version left it unset.
void merge_curs(curs& version, const curs& parent);

// Exchanges the definitions of two records (fields and clauses); rows,
// run state, the version links and the age_to link stay where they are
// (each version keeps its own age_to target record).
void swap_definition(curs& a, curs& b);

// The versions of a cursor in ring order, its active one first (itself
// for a cursor without versions).
std::vector<curs*> cursor_versions(curs& cursor);

// Forgets the reader's current record and IF (a new block, tests).
void reset_version_parse();

} // namespace qvx
