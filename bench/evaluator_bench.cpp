// One evaluator pass: 100 evaluations over a cursor of 1,000 and 10,000
// stored rows (the rows read out, copied into entries, every evaluation
// tested against every row not yet selected, the selected rows formatted
// for the sender). The thresholds select about one row in a hundred, so
// nearly every evaluation walks the whole cursor.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "channel/evaluator.h"
#include "control/cursor.h"
#include "model/cursor_list.h"
#include "pipeline/row_store.h"
#include "runtime/clock.h"

namespace {

constexpr int kWidth = 12;
constexpr int kEvaluations = 100;

long sent = 0;
int count_row(const qvx::curs&, const char*) { return ++sent, 0; }

// A cursor open all day with a number column V (values 0..9999 spread
// over the rows) and a text column T, and the evaluations: half "V >"
// a threshold near the top, half "T =" a name that few rows hold.
qvx::curs& make_cursor(long rows) {
    qvx::delete_cursors();
    auto cp = std::make_unique<qvx::curs>();
    qvx::curs& c = *cp;
    c.cur_name = "BENCH";
    c.ranges = {{{{0, 86400}}, {{0, 86400}}, {{0, 86400}}}};
    for (const char* word : {"V", "T"}) qvx::add_column(word, c);
    int32_t offset = 0;
    for (qvx::columns& col : c.cols) {
        col.orig_type = col.name == "V" ? 2 : 1;
        col.length = kWidth;
        col.buf_offset = offset;
        offset += kWidth + 1;
    }
    c.length = offset - 1;
    c.sample_no = 1;
    c.row_limit = static_cast<int32_t>(rows);
    for (long i = 0; i < rows; ++i) {
        qvx::row_data* r = qvx::row_data::create(static_cast<size_t>(c.length));
        std::snprintf(r->text(), static_cast<size_t>(c.length) + 1, "%*ld%c%-*s", kWidth, (i * 7919) % 10000, '\0',
                      kWidth, ("name" + std::to_string(i % 500)).c_str());
        r->sample_no = 1;
        r->row_no = static_cast<int32_t>(i + 1);
        qvx::append_row(c, r);
    }
    for (int k = 0; k < kEvaluations; ++k) {
        qvx::e_ptr e;
        e.name = "e" + std::to_string(k);
        e.cursor_name = c.cur_name;
        e.ordinal = k + 1;
        const bool number = k % 2 == 0;
        e.col_name = number ? "V" : "T";
        e.col_name_ll = 1;
        (number ? e.greater : e.equal) = 1;
        e.value_type = number ? 1 : 2;
        e.value = 9900 + k;
        e.value_text = number ? std::to_string(9900 + k) : "name" + std::to_string(k);
        e.value_ll = static_cast<int16_t>(e.value_text.size());
        c.evals.insert(c.evals.begin(), std::move(e));
    }
    return qvx::add_cursor(std::move(cp));
}

void BM_EvaluatorPass(benchmark::State& state) {
    make_cursor(state.range(0));
    qvx::distrib process;
    process.distrib_name = "evaluator";
    process.class_sw[0] = 1;
    const long now = qvx::now_relative();
    sent = 0;
    for (auto _ : state) {
        if (qvx::do_evaluator(now, process, count_row) != 0) state.SkipWithError("evaluation run failed");
    }
    state.counters["rows_sent"] = benchmark::Counter(static_cast<double>(sent) / static_cast<double>(state.iterations()));
    state.SetItemsProcessed(state.iterations() * state.range(0) * kEvaluations);
    qvx::delete_cursors();
}
BENCHMARK(BM_EvaluatorPass)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace
