// Reading a large COLLECT.CTL, as the collector does at start-up: every
// cursor with an INSERT of eight host variables, schedule limits, windows,
// a math and a load clause.
#include <benchmark/benchmark.h>

#include "scratch.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "control/cursor.h"
#include "runtime/messages.h"
#include "runtime/settings.h"

namespace fs = std::filesystem;
using namespace qvx;

namespace {

using qvxbench::Scratch;

std::string collect_file(int cursors) {
    std::string text;
    for (int i = 0; i < cursors; ++i) {
        const std::string n = std::to_string(i);
        text += "cursor C" + n + ";\n";
        text += "insert INTO sys.perf" + n +
                " (NAME, BUSY, IDLE, READS, WRITES, WAITS, SESSIONS, LOGON)\n"
                "  VALUES (:NAME, :AVG!BUSY, :INT!IDLE, :5SUM!READS, :WRITES^12,\n"
                "          :MAX!WAITS, :COUNT!SESSIONS, :TS!LOGON);\n";
        text += "insert_where busy > 0;\ninterval 60;\nlimit 500;\n";
        text += "mon_fri_start 0800;\nmon_fri_end 1800;\nsaturday_start 2200;\nsaturday_end 0200;\n";
        text += "math RATIO = :BUSY / (:BUSY + :IDLE);\n";
        text += "load C" + std::to_string(i > 0 ? i - 1 : 0) + ".NAME = NAME;\n";
    }
    text += "end;\n";
    return text;
}

void BM_ParseCollect(benchmark::State& state) {
    Scratch s;
    const int n = static_cast<int>(state.range(0));
    s.write("qvxcoll.ctl", collect_file(n));
    for (auto _ : state) {
        if (parse_curs() != 0) state.SkipWithError("parse_curs failed");
    }
    delete_cursors();
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ParseCollect)->Arg(5000)->Unit(benchmark::kMillisecond);

} // namespace
