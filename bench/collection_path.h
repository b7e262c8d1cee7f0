// Shared pieces of the collection-path benchmarks: the 10-column cursor as
// COLLECT.CTL defines it, one collection pass through the whole path
// (fetch, row store, send layout, read-out of the stored rows) and the
// rows-per-second bookkeeping that relates the collector's path to a bare
// driver loop measured in the same run.
#pragma once

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "control/cursor.h"
#include "db/connection.h"
#include "db/database.h"
#include "db/fetch.h"
#include "pipeline/row_sources.h"
#include "pipeline/cluster.h"
#include "pipeline/row_store.h"
#include "pipeline/send_layout.h"
#include "scratch.h"

namespace qvxbench {

constexpr int kPathRows = 1000000;
// Rows the cursor keeps: a realistic limit. Keeping all 1,000,000 rows
// would measure fresh memory (about 650 ms a pass), not the path.
constexpr int kKeptRows = 1000;

// The table: 4 integer, 3 real and 3 short text columns.
inline const char* const kColumnNames[10] = {"i1", "i2", "i3", "i4", "r1", "r2", "r3", "s1", "s2", "s3"};

// The table, built once per program in a scratch home that is also the
// collector home of the benchmarks.
struct PathTable {
    Scratch scratch;
    std::string path;
    bool ok = false;

    PathTable() : path(scratch.dir + "/PATH.db") {
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

inline PathTable& path_table() {
    static PathTable t;
    return t;
}

// Rows per second of the bare driver loop's fastest pass, for the ratio.
inline double& raw_rate() {
    static double rate = 0;
    return rate;
}

using Clock = std::chrono::steady_clock;

// Pass times of a benchmark. The ratio is taken between the fastest
// passes: the machine is shared, and a pass slowed by someone else's
// compile says nothing about either loop.
class PassTimes {
public:
    void start() { begun_ = Clock::now(); }
    void stop() { best_ = std::min(best_, Clock::now() - begun_); }
    double best_seconds() const { return std::chrono::duration<double>(best_).count(); }
    double best_rate() const {
        const double s = best_seconds();
        return best_ == Clock::duration::max() || s <= 0 ? 0 : kPathRows / s;
    }

private:
    Clock::time_point begun_;
    Clock::duration best_ = Clock::duration::max();
};

// The bare driver loop over the table: every column of every row read as
// text, as the fetch does. Its fastest pass becomes raw_rate().
inline void raw_step_loop(benchmark::State& state) {
    PathTable& t = path_table();
    if (!t.ok) {
        state.SkipWithError("table not built");
        return;
    }
    sqlite3* db = nullptr;
    sqlite3_open_v2(t.path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    long rows = 0;
    size_t bytes = 0;
    PassTimes times;
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
    raw_rate() = times.best_rate();
    state.counters["best"] = times.best_rate();
    state.SetItemsProcessed(rows);
}

// Logs on to the table's file as the collector does; false (reported to
// the state) when that fails.
inline bool logon_to_table(benchmark::State& state) {
    setenv("COLL_CONNECT", ("sqlite:" + path_table().path).c_str(), 1);
    qvx::distrib d;
    d.distrib_name = "collector";
    d.type = 1;
    if (qvx::connect_to_DB(d) != 0) {
        state.SkipWithError("no logon to the SQLite file");
        return false;
    }
    return true;
}

// A cursor over the table, integers and reals sent as binary numbers, the
// texts as text; the SELECT is generated from the INSERT.
inline std::string collect_ctl(const std::string& table) {
    return "cursor PATH;\n"
           "insert INTO " + table + " (i1, i2, i3, i4, r1, r2, r3, s1, s2, s3)\n"
           "  VALUES (:INT!i1, :INT!i2, :INT!i3, :INT!i4, :FLOAT!r1, :FLOAT!r2, :FLOAT!r3,\n"
           "          :s1, :s2, :s3);\n"
           "interval 60;\n"
           "limit " + std::to_string(kKeptRows) + ";\n"
           "end;\n";
}

// Parses the cursor into the scratch home; null (reported to the state)
// when that fails.
inline qvx::curs* parse_path_cursor(Scratch& s, const std::string& table, benchmark::State& state) {
    s.write("qvxcoll.ctl", collect_ctl(table));
    if (qvx::parse_curs() != 0 || qvx::cur_anchor.size() != 1) {
        state.SkipWithError("COLLECT.CTL did not parse");
        return nullptr;
    }
    qvx::curs* c = qvx::cur_anchor[0].get();
    if (c->hv_count != 10 || c->cols.size() != 10) {
        state.SkipWithError("cursor without 10 host variables");
        return nullptr;
    }
    return c;
}

// How the send layout is applied in a pass.
enum class Layout {
    every_row,  // each row converted as it is stored, and the read-out
    read_out,   // only the read-out of the kept rows, as the collector does
};

// One collection pass. Every row fetched is merged into the store; with
// Layout::every_row the stored row is also converted into the send layout
// at once (more than the collector does: it converts only the rows it
// keeps, when they are read). After the pass the kept rows are read out as
// a cluster, as an agent's read does. Returns the rows fetched, or -1
// after a failure.
class PathPass {
public:
    PathPass(qvx::curs& c, Layout layout) : cursor_(c) {
        sink_ = [this, layout](qvx::curs& cur, const qvx::SelectDescriptor* d, const std::string& t) {
            const int r = qvx::merge_text(cur, d, t);
            if (r > 0 && layout == Layout::every_row) {
                if (cur.row_size == 0) send_.assign(static_cast<size_t>(qvx::get_row_size(cur)), 0);
                qvx::make_row(cur, send_.data(), *cur.rows.last());
                checksum_ += static_cast<unsigned char>(send_[0]) + static_cast<unsigned char>(send_.back());
            }
            return r;
        };
    }

    int run() {
        int rows = 0;
        if (qvx::prep_l_fetch(cursor_, "20240101120000", rows, sink_) != 0) return -1;
        qvx::cluster* cl = qvx::open_cursor(cursor_);
        if (!cl) return -1;
        int read = 0;
        while (qvx::fetch_cur(cl) == 0) {
            checksum_ += static_cast<unsigned char>(cl->cur[0]);
            ++read;
        }
        qvx::close_cur(cl);
        if (read != std::min(rows, kKeptRows)) return -1;
        benchmark::DoNotOptimize(checksum_);
        return rows;
    }

private:
    qvx::curs& cursor_;
    qvx::RowSink sink_;
    std::vector<char> send_;
    unsigned long checksum_ = 0;
};

// Records the collector's fastest pass against the raw loop's: counters
// "best" (rows/s) and "of_raw" (1.0 = as fast as the raw loop), and a line
// on stdout with the goal the ratio is measured against (none when 0).
inline void report_ratio(benchmark::State& state, const char* what, double rate, double goal = 0.70) {
    state.counters["best"] = rate;
    const double raw = raw_rate();
    if (raw <= 0 || rate <= 0) return;
    state.counters["of_raw"] = rate / raw;
    std::printf("%s: collector path %.0f rows/s, raw loop %.0f rows/s (fastest passes), ratio %.2f", what, rate, raw,
                rate / raw);
    if (goal > 0) std::printf(" (goal %.2f)", goal);
    std::printf("\n");
    std::fflush(stdout);
}

// Times collection passes of the logged-on cursor until the benchmark has
// enough, commits after each as the collector does, then forgets the
// database and the cursors and reports against the raw loop under the
// given name and goal.
inline void time_passes(benchmark::State& state, qvx::curs& c, Layout layout, const char* what, double goal = 0.70) {
    qvx::database_info.connected = true;
    PathPass pass(c, layout);
    long rows = 0;
    PassTimes times;
    for (auto _ : state) {
        times.start();
        const int n = pass.run();
        qvx::commit_collect(qvx::CommitMode::normal);
        times.stop();
        if (n != kPathRows) {
            state.SkipWithError("collection pass failed or short");
            break;
        }
        rows += n;
    }
    if (c.rows.size() != kKeptRows) state.SkipWithError("store not at its limit");
    qvx::reset_database();
    qvx::delete_cursors();
    state.SetItemsProcessed(rows);
    report_ratio(state, what, times.best_rate(), goal);
}

} // namespace qvxbench
