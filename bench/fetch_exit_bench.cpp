// A fetch exit printing 100,000 lines of 8 words: its lines taken from
// the child as they come, parsed by words and stored by the row store,
// beside a plain getline loop over the same command's output in the same
// run (goal: at least 0.5 of its lines per second). The exit is an awk
// program that prints the lines; the same lines from "cat" of a file, the
// cheapest command there is, show the collector's own cost. Then the
// growth from 10,000 to 100,000 lines (goal: about 10, at most 12).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "control/cursor.h"
#include "model/cursor_list.h"
#include "pipeline/row_store.h"
#include "procs/exit_result.h"
#include "procs/fetch_exit.h"
#include "scratch.h"
#include "support/child_process.h"

using namespace qvx;

namespace {

using Clock = std::chrono::steady_clock;

constexpr long kLines = 100000;
constexpr int kKeptRows = 1000;

// The exit's command: awk printing the lines (0) or cat of the same
// lines in a file (1).
std::vector<std::string> exit_words(long n, long kind);

struct Output {
    qvxbench::Scratch scratch;
    std::map<long, std::string> files;

    // The file of n lines: 8 words, a text, six numbers and a state.
    const std::string& file(long n) {
        auto [it, made] = files.try_emplace(n, scratch.dir + "/out" + std::to_string(n) + ".txt");
        if (made) {
            FILE* f = std::fopen(it->second.c_str(), "w");
            for (long i = 0; i < n; ++i)
                std::fprintf(f, "session%ld %ld %ld %ld %ld %ld %ld %s\n", i, i % 1000, i * 7 % 100003, i % 977,
                             i / 3, i % 64, i * 13 % 5000, i % 3 ? "ACTIVE" : "IDLE");
            std::fclose(f);
        }
        return it->second;
    }
};

Output& output() {
    static Output o;
    return o;
}

const char* const kAwk =
    "BEGIN { for (i = 0; i < %ld; i++) printf \"session%%d %%d %%d %%d %%d %%d %%d %%s\\n\", i, i %% 1000,"
    " i * 7 %% 100003, i %% 977, int(i / 3), i %% 64, i * 13 %% 5000, (i %% 3) ? \"ACTIVE\" : \"IDLE\" }";

std::vector<std::string> exit_words(long n, long kind) {
    if (kind == 1) return {"cat", output().file(n)};
    char program[512];
    std::snprintf(program, sizeof program, kAwk, n);
    return {"awk", program};
}

std::string shell_line(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& w : words) line += (line.empty() ? "'" : " '") + w + "'";
    return line;
}

const char* kind_name(long kind) { return kind == 1 ? "cat" : "awk"; }

std::map<std::string, double>& best() {
    static std::map<std::string, double> b;
    return b;
}

void note(benchmark::State& state, const std::string& what, double seconds, long lines) {
    double& b = best()[what];
    if (b == 0 || seconds < b) b = seconds;
    state.counters["lines_per_s"] = static_cast<double>(lines) / b;
}

// The plain loop: the command's output read with getline.
void BM_GetlineLoop(benchmark::State& state) {
    const long n = state.range(0);
    const long kind = state.range(1);
    const std::string cmd = shell_line(exit_words(n, kind));
    for (auto _ : state) {
        const auto begun = Clock::now();
        FILE* p = ::popen(cmd.c_str(), "r");
        char* line = nullptr;
        size_t cap = 0;
        long lines = 0, bytes = 0;
        ssize_t len;
        while ((len = ::getline(&line, &cap, p)) > 0) {
            ++lines;
            bytes += len;
        }
        std::free(line);
        ::pclose(p);
        benchmark::DoNotOptimize(bytes);
        if (lines != n) state.SkipWithError("short output");
        note(state, std::string("getline ") + kind_name(kind) + std::to_string(n),
             std::chrono::duration<double>(Clock::now() - begun).count(), n);
    }
}

// The collector: the exit's lines as they are read, parsed by words into
// the result set and merged into the cursor's rows (limit 1000).
void BM_ParseAndStore(benchmark::State& state) {
    const long n = state.range(0);
    const long kind = state.range(1);
    install_fetch_exits();
    auto owned = std::make_unique<curs>();
    owned->cur_name = "BENCH";
    owned->row_limit = kKeptRows;
    for (const char* w : {"NAME^16", "INT!A^8", "INT!B^8", "INT!C^8", "INT!D^8", "INT!E^8", "INT!F^8", "STATE^8"})
        add_column(w, *owned);
    curs& c = add_cursor(std::move(owned));
    c.fetch_exit = match_fetch_exit("fetchx2", "", fetch_exit_table());
    ResultSet rs;
    build_result_columns(c, rs);
    const std::vector<std::string> words = exit_words(n, kind);
    const RowSink store = [](curs& cur, const SelectDescriptor* d, const std::string& t) {
        return merge_text(cur, d, t, RowOrigin::fetch_exit);
    };
    for (auto _ : state) {
        const auto begun = Clock::now();
        FetchExitWork w;
        w.kind = 2;
        w.cursor = &c;
        w.result = &rs;
        w.date = "20240101120000";
        execopt o;
        o.flags = exec_options_set;
        o.line_limit = static_cast<int>(n);
        u_exec_timed_words(words, 60, o, [&w](const std::string& l) { return parse_exit_line(w, l); });
        const long rows = static_cast<long>(rs.rows);
        ++c.sample_no;
        c.fetch_rows = 0;
        c.row_no = 0;
        if (merge_DB_DATA2curs(w, c, store) != 0 || rows != n) state.SkipWithError("parse or store failed");
        note(state, std::string("collector ") + kind_name(kind) + std::to_string(n),
             std::chrono::duration<double>(Clock::now() - begun).count(), n);
    }
    delete_cursors();
    const std::string at = std::string(kind_name(kind)) + std::to_string(n);
    const std::string getline_at = "getline " + at, collector_at = "collector " + at;
    if (n == kLines && best().count(getline_at)) {
        const double ratio = best()[getline_at] / best()[collector_at];
        state.counters["of_getline"] = ratio;
        std::printf("fetch exit (%s), %ld lines: getline %.1f ms, parse and store %.1f ms (fastest), %.2f of getline"
                    " (goal at least 0.5)\n", kind_name(kind), n, best()[getline_at] * 1e3, best()[collector_at] * 1e3,
                    ratio);
        const std::string small = std::string("collector ") + kind_name(kind) + "10000";
        if (best().count(small))
            std::printf("fetch exit (%s): 10,000 lines %.1f ms, 100,000 lines %.1f ms, 10x/1x %.2f (goal at most 12)\n",
                        kind_name(kind), best()[small] * 1e3, best()[collector_at] * 1e3,
                        best()[collector_at] / best()[small]);
        std::fflush(stdout);
    }
}

BENCHMARK(BM_GetlineLoop)->ArgsProduct({{10000, kLines}, {0, 1}})->Iterations(10)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseAndStore)->ArgsProduct({{10000, kLines}, {0, 1}})->Iterations(10)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
