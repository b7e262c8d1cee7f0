// The whole collection path of a 10-column cursor over a 1,000,000-row
// SQLite table (fetch, row store, send layout, read-out) against a bare
// sqlite3_step loop that reads every column as text, as the fetch does.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>

#include "collection_path.h"
#include "db/connection.h"
#include "db/database.h"
#include "runtime/messages.h"

namespace {

using qvxbench::kPathRows;

struct Table {
    qvxbench::Scratch scratch;
    std::string path;
    bool ok = false;

    Table() : path(scratch.dir + "/PATH.db") {
        sqlite3* db = nullptr;
        if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return;
        const std::string sql =
            "CREATE TABLE t(i1 INTEGER, i2 INTEGER, i3 INTEGER, i4 INTEGER,"
            " r1 REAL, r2 REAL, r3 REAL, s1 VARCHAR(20), s2 VARCHAR(20), s3 VARCHAR(20));"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
            std::to_string(kPathRows) +
            ") INSERT INTO t SELECT i, i * 7 % 100003, i % 1000, -i,"
            " i * 0.25, i / 3.0, (i % 977) * 1.5,"
            " 'session ' || i, CASE i % 3 WHEN 0 THEN 'ACTIVE' WHEN 1 THEN 'INACTIVE' ELSE 'SNIPED' END,"
            " 'host' || (i % 64) FROM n;";
        ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_close(db);
    }
};

Table& table() {
    static Table t;
    return t;
}

void BM_RawSqliteStep(benchmark::State& state) {
    Table& t = table();
    if (!t.ok) {
        state.SkipWithError("table not built");
        return;
    }
    sqlite3* db = nullptr;
    sqlite3_open_v2(t.path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    long rows = 0;
    size_t bytes = 0;
    qvxbench::PassTimes times;
    for (auto _ : state) {
        times.start();
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT i1,i2,i3,i4,r1,r2,r3,s1,s2,s3 FROM main.t", -1, &st, nullptr);
        while (sqlite3_step(st) == SQLITE_ROW) {
            for (int i = 0; i < 10; ++i) {
                const unsigned char* v = sqlite3_column_text(st, i);
                bytes += static_cast<size_t>(sqlite3_column_bytes(st, i)) + (v ? v[0] : 0);
            }
            ++rows;
        }
        sqlite3_finalize(st);
        times.stop();
    }
    benchmark::DoNotOptimize(bytes);
    sqlite3_close(db);
    if (rows != state.iterations() * kPathRows) state.SkipWithError("short read");
    qvxbench::raw_rate() = times.best_rate();
    state.counters["best"] = times.best_rate();
    state.SetItemsProcessed(rows);
}

void collector_path(benchmark::State& state, qvxbench::Layout layout) {
    Table& t = table();
    if (!t.ok) {
        state.SkipWithError("table not built");
        return;
    }
    qvx::curs* c = qvxbench::parse_path_cursor(t.scratch, "main.t", state);
    if (!c) return;
    setenv("COLL_CONNECT", ("sqlite:" + t.path).c_str(), 1);
    qvx::distrib d;
    d.distrib_name = "collector";
    d.type = 1;
    if (qvx::connect_to_DB(d) != 0) {
        state.SkipWithError("no logon to the SQLite file");
        return;
    }
    qvxbench::time_passes(state, *c, layout,
                          layout == qvxbench::Layout::every_row ? "SQLite, every row laid out" : "SQLite, kept rows read out");
}

// Every fetched row through fetch, store and send layout.
void BM_CollectorPathSqlite(benchmark::State& state) { collector_path(state, qvxbench::Layout::every_row); }
// The collector's own pattern: the send layout only for the kept rows.
void BM_CollectorPathSqliteReadOut(benchmark::State& state) {
    collector_path(state, qvxbench::Layout::read_out);
}

// Each pass is about a second; five keep the run short and give the ratio
// a fastest pass to go by.
BENCHMARK(BM_RawSqliteStep)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CollectorPathSqlite)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CollectorPathSqliteReadOut)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
