// Reading a cursor's rows out into clusters.
#include "pipeline/cluster.h"

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "pipeline/column_function.h"
#include "pipeline/cursor_run.h"
#include "pipeline/percent_cursor.h"
#include "pipeline/row_store.h"
#include "pipeline/send_layout.h"
#include "runtime/clock.h"

namespace qvx {

namespace {

struct ClusterFree {
    void operator()(cluster* cl) const noexcept {
        cl->~cluster();
        ::operator delete(cl);
    }
};
using ClusterPtr = std::unique_ptr<cluster, ClusterFree>;

// The open clusters; whatever is still open at exit is freed with it.
std::vector<ClusterPtr>& open_clusters() {
    static std::vector<ClusterPtr> open;
    return open;
}

std::vector<ClusterPtr>::iterator find_open(const cluster* cl) {
    auto& open = open_clusters();
    return std::find_if(open.begin(), open.end(), [cl](const ClusterPtr& p) { return p.get() == cl; });
}

// One block of the rows from first on for which wanted is true.
template <class Wanted>
cluster* make_cluster(curs& c, const row_data* first, Wanted wanted) {
    size_t count = 0;
    for (const row_data* r = first; r; r = r->next)
        if (wanted(*r)) ++count;
    const size_t len = static_cast<size_t>(std::max(c.row_size ? c.row_size : get_row_size(c), 0));
    void* block = ::operator new(sizeof(cluster) + count * len, std::nothrow);
    if (!block) return nullptr;
    ClusterPtr cl(new (block) cluster);
    cl->count = static_cast<int32_t>(count);
    cl->len = static_cast<int32_t>(len);
    cl->cur = cl->data();
    cl->end = cl->data() + count * len;
    char* dest = cl->data();
    for (const row_data* r = first; r; r = r->next) {
        if (!wanted(*r)) continue;
        make_row(c, dest, *r);
        dest += len;
    }
    open_clusters().push_back(std::move(cl));
    return open_clusters().back().get();
}

// One block of the rows of the cursor, all or only the current sample.
cluster* rows_cluster(curs& c, bool current_sample_only) {
    return make_cluster(c, c.rows.first(),
                        [&](const row_data& r) { return !current_sample_only || r.sample_no == c.sample_no; });
}

// A cursor with column functions answers with its one column-function row
// (none when a function failed); any other with its rows, only the current
// sample with a samples limit.
cluster* answer_rows(curs& c, bool current_sample_only) {
    if (!c.has_col_funct) return rows_cluster(c, current_sample_only);
    row_data* row = do_column_func(c);
    if (!row) return nullptr;
    return make_cluster(c, row, [](const row_data&) { return true; });  // the row stands alone
}

} // namespace

cluster* open_cursor(curs& c) {
    if (&c == percent_cursor || c.held == 'Y') return nullptr;
    if (c.virtual_cur) return rows_cluster(c, false);
    if (c.demand && now_relative() >= static_cast<long>(c.stale_until)) {
        if (c.age_to.empty() && !c.is_age_copy) delete_all(c);
        return prep_demand(c);
    }
    return answer_rows(c, c.sample_limit > 0);
}

cluster* prep_demand(curs& c) {
    if (c.held == 'Y') return nullptr;
    // An age_to copy gets its rows from its source, not from a run.
    if (!is_age_to_copy(c)) {
        take_parameter_widths(c);
        c.stale_until = static_cast<uint32_t>(now_relative() + c.stale);
        if (get_cursor_data(c) != 0) return nullptr;
    }
    cluster* cl = answer_rows(c, false);
    // An age_to target keeps its rows until the next copy replaces them.
    if (c.stale == 0 && !c.is_age_copy) delete_all(c);
    return cl;
}

int fetch_cur(cluster* cl) {
    if (!cl || find_open(cl) == open_clusters().end()) return 100;
    if (cl->cur >= cl->end) {
        cl->started = 1;
        return cl->rc = 100;
    }
    if (!cl->started) {
        cl->started = 1;
        return cl->rc = 0;
    }
    cl->cur += cl->len;
    return cl->rc = cl->cur >= cl->end ? 100 : 0;
}

int close_cur(cluster* cl) {
    auto it = find_open(cl);
    if (it == open_clusters().end()) return 1;
    open_clusters().erase(it);
    return 0;
}

} // namespace qvx
