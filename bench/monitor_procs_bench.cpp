// The twelve monitor-counter procedures, one pass over a SYSMON sample of
// 5,000 rows (the counters they read among filler groups), beside SQLite
// making the same number of SUM(FLDVALUE) reads (about 200, one per
// counter read of the pass) through prepared statements over an
// in-memory copy of the rows in the same run. Goal: at least 0.5 of
// SQLite's speed. The fastest pass of each side gives the ratio.
#include <benchmark/benchmark.h>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "expr/select.h"
#include "expr/term_table.h"
#include "model/cursor_list.h"
#include "procs/monitor_procs.h"
#include "runtime/messages.h"
#include "sqlite_side.h"

namespace {

using namespace qvxbench;
using namespace qvx;

constexpr int kRows = 5000;
constexpr int kReads = 200;

struct Row {
    std::string g, f;
    long v;
};

std::vector<Row> sample_rows() {
    std::vector<Row> rows{{"access", "xacts", 250}};
    const char* groups[] = {"buffer_0", "buffer_1", "engine_0", "engine_1", "disk_0", "disk_1",
                            "disk_2",   "lock",     "access",   "xls",      "latch",  "kernel"};
    const char* fields[] = {"bufsearch_calls", "bufsearch_finds", "bufgrab_16k", "bufunkeep_lru",
                            "prefetch_req",    "clock_ticks",     "cpu_ticks",   "context_switches",
                            "total_reads",     "total_writes",    "p_hits",      "p_misses",
                            "granted_EX_TAB",  "waited_EX_TAB",   "deadlocks",   "plc_lock_calls"};
    for (int i = 0; static_cast<int>(rows.size()) < kRows; ++i) {
        bool filler = i >= 12 * 16;
        rows.push_back({filler ? "filler_" + std::to_string(i % 40) : groups[i / 16],
                        filler ? "f_" + std::to_string(i % 50) : fields[i % 16], i * 37L % 1000 + 1});
    }
    return rows;
}

curs& cursor(const char* name, const std::vector<std::pair<const char*, int16_t>>& cols,
             const std::vector<std::vector<std::string>>& rows) {
    auto c = std::make_unique<curs>();
    c->cur_name = name;
    int32_t offset = 0;
    for (const auto& [n, type] : cols) {
        columns col;
        col.name = n;
        col.orig_type = type;
        col.length = 30;
        col.buf_offset = offset;
        offset += 31;
        c->cols.push_back(std::move(col));
    }
    c->length = offset - 1;
    for (const auto& r : rows) {
        row_data* row = row_data::create(static_cast<size_t>(c->length));
        std::memset(row->text(), 0, row->size);
        for (size_t k = 0; k < r.size(); ++k) {
            char* at = row->text() + c->cols[k].buf_offset;
            if (c->cols[k].orig_type == 2)
                std::snprintf(at, 31, "%30s", r[k].c_str());
            else
                std::strncpy(at, r[k].c_str(), 30);
        }
        c->rows.append(row);
    }
    return add_cursor(std::move(c));
}

void BM_MonitorProcsBesideSqlite(benchmark::State& state) {
    quiet();
    std::vector<Row> rows = sample_rows();
    std::vector<std::vector<std::string>> mon;
    for (const Row& r : rows) mon.push_back({r.g, r.f, std::to_string(r.v)});
    cursor("SYSMON", {{"GROUPNAME", 1}, {"FLDNAME", 1}, {"FLDVALUE", 2}}, mon);
    cursor("ZEPV", {{"STARTTIME", 2}, {"STOPTIME", 2}}, {{"1000", "1600"}});
    cursor("CACHEMAP", {{"CACHENAME", 1}, {"BUFFERNAME", 1}}, {{"default", "buffer_0"}, {"temp", "buffer_1"}});
    cursor("SYSDEV", {{"DEVNAME", 1}, {"OSNAME", 1}, {"DISKMON", 1}},
           {{"d0", "/dev/sda", "disk_0"}, {"d1", "/dev/sdb", "disk_1"}, {"d2", "/dev/sdc", "disk_2"}});
    cursor("SYSCCONF", {{"NUMENG", 2}}, {{"2"}});
    Db db;
    bool ok = db.exec("CREATE TABLE t (GROUPNAME TEXT, FLDNAME TEXT, FLDVALUE INTEGER)") && db.exec("BEGIN");
    sqlite3_stmt* ins = nullptr;
    sqlite3_stmt* sum = nullptr;
    ok = ok && sqlite3_prepare_v2(db.db, "INSERT INTO t VALUES (?, ?, ?)", -1, &ins, nullptr) == SQLITE_OK;
    for (size_t i = 0; ok && i < rows.size(); ++i) {
        sqlite3_bind_text(ins, 1, rows[i].g.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(ins, 2, rows[i].f.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(ins, 3, rows[i].v);
        ok = sqlite3_step(ins) == SQLITE_DONE && sqlite3_reset(ins) == SQLITE_OK;
    }
    sqlite3_finalize(ins);
    ok = ok && db.exec("COMMIT") &&
         sqlite3_prepare_v2(db.db, "SELECT SUM(FLDVALUE) FROM t WHERE GROUPNAME = ? AND FLDNAME = ?", -1, &sum,
                            nullptr) == SQLITE_OK;
    std::optional<ResultChain> (*const procs[])() = {cacd_proc, cacs_proc, devd_proc, engd_proc,
                                                     engs_proc, lckd_proc, lcks_proc, logd_proc,
                                                     logs_proc, sqld_proc, tskd_proc, tsk2_proc};
    TermTable table;
    start_exec_sql(table);
    double best_procs = 1e30, best_sqlite = 1e30;
    size_t lines = 0;
    long total = 0;
    for (auto _ : state) {
        if (!ok) break;
        keep_fastest(best_procs, [&] {
            lines = 0;
            for (auto* p : procs)
                if (std::optional<ResultChain> c = p()) lines += c->size();
        });
        keep_fastest(best_sqlite, [&] {
            for (int k = 0; k < kReads; ++k) {
                const Row& r = rows[static_cast<size_t>(k) % 192 + 1];
                sqlite3_reset(sum);
                sqlite3_bind_text(sum, 1, r.g.c_str(), -1, SQLITE_STATIC);
                sqlite3_bind_text(sum, 2, r.f.c_str(), -1, SQLITE_STATIC);
                if (sqlite3_step(sum) == SQLITE_ROW) total += sqlite3_column_int64(sum, 0);
            }
        });
    }
    sqlite3_finalize(sum);
    end_exec_sql(table);
    delete_cursors();
    if (!ok || lines == 0) {
        state.SkipWithError("set-up failed or no lines");
        return;
    }
    state.counters["procs_ms"] = best_procs * 1e3;
    state.counters["sqlite_ms"] = best_sqlite * 1e3;
    state.counters["ratio"] = best_sqlite / best_procs;
    std::printf("twelve procedures over %d rows: %.2f ms, %zu lines; SQLite %d sums %.2f ms; ratio %.2f "
                "(goal at least 0.5)\n",
                kRows, best_procs * 1e3, lines, kReads, best_sqlite * 1e3, best_sqlite / best_procs);
}

} // namespace

BENCHMARK(BM_MonitorProcsBesideSqlite)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
