#include "pipeline/edit_passes.h"

#include <array>

#include "control/cursor.h"
#include "control/versions.h"
#include "pipeline/age_to.h"
#include "pipeline/bases.h"
#include "pipeline/column_exit.h"
#include "pipeline/column_ref.h"
#include "pipeline/cursor_chain.h"
#include "pipeline/decode_eval.h"
#include "pipeline/in_list.h"
#include "pipeline/loads.h"
#include "pipeline/math_eval.h"
#include "pipeline/percent_cursor.h"
#include "pipeline/virtual_cursors.h"
#include "runtime/exit_path.h"

namespace qvx {

namespace {

constexpr std::array kPasses{
    EditPass{"percent", create_percent_cursor},
    EditPass{"virtual", init_virtuals},
    EditPass{"age_to", edit_age_to},
    EditPass{"versions", define_vers_chain},
    EditPass{"decodes", edit_decode},
    EditPass{"pre_cursor", edit_pre_cursors},
    EditPass{"in_list", edit_in_lists},
    EditPass{"base", edit_bases},
    EditPass{"math", edit_math},
    EditPass{"column_exit", edit_col_exits},
    EditPass{"iterate", edit_iterates},
    EditPass{"iterate_where", edit_iterate_where},
    EditPass{"loads", load_pass},
    EditPass{"qualified", set_qualifieds},
};

} // namespace

std::span<const EditPass> edit_passes() { return kPasses; }

int run_edit_passes() {
    for (const EditPass& pass : kPasses) {
        if (!pass.run) continue;
        if (const int rc = pass.run(); rc != 0) return rc;
    }
    return 0;
}

int load_cursors() {
    const int rc = parse_curs();
    return rc == 0 ? run_edit_passes() : rc;
}

int init_cursors() {
    const int rc = load_cursors();
    if (rc != 0) {
        delete_cursors();
        quitting(-1001);
    }
    return rc;
}

} // namespace qvx
