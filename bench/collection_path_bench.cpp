// The whole collection path of a 10-column cursor over a 1,000,000-row
// SQLite table (fetch, row store, send layout, read-out) against a bare
// sqlite3_step loop that reads every column as text, as the fetch does.
#include <benchmark/benchmark.h>

#include "collection_path.h"

namespace {

// The bare loop, for the ratio.
void BM_RawSqliteStep(benchmark::State& state) { qvxbench::raw_step_loop(state); }

void collector_path(benchmark::State& state, qvxbench::Layout layout) {
    qvxbench::PathTable& t = qvxbench::path_table();
    if (!t.ok) {
        state.SkipWithError("table not built");
        return;
    }
    qvx::curs* c = qvxbench::parse_path_cursor(t.scratch, "main.t", state);
    if (!c || !qvxbench::logon_to_table(state)) return;
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
