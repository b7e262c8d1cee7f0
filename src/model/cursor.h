// Cursor records: one collection each, usually one SQL query, whose result
// columns are bound to host variables and delivered to the agent as rows
// of an attribute table. The definition side is filled from COLLECT.CTL,
// the run side while the cursor runs.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/clause_slot.h"
#include "model/distributor.h"
#include "model/evaluation.h"
#include "model/row_data.h"
#include "model/select_row.h"

namespace qvx {

struct curs;
struct VersionTree;

// The condition of an "if" clause as the expression engine parsed it;
// only that engine looks inside.
struct IfCondition {
    virtual ~IfCondition() = default;
};

// One "if" clause of a cursor block: its condition and the records of its
// two branches.
struct IF_NODE {
    IF_NODE* next = nullptr;                   // a later "if" of the same record
    std::shared_ptr<IfCondition> condition;
    curs* then_curs = nullptr;                 // clauses of the true branch
    curs* else_curs = nullptr;                 // clauses of the false branch, or none
    curs* parent_curs = nullptr;               // the record the "if" stood in
};

// What each clause kind of a cursor block becomes, defined beside the
// parser of that kind (control/*_clause.h).
struct LoadClauses;
struct PreCursorClauses;
struct IterateClauses;
struct InListClauses;
struct BaseClauses;
struct IterateWhereClauses;
struct MathClauses;
struct DecodeClauses;
struct ColumnExitClauses;
struct SetLenClauses;
struct HostVarPieces;

// Column function codes (columns::col_funct).
enum class ColumnFunction : int16_t {
    none = 0,
    min = 1,
    max = 2,
    avg = 3,
    wavg = 4,
    trend = 5,
    sum = 6,
    high_water = 7,
    low_water = 8,
    count = 9,
};

// Declared column types (columns::decl_type).
enum class ColumnType : int16_t {
    none = 0,
    integer = 1,
    floating = 2,
    timestamp = 3,
    no_send = 4,
};

// How a column is sent to the agent (columns::send_type).
enum class SendType : int16_t {
    text = 0,
    integer = 1,
    floating = 2,
    timestamp = 3,
    none = 4,
};

// Where a column's value comes from while rows are built.
enum class ValueSource : int16_t {
    none,       // unbound
    select,     // a select-list item of the fetch
    percent,    // a percent variable
    reference,  // another cursor's column (cursor.column)
    math,       // computed by a math clause
};

// A cursor to run after this cursor's run (a decode "run" replacement),
// with the row of that number as this cursor's current row meanwhile.
struct PostCursor {
    curs* cursor = nullptr;
    int32_t row_no = 0;
};

// Another cursor's column that a column reads (cursor.column): the cursor
// and the column's position in its list.
struct ColumnRef {
    curs* cursor = nullptr;
    int16_t column = -1;

    explicit operator bool() const { return cursor != nullptr && column >= 0; }
};

// How a column gets its value, made with the first row of the cursor
// (see merge_text) and kept while the cursor's binding holds.
struct ColumnBinding {
    ValueSource source = ValueSource::none;
    int16_t select_item = -1;         // bound select-list item, from 0
    const char* value_ptr = nullptr;  // a percent variable's buffer; in the percent
                                      // cursor, a request parameter's text when set
    int16_t percent_col = -1;         // the percent variable read: its position in
                                      // the percent cursor's columns
};

// One host variable of a cursor block, in order of appearance.
struct columns {
    std::string name;         // at most 49 characters
    int16_t name_len = 0;
    int16_t orig_type = 0;    // data type as delivered by the database
    int32_t db_len = 0;       // database data length
    int32_t fmt_len = 0;      // formatted data length
    ColumnFunction col_funct = ColumnFunction::none;
    int16_t samples = 0;      // sample count of the function (a written 0 counts as 1)
    ColumnType decl_type = ColumnType::none;
    bool qualified = false;      // the name contains "."
    int16_t forced_len = 0;   // from "^n"
    int16_t ordinal = 0;      // position in the block, from 1

    // --- row layout (row store) ---
    int32_t length = 0;          // width in the row text
    int32_t buf_offset = 0;      // offset in the row text
    SendType send_type = SendType::text;  // how the column is sent
    int16_t set_length = 0;      // send width; 0 = length
    int32_t row_offset = 0;      // offset in the send layout
    int16_t occurrence = 0;      // n! addressing: select-list position from 1; 0 = by name
    bool is_math = false;        // the value is computed by a math clause
    ColumnRef source;            // cursor.column reference, set by the qualified-name pass
    ColumnBinding binding;       // run time: where the value comes from
    int16_t math_def = -1;       // the math clause computing it: index in the cursor's math list
    int16_t decode_list = -1;    // its decodes: index in the cursor's decode list
    // HIGH_WATER / LOW_WATER: the mark (length bytes), absent until the
    // first value that is not null. Kept across every run.
    std::optional<std::string> water_mark;
    bool value_null = false;     // the value filled into the row being built was null
};

// A fetch exit named by the cursor (its name and mode).
struct FetchExitSpec {
    std::string name;
    int mode = 0;        // 0 plain, 1 timed ("t"), 2 ("p"); 7 runs the cursor's script
    int timeout = 0;     // seconds, timed mode (30 when none given)
    int parse_kind = 0;  // how the exit's output lines are parsed; 9 internal

    // An internal exit that hands the cursor to the script interpreter.
    bool runs_script() const { return parse_kind == 9 && mode == 7; }
};

// The definition of a cursor as COLLECT.CTL gives it: what an age_to
// target takes over from its source (the clause slots are not part of it,
// as a target has none of its source's clauses).
struct CursorDefinition {
    std::string cur_name;                   // at most 8 characters
    int32_t def_line = 0;                   // line of its "cursor" statement in COLLECT.CTL
    std::string last_time = "19900101010101";
    uint32_t window_start = 0;              // relative seconds
    uint32_t window_end = 0;
    uint32_t next_time = 0;
    uint32_t stale_until = 0;               // rows of a demand cursor are fresh until then
    int32_t stale = 0;                      // seconds
    int16_t virtual_cur = 0;
    int16_t empty = 0;
    int16_t demand = 0;
    int16_t once = 0;
    int16_t no_sql = 0;
    int32_t interval = 0;                   // seconds
    std::string sel_piece;                  // generated SELECT text
    std::string table_name;
    std::string host_table_name;            // last qualified name of the INSERT
    int16_t bracket = 0;                    // insert_select contains "[": host variables are merged into it
    std::optional<std::string> raw_insert_select;
    std::optional<std::string> insert;      // model INSERT, compacted
    int16_t hv_count = 0;                   // host variables of the block
    std::optional<std::string> insert_where;
    std::vector<columns> cols;              // in order of appearance
    int16_t insert_col_count = 0;
    std::vector<std::string> insert_col_names;
    char held = 0;                          // 'Y' held, 'N' released
    std::array<int16_t, 3> hold_reasons{};  // decode hold counters
    int16_t bypass = 0;                     // marker during a collection pass
    int16_t has_col_funct = 0;
    int16_t has_minmax = 0;
    int32_t row_limit = 0;                  // keyword limit
    int32_t time_limit = 0;                 // keyword time
    int32_t row_size = 0;
    int16_t history = 0;
    int32_t class_no = 0;                   // keyword class, 0..50
    int16_t sample_limit = 0;               // keyword samples
    std::string uuidbase, uuidpavc, uuidpcvc;  // at most 36 characters
    int32_t rpc_version = 0;
    int32_t objid = 0;
    int32_t set = 0;
    int16_t show_cursor = 0;
    int16_t show_row = 0;
    std::string age_to;                     // at most 8 characters
    std::optional<FetchExitSpec> fetch_exit;
    int16_t start_after = 0;
    int16_t stop_after = 0;
    std::optional<std::string> script;
    int16_t dummy_last_row = 0;
    int16_t conditional_dummy_last_row = 0;
    std::array<char, 16> blank16{};         // preset to blanks by the block checks
    int16_t trace = 0;
    int16_t traced = 0;
    int16_t tracem = 0;
    distrib* collector = nullptr;           // collector identity
    std::array<std::vector<OpRange>, 3> ranges;  // by DayKind
    int range_kind = -1;                    // window search position
    size_t range_index = 0;
};

struct curs : CursorDefinition {
    // Clause slots, empty when the block has no clause of the kind.
    ClauseSlot<LoadClauses> load_list;
    ClauseSlot<PreCursorClauses> pre_cursor;
    ClauseSlot<IterateClauses> iterate;
    ClauseSlot<InListClauses> in_list;
    ClauseSlot<BaseClauses> base;
    ClauseSlot<IterateWhereClauses> iterate_where;
    ClauseSlot<MathClauses> math;
    ClauseSlot<DecodeClauses> decode;
    ClauseSlot<ColumnExitClauses> column_exit;
    ClauseSlot<SetLenClauses> set_len;
    ClauseSlot<HostVarPieces> hv_pieces;    // insert_select with "[": its pieces, split on the first merge
    ClauseSlot<SelectDescriptor> script_columns;  // script exit: the columns its output lines fill

    // --- age_to: the source and its target ---
    curs* age_to_cur = nullptr;             // on a source: its target
    // source: the first copy (after the first fetch) is still due; target:
    // taken by a source, whose name age_to_source notes
    int16_t copy_pending = 0;
    int16_t copied = 0;                     // source: a copy at the first row of each fetch
    int16_t is_age_copy = 0;                // a target: never run, rows only from copies
    std::string age_to_source;              // on a target: its source's name
    std::string dummy_text;                 // the dummy row text, built once

    // --- run side: the run (row sources) and its result codes (database) ---
    long prev_start = 0;                    // clock seconds of the previous run's start
    long this_start = 0;                    // this run's start
    long end_time = 0;                      // this run's end
    long execution_time = 0;                // end_time - this_start
    long current_interval = 0;              // this_start - prev_start
    long now_secs = 0;                      // clock second at which the latest fetch began
    int32_t conn_rc = 0;                    // last logon result code
    std::string conn_rc_text;               // the same, 16 characters right-aligned
    int32_t sql_rc = 0;                     // last database result code of this cursor
    std::string sql_rc_text;                // the same, 16 characters right-aligned
    int32_t fetch_rows = 0;                 // rows of this collection
    bool iterating = false;                 // run as part of an iteration
    std::vector<char> fetch_buffer;         // row buffer of the fetch, kept between runs

    // --- run side: stored rows (row store) ---
    RowChain rows;                          // stored rows, oldest first
    RowHead column_data;                    // the column-function row
    row_data* chosen_row = nullptr;         // the row the last MIN or MAX picked; null once freed
    // While set, the row other cursors read as this cursor's current row
    // (an iteration step, a post-cursor run); otherwise the newest row.
    row_data* reading_row = nullptr;
    std::vector<PostCursor> post_cursors;   // scheduled by decodes during this run
    int32_t row_no = 0;                     // number of the row being built in its sample
    int32_t length = 0;                     // row text length
    int16_t rows_changed = 0;
    int16_t history_pending = 0;
    int32_t sample_no = 0;                  // current sample
    int16_t bound = 0;                      // column sources and offsets are fixed
    int16_t max_select_item = -1;           // highest select-list item bound
    bool checks_sources = false;            // some column may lack a value: test before each row
    long last_run = 0;                      // relative seconds of the last run
    int last_result = 0;                    // result of the last run
    std::string vers_time;                  // time text of the last version selection
    std::vector<e_ptr> evals;               // evaluations on this cursor, newest first

    // --- versions (if / else / endif) ---
    IF_NODE* if_chain = nullptr;            // first "if" of this record
    IF_NODE* parent_if = nullptr;           // a branch record: its "if"; none in the cursor list
    curs* vers_root = nullptr;              // root of the decision tree
    curs* tree_place = nullptr;             // the version whose definition the record holds
    curs* vers_list = nullptr;              // next version in the ring
    std::shared_ptr<VersionTree> vers_tree; // on the listed cursor: owns nodes and records

    // The row references to this cursor's columns read.
    row_data* current_row() const noexcept { return reading_row ? reading_row : rows.last(); }
};

// Every IF node and branch record of one cursor's decision tree.
struct VersionTree {
    std::vector<std::unique_ptr<IF_NODE>> nodes;
    std::vector<std::unique_ptr<curs>> records;
};

} // namespace qvx
