#include "pipeline/row_steps.h"

#include <array>

#include "pipeline/column_exit.h"
#include "pipeline/decode_eval.h"
#include "pipeline/math_eval.h"
#include "pipeline/water_mark.h"

namespace qvx {

namespace {

constexpr std::array kSteps{
    RowStep{"water", apply_water_marks},
    RowStep{"math", math_row_step},
    RowStep{"decode", decode_row},
    RowStep{"column_exit", column_exit_row},
};

} // namespace

std::span<const RowStep> row_steps() { return kSteps; }

void run_row_steps(curs& c, row_data& row) {
    for (const RowStep& step : kSteps)
        if (step.run) step.run(c, row);
}

} // namespace qvx
