// Column functions over a cursor's stored rows (AVG, MAX, WAVG over 10,000
// and 100,000 rows of 16-character right-aligned numbers) beside SQLite
// computing avg() and max() over the same values in an in-memory table.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "control/cursor.h"
#include "pipeline/column_function.h"
#include "pipeline/row_store.h"

namespace {

constexpr int kWidth = 16;

// The value of row i, as the fetch would store it and as SQLite keeps it.
double value_of(long i) { return static_cast<double>(i % 100003) * 0.25 + static_cast<double>(i % 977); }

// One cursor with the columns AVG!V, MAX!V, WAVG!V, every row holding the
// same value in each.
struct Store {
    qvx::curs c;

    explicit Store(long rows) {
        c.cur_name = "BENCH";
        for (const char* word : {"AVG!V", "MAX!V", "WAVG!V"}) qvx::add_column(word, c);
        int32_t offset = 0;
        for (qvx::columns& col : c.cols) {
            col.orig_type = 2;
            col.length = kWidth;
            col.buf_offset = offset;
            offset += kWidth + 1;
        }
        c.length = offset - 1;
        c.sample_no = 1;
        char text[3 * (kWidth + 1)];
        for (long i = 0; i < rows; ++i) {
            qvx::row_data* r = qvx::row_data::create(static_cast<size_t>(c.length));
            char field[kWidth + 8];
            std::snprintf(field, sizeof field, "%*.2f", kWidth, value_of(i));
            for (int k = 0; k < 3; ++k) {
                std::memcpy(text + k * (kWidth + 1), field, kWidth);
                text[k * (kWidth + 1) + kWidth] = '\0';
            }
            std::memcpy(r->text(), text, static_cast<size_t>(c.length));
            r->sample_no = 1;
            r->row_no = static_cast<int32_t>(i + 1);
            qvx::append_row(c, r);
        }
    }
};

Store& store(long rows) {
    static std::unique_ptr<Store> small, large;
    auto& s = rows <= 10000 ? small : large;
    if (!s) s = std::make_unique<Store>(rows);
    return *s;
}

void BM_ColumnFunction(benchmark::State& state, size_t column) {
    Store& s = store(state.range(0));
    char out[kWidth];
    for (auto _ : state) {
        if (qvx::col_function(s.c, s.c.cols[column], out) != 0) state.SkipWithError("function failed");
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Avg(benchmark::State& state) { BM_ColumnFunction(state, 0); }
void BM_Max(benchmark::State& state) { BM_ColumnFunction(state, 1); }
void BM_Wavg(benchmark::State& state) { BM_ColumnFunction(state, 2); }

// The same values in an in-memory SQLite table.
struct MemoryTable {
    sqlite3* db = nullptr;
    explicit MemoryTable(long rows) {
        sqlite3_open(":memory:", &db);
        sqlite3_exec(db, "CREATE TABLE t(v REAL); BEGIN;", nullptr, nullptr, nullptr);
        sqlite3_stmt* ins = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?)", -1, &ins, nullptr);
        for (long i = 0; i < rows; ++i) {
            char field[kWidth + 8];
            std::snprintf(field, sizeof field, "%.2f", value_of(i));
            sqlite3_bind_double(ins, 1, std::strtod(field, nullptr));
            sqlite3_step(ins);
            sqlite3_reset(ins);
        }
        sqlite3_finalize(ins);
        sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
    }
    ~MemoryTable() { sqlite3_close(db); }
};

void BM_Sqlite(benchmark::State& state, const char* sql) {
    MemoryTable t(state.range(0));
    double result = 0;
    for (auto _ : state) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(t.db, sql, -1, &st, nullptr);
        if (sqlite3_step(st) == SQLITE_ROW) result = sqlite3_column_double(st, 0);
        sqlite3_finalize(st);
        benchmark::DoNotOptimize(result);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_SqliteAvg(benchmark::State& state) { BM_Sqlite(state, "SELECT avg(v) FROM t"); }
void BM_SqliteMax(benchmark::State& state) { BM_Sqlite(state, "SELECT max(v) FROM t"); }

BENCHMARK(BM_Avg)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Max)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Wavg)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SqliteAvg)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SqliteMax)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

} // namespace
