// The expression language beside SQLite in the same run:
// (1) lexing and converting 10,000 different conditions of about 100
//     characters, beside sqlite3_prepare_v2 of the same condition as the
//     WHERE of "SELECT 1 FROM t WHERE ..." (the columns need a table);
//     goal: no slower than SQLite's prepare;
// (2) evaluating one converted condition of three comparisons joined by
//     AND and OR against each of 100,000 stored rows of a cursor, beside
//     SQLite's "SELECT count(*) FROM t WHERE ..." over an in-memory table
//     of the same values; goal: at least 0.5 of SQLite's rows per second.
// Each iteration times both sides; the fastest pass of each gives the
// ratio, printed once.
#include <benchmark/benchmark.h>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "expr/interpreter.h"
#include "expr/lexer.h"
#include "expr/term_table.h"
#include "model/cursor_list.h"
#include "runtime/messages.h"
#include "sqlite_side.h"

namespace {

using namespace qvxbench;
using namespace qvx;

constexpr int kConditions = 10000;
constexpr int kRows = 100000;

// Condition i: names, numbers and strings all vary; the text is valid in
// both languages.
std::string condition(int i) {
    return "N > " + std::to_string(i) + " AND NAME = 'name" + std::to_string(i % 977) + "' OR C <= " +
           std::to_string(i * 7 % 1000) + ".5 AND (N - " + std::to_string(i % 13) + ") * 2 >= C / 3 OR NAME LIKE 'ab" +
           std::to_string(i % 31) + "%' AND N < 99999";
}

void BM_LexConditionsBesideSqlitePrepare(benchmark::State& state) {
    quiet();
    std::vector<std::string> texts, sql;
    size_t chars = 0;
    for (int i = 0; i < kConditions; ++i) {
        texts.push_back(condition(i));
        sql.push_back("SELECT 1 FROM t WHERE " + texts.back());
        chars += texts.back().size();
    }
    Db db;
    if (!db.exec("CREATE TABLE t (N INTEGER, NAME TEXT, C REAL)")) {
        state.SkipWithError("no SQLite table");
        return;
    }
    double best_expr = 1e30, best_sqlite = 1e30;
    for (auto _ : state) {
        Clock::time_point begun = Clock::now();
        for (const std::string& t : texts) {
            TermTable table;  // each condition's owner keeps its terms
            auto installed = table.install();
            const char* pos = t.c_str();
            if (!parse_expression(pos)) state.SkipWithError("a condition did not parse");
        }
        best_expr = std::min(best_expr, seconds_since(begun));
        begun = Clock::now();
        for (const std::string& s : sql) {
            sqlite3_stmt* stmt = nullptr;
            if (sqlite3_prepare_v2(db.db, s.c_str(), static_cast<int>(s.size()), &stmt, nullptr) != SQLITE_OK)
                state.SkipWithError("a condition did not prepare");
            sqlite3_finalize(stmt);
        }
        best_sqlite = std::min(best_sqlite, seconds_since(begun));
    }
    state.counters["expr_us_per_condition"] = best_expr / kConditions * 1e6;
    state.counters["sqlite_us_per_condition"] = best_sqlite / kConditions * 1e6;
    state.counters["speed_ratio"] = best_sqlite / best_expr;
    std::printf("lexing %d conditions (%.0f characters each): %.1f ms, sqlite3_prepare_v2 %.1f ms; "
                "speed ratio %.2f (goal at least 1)\n",
                kConditions, static_cast<double>(chars) / kConditions, best_expr * 1e3, best_sqlite * 1e3,
                best_sqlite / best_expr);
    std::fflush(stdout);
}

// The same conditions into one term table, as the IF conditions of all
// cursors share one: every new term is first sought in the table from its
// head, so the cost grows with the terms already there.
void BM_LexConditionsIntoOneTable(benchmark::State& state) {
    quiet();
    const int n = static_cast<int>(state.range(0));
    std::vector<std::string> texts;
    for (int i = 0; i < n; ++i) texts.push_back(condition(i));
    for (auto _ : state) {
        TermTable table;
        auto installed = table.install();
        for (const std::string& t : texts) {
            const char* pos = t.c_str();
            if (!parse_expression(pos)) state.SkipWithError("a condition did not parse");
        }
    }
    state.SetItemsProcessed(state.iterations() * n);
}

// The values of row i: N and C Numbers, NAME a text.
long n_of(int i) { return i % 1000; }
long c_of(int i) { return i * 7 % 1000; }
const char* name_of(int i) { return i % 3 == 0 ? "abc" : "xyz"; }

// Cursor R with the rows as row building stores them: Numbers
// right-aligned in blanks, the text followed by zero bytes.
curs& row_cursor() {
    auto c = std::make_unique<curs>();
    c->cur_name = "R";
    const char* names[] = {"N", "NAME", "C"};
    const int16_t types[] = {2, 1, 2};
    int32_t offset = 0;
    for (int k = 0; k < 3; ++k) {
        columns col;
        col.name = names[k];
        col.orig_type = types[k];
        col.length = k == 1 ? 10 : 8;
        col.buf_offset = offset;
        offset += col.length + 1;
        c->cols.push_back(std::move(col));
    }
    c->length = offset - 1;
    for (int i = 0; i < kRows; ++i) {
        row_data* row = row_data::create(static_cast<size_t>(c->length));
        char* text = row->text();
        std::memset(text, 0, row->size);
        std::snprintf(text, 9, "%8ld", n_of(i));
        std::strncpy(text + c->cols[1].buf_offset, name_of(i), 10);
        std::snprintf(text + c->cols[2].buf_offset, 9, "%8ld", c_of(i));
        c->rows.append(row);
    }
    return add_cursor(std::move(c));
}

void BM_EvaluateRowsBesideSqliteCount(benchmark::State& state) {
    quiet();
    const char* const cond = "N > 500 AND NAME = 'abc' OR C < 250";
    Db db;
    bool ok = db.exec("CREATE TABLE t (N INTEGER, NAME TEXT, C INTEGER)") && db.exec("BEGIN");
    sqlite3_stmt* ins = nullptr;
    ok = ok && sqlite3_prepare_v2(db.db, "INSERT INTO t VALUES (?, ?, ?)", -1, &ins, nullptr) == SQLITE_OK;
    for (int i = 0; ok && i < kRows; ++i) {
        sqlite3_bind_int64(ins, 1, n_of(i));
        sqlite3_bind_text(ins, 2, name_of(i), -1, SQLITE_STATIC);
        sqlite3_bind_int64(ins, 3, c_of(i));
        ok = sqlite3_step(ins) == SQLITE_DONE && sqlite3_reset(ins) == SQLITE_OK;
    }
    sqlite3_finalize(ins);
    sqlite3_stmt* count = nullptr;
    const std::string query = std::string("SELECT count(*) FROM t WHERE ") + cond;
    ok = ok && db.exec("COMMIT") && sqlite3_prepare_v2(db.db, query.c_str(), -1, &count, nullptr) == SQLITE_OK;
    curs& c = row_cursor();
    TermTable table;
    std::optional<LexemeList> list;
    {
        auto installed = table.install();
        const char* pos = cond;
        list = parse_expression(pos);
    }
    if (!ok || !list) {
        state.SkipWithError("set-up failed");
        sqlite3_finalize(count);
        delete_cursors();
        return;
    }
    double best_expr = 1e30, best_sqlite = 1e30;
    long expr_count = 0, sqlite_count = 0;
    LexemeList work(list->size());
    for (auto _ : state) {
        auto installed = table.install();
        set_current_cursor(&c);
        Clock::time_point begun = Clock::now();
        expr_count = 0;
        for (row_data* row = c.rows.first(); row; row = row->next) {
            c.reading_row = row;  // the row a walk stands on
            std::copy(list->begin(), list->end(), work.begin());
            TermPtr result = interpreter(work);
            expr_count += result && result->numeric_kind == kIntKind && result->ival != 0;
        }
        c.reading_row = nullptr;
        best_expr = std::min(best_expr, seconds_since(begun));
        begun = Clock::now();
        sqlite3_reset(count);
        if (sqlite3_step(count) == SQLITE_ROW) sqlite_count = sqlite3_column_int64(count, 0);
        best_sqlite = std::min(best_sqlite, seconds_since(begun));
    }
    sqlite3_finalize(count);
    if (expr_count != sqlite_count) state.SkipWithError("the counts differ");
    state.counters["expr_rows_per_s"] = kRows / best_expr;
    state.counters["sqlite_rows_per_s"] = kRows / best_sqlite;
    state.counters["ratio"] = best_sqlite / best_expr;
    std::printf("evaluating '%s' over %d rows: %ld true, %.1f ms (%.2f M rows/s); SQLite count(*) %ld, %.1f ms "
                "(%.2f M rows/s); ratio %.2f (goal at least 0.5)\n",
                cond, kRows, expr_count, best_expr * 1e3, kRows / best_expr / 1e6, sqlite_count, best_sqlite * 1e3,
                kRows / best_sqlite / 1e6, best_sqlite / best_expr);
    std::fflush(stdout);
    set_current_cursor(nullptr);
    delete_cursors();
}

BENCHMARK(BM_LexConditionsBesideSqlitePrepare)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LexConditionsIntoOneTable)->Arg(1000)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EvaluateRowsBesideSqliteCount)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
