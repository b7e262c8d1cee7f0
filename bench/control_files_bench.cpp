// Reading control files: a large DICT.CTL and PROCESS.CTL, as the
// collector reads them at start-up.
#include <benchmark/benchmark.h>

#include "scratch.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "control/dict_parms.h"
#include "control/dictionary.h"
#include "control/distributor.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"

namespace fs = std::filesystem;
using namespace qvx;

namespace {

using qvxbench::Scratch;

void BM_ParseDict(benchmark::State& state) {
    Scratch s;
    const int n = static_cast<int>(state.range(0));
    std::string text;
    for (int i = 0; i < n; ++i) {
        text += "name elem" + std::to_string(i) + ";\n";
        text += (i % 2) ? "  type CHAR(40);\n  initial 'some text value';\n"
                        : "  type INTEGER;\n  initial 12345;\n";
    }
    text += "end;\n";
    s.write("qvxdict.ctl", text);
    for (auto _ : state) {
        reset_dictionary();
        if (parse_dict() != 0) state.SkipWithError("parse_dict failed");
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ParseDict)->Arg(5000)->Unit(benchmark::kMillisecond);

void BM_ParseProcess(benchmark::State& state) {
    Scratch s;
    const int n = static_cast<int>(state.range(0));
    std::string text = "process collector;\n type local;\n interval 60;\n";
    for (int i = 0; i < n; ++i) {
        text += "process dist" + std::to_string(i) + ";\n type local;\n interval 30;\n";
        text += " Mon_Fri_start 0700;\n Mon_Fri_end 1900;\n class 3;\n";
    }
    text += "end;\n";
    s.write("qvxproc.ctl", text);
    for (auto _ : state) {
        reset_distributors();
        if (parse_distributor() != 0) state.SkipWithError("parse_distributor failed");
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ParseProcess)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace
