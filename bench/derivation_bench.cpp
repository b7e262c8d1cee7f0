// Row derivation over the 1,000,000-row SQLite table of the collection
// path: the collection path of a cursor whose rows get three math
// columns, two decodes (one with an "and" part) and a high-water column,
// with a load into a virtual cursor after each fetch, against the bare
// sqlite3_step loop in the same run (goal: at least 0.60 of its rows per
// second). Then the cost growth of the after-fetch steps that walk the
// stored rows (building an in-list, a load with "where", a load from
// MAX_OCCURANCE) from 1,000 to 10,000 rows (goal: at most 12 times).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <span>
#include <string>

#include "collection_path.h"
#include "control/dictionary.h"
#include "model/cursor_list.h"
#include "pipeline/edit_passes.h"
#include "pipeline/row_sources.h"
#include "pipeline/row_steps.h"

namespace {

// The dictionary elements of the virtual cursor TOTALS.
const char* const kDict =
    "name active;\n"
    "  type INTEGER;\n"
    "  initial 0;\n"
    "name common;\n"
    "  type CHAR(20);\n"
    "  initial none;\n"
    "end;\n";

const char* const kTotals =
    "cursor TOTALS;\n"
    "insert INTO bench.totals (active, common) VALUES (:active, :common);\n"
    "virtual;\n";

// Which derivations the cursor carries: all of them for the goal, or
// one kind alone, to see what each costs a row.
enum Parts { kMath = 1, kDecodes = 2, kAll = 7 };

// The table's ten columns as the plain path fetches them (the SELECT is
// the raw loop's), i2 as a high-water column, three math columns, two
// decodes and a load, or only the math columns or only the decodes.
std::string derive_ctl(int parts) {
    const bool math = parts & kMath;
    std::string ctl = "cursor DERIVE;\n"
                      "insert INTO main.t (i1, i2, i3, i4, r1, r2, r3, s1, s2, s3" + std::string(math ? ", m1, m2, m3" : "") +
                      ")\n  VALUES (:INT!i1, " + (parts == kAll ? ":HW!i2" : ":i2") +
                      ", :INT!i3, :INT!i4, :FLOAT!r1, :FLOAT!r2, :FLOAT!r3, :s1, :s2, :s3" +
                      (math ? ", :m1, :m2, :m3" : "") + ");\n"
                      "insert_select SELECT i1,i2,i3,i4,r1,r2,r3,s1,s2,s3 FROM main.t;\n";
    if (math) ctl += "math m1 r1 * 2 + i3;\nmath decimal 1 m2 ( i1 - i4 ) / 3;\nmath m3 r2 / ( i3 + 1 );\n";
    if (parts & kDecodes) ctl += "decode s2 = 'ACTIVE' , 'A';\ndecode i3 >= 100 and < 900 , 0;\n";
    if (parts == kAll) ctl += "load COUNT s2->TOTALS.active where s2 = 'A';\n";
    return ctl + "interval 60;\nlimit " + std::to_string(qvxbench::kKeptRows) + ";\n" + kTotals + "end;\n";
}

// Reads DICT.CTL and COLLECT.CTL into the scratch home and runs the edit
// passes; the named cursor, or null (reported to the state).
qvx::curs* load_cursor(const std::string& collect, const char* name, benchmark::State& state) {
    qvxbench::Scratch& s = qvxbench::path_table().scratch;
    s.write("qvxdict.ctl", kDict);
    s.write("qvxcoll.ctl", collect);
    qvx::reset_dictionary();
    if (qvx::parse_dict() != 0 || qvx::load_cursors() != 0) {
        state.SkipWithError("control files did not load (see the output file in the scratch home)");
        return nullptr;
    }
    qvx::curs* c = qvx::find_cursor(name);
    if (!c) state.SkipWithError("cursor missing after the edit passes");
    return c;
}

// The processing of a row step or after-fetch step by name; null (and
// the benchmark skipped) while that clause kind has none.
template <class Step>
auto plugged(std::span<const Step> steps, const std::string& name, benchmark::State& state) {
    for (const Step& s : steps)
        if (name == s.name && s.run) return s.run;
    state.SkipWithError((name + " has no processing yet").c_str());
    return decltype(steps.front().run){};
}

void BM_RawSqliteStep(benchmark::State& state) { qvxbench::raw_step_loop(state); }

void derivation_path(benchmark::State& state, int parts, const char* what, double goal) {
    if (!qvxbench::path_table().ok) {
        state.SkipWithError("table not built");
        return;
    }
    for (const char* step : {"water", "math", "decode"})
        if (!plugged(qvx::row_steps(), step, state)) return;
    if (!plugged(qvx::after_fetch_steps(), "loads", state)) return;
    qvx::curs* c = load_cursor(derive_ctl(parts), "DERIVE", state);
    if (!c || !qvxbench::logon_to_table(state)) return;
    qvxbench::time_passes(state, *c, qvxbench::Layout::read_out, what, goal);
}

// The goal: every derivation at once.
void BM_DerivationPathSqlite(benchmark::State& state) {
    derivation_path(state, kAll, "SQLite, derived rows read out", 0.60);
}
// Each kind alone, for what bounds the whole.
void BM_DerivationMathOnly(benchmark::State& state) { derivation_path(state, kMath, "SQLite, math columns only", 0); }
void BM_DerivationDecodesOnly(benchmark::State& state) {
    derivation_path(state, kDecodes, "SQLite, decodes only", 0);
}

// ---------------------------------------------------------------------
// Cost growth of the after-fetch steps

// A cursor over the table's first n rows (the ids run from 1) that keeps
// them all, with the clause under test and the virtual cursor its loads
// write into.
std::string grow_ctl(long n, const std::string& clause) {
    return "cursor GROW;\n"
           "insert INTO main.t (i1, s1, s2) VALUES (:INT!i1, :s1, :s2);\n"
           "insert_where i1 <= " + std::to_string(n) + ";\n"
           "limit " + std::to_string(n) + ";\n" + clause + ";\ninterval 60;\n" + kTotals + "end;\n";
}

// Fastest call per benchmark name and row count, for the growth ratio.
std::map<std::string, std::map<long, double>>& best_calls() {
    static std::map<std::string, std::map<long, double>> best;
    return best;
}

// Fetches the first range(0) rows once, then times the after-fetch step
// over them call by call. After the 10,000-row case the ratio to the
// 1,000-row case is printed: a step that walks the rows once grows about
// tenfold, one that compares every row with every other a hundredfold.
void after_fetch_growth(benchmark::State& state, const char* what, const char* step, const std::string& clause) {
    const long n = state.range(0);
    if (!qvxbench::path_table().ok) {
        state.SkipWithError("table not built");
        return;
    }
    const auto run = plugged(qvx::after_fetch_steps(), step, state);
    if (!run) return;
    qvx::curs* c = load_cursor(grow_ctl(n, clause), "GROW", state);
    if (!c || !qvxbench::logon_to_table(state)) return;
    qvx::database_info.connected = true;
    int rows = 0;
    if (qvx::prep_l_fetch(*c, "20240101120000", rows) != 0 || rows != n || c->rows.size() != n) {
        state.SkipWithError("fetch of the rows failed or short");
        qvx::reset_database();
        qvx::delete_cursors();
        return;
    }
    double best = 1e30;
    for (auto _ : state) {
        const auto begun = qvxbench::Clock::now();
        run(*c, rows);
        best = std::min(best, std::chrono::duration<double>(qvxbench::Clock::now() - begun).count());
    }
    qvx::reset_database();
    qvx::delete_cursors();
    state.counters["best_us"] = best * 1e6;
    std::map<long, double>& seen = best_calls()[what];
    seen[n] = best;
    if (n == 10000 && seen.count(1000) && seen[1000] > 0) {
        state.counters["growth"] = best / seen[1000];
        std::printf("%s: 1,000 rows %.1f us, 10,000 rows %.1f us (fastest calls), 10x/1x %.2f (goal at most 12)\n", what,
                    seen[1000] * 1e6, best * 1e6, best / seen[1000]);
        std::fflush(stdout);
    }
}

void BM_InListBuild(benchmark::State& state) {
    after_fetch_growth(state, "in-list build", "in_list", "in_list sessions using s1");
}
void BM_LoadCountWhere(benchmark::State& state) {
    after_fetch_growth(state, "load COUNT with where", "loads", "load COUNT s2->TOTALS.active where s2 = 'ACTIVE'");
}
// s1 differs in every row: the most values a count by value has to keep.
void BM_LoadFromMaxOccurance(benchmark::State& state) {
    after_fetch_growth(state, "load from MAX_OCCURANCE", "loads", "load s1->TOTALS.common from MAX_OCCURANCE s1");
}

// Each pass is about a second; five keep the run short and give the ratio
// a fastest pass to go by.
BENCHMARK(BM_RawSqliteStep)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DerivationPathSqlite)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DerivationMathOnly)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DerivationDecodesOnly)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
// A fixed count of calls (the fastest is kept), so that each case runs
// once and its ratio is printed once.
BENCHMARK(BM_InListBuild)->Arg(1000)->Arg(10000)->Iterations(400)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadCountWhere)->Arg(1000)->Arg(10000)->Iterations(400)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadFromMaxOccurance)->Arg(1000)->Arg(10000)->Iterations(400)->Unit(benchmark::kMicrosecond);

} // namespace
