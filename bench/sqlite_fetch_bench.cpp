// The collector's fetch over a 1,000,000-row SQLite table against a bare
// sqlite3_step loop that reads every column as text.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstring>

#include "db/connection.h"
#include "db/database.h"
#include "db/fetch.h"
#include "pipeline/row_sources.h"
#include "runtime/settings.h"
#include "scratch.h"

namespace {

constexpr int kRows = 1000000;

const std::string& database() {
    static qvxbench::Scratch scratch;
    static std::string path;
    if (path.empty()) {
        path = scratch.dir + "/BENCH.db";
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db,
                     "CREATE TABLE t(id INTEGER, name VARCHAR(30), amount NUMERIC(10,2), at DATETIME);"
                     "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000000)"
                     " INSERT INTO t SELECT i, 'session ' || i, i * 0.25, '2024-01-02 03:04:05' FROM n;",
                     nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    return path;
}

void BM_RawStep(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(database().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    for (auto _ : state) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "SELECT id, name, amount, at FROM t", -1, &st, nullptr);
        size_t bytes = 0;
        while (sqlite3_step(st) == SQLITE_ROW)
            for (int i = 0; i < 4; ++i) {
                const unsigned char* t = sqlite3_column_text(st, i);
                bytes += static_cast<size_t>(sqlite3_column_bytes(st, i)) + (t ? t[0] : 0);
            }
        sqlite3_finalize(st);
        benchmark::DoNotOptimize(bytes);
    }
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations() * kRows);
}

// range(0): COLL_QUERY_TIMEOUT in seconds, 0 none; with a limit the
// statement's clock is looked at every 1000 steps and between rows.
void BM_CollectorFetch(benchmark::State& state) {
    qvx::env_vars.query_timeout = static_cast<int>(state.range(0));
    setenv("COLL_CONNECT", ("sqlite:" + database()).c_str(), 1);
    qvx::distrib d;
    d.distrib_name = "collector";
    d.type = 1;
    qvx::connect_to_DB(d);
    qvx::curs cursor;
    cursor.cur_name = "BENCH";
    cursor.sel_piece = "SELECT id, name, amount, at FROM t";
    size_t bytes = 0;
    qvx::RowSink sink = [&](qvx::curs&, const qvx::SelectDescriptor* desc, const std::string&) {
        for (size_t i = 0; i < desc->items.size(); ++i) bytes += desc->value_len[i] + *desc->value(i);
        return 1;
    };
    for (auto _ : state) {
        int rows = 0;
        qvx::prep_l_fetch(cursor, "20240101120000", rows, sink);
        if (rows != kRows) state.SkipWithError("short fetch");
    }
    benchmark::DoNotOptimize(bytes);
    qvx::reset_database();
    state.SetItemsProcessed(state.iterations() * kRows);
}

BENCHMARK(BM_RawStep)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CollectorFetch)->Arg(0)->Arg(3600)->Unit(benchmark::kMillisecond);

} // namespace
