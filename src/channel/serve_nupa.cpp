#include "channel/serve_nupa.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "pipeline/cluster.h"
#include "pipeline/cursor_run.h"
#include "runtime/messages.h"
#include "runtime/run_requests.h"
#include "runtime/window.h"

namespace qvx {

const curs* last_curs = nullptr;

namespace {

bool class_named(const distrib& d, int32_t class_no) {
    return class_no >= 0 && class_no < static_cast<int32_t>(d.class_sw.size()) &&
           d.class_sw[static_cast<size_t>(class_no)] != 0;
}

} // namespace

int send_a_row(const curs& c, const char* row) {
    if (&c != last_curs) {
        last_curs = &c;
        PRINT('i', "cpr1890", "%s\n", c.insert ? c.insert->c_str() : "");
    }
    int number = 0;
    for (const columns& col : c.cols) {
        ++number;
        const char* value = row + col.row_offset;
        std::string text;
        int ll = 0;
        switch (col.send_type) {
            case SendType::integer: {
                int32_t x;
                std::memcpy(&x, value, sizeof x);
                text = std::to_string(x);
                ll = 4;
                break;
            }
            case SendType::floating: {
                double x;
                std::memcpy(&x, value, sizeof x);
                char buf[512];
                std::snprintf(buf, sizeof buf, "%f", x);
                text = buf;
                ll = 8;
                break;
            }
            case SendType::none:
                text = "ZIP";
                break;
            default: {
                ll = col.set_length ? col.set_length : col.length;
                size_t n = static_cast<size_t>(ll > 0 ? ll : 0);
                while (n > 1 && value[n - 1] == ' ') --n;
                text.assign(value, n);
                break;
            }
        }
        PRINT('i', "cpr1895", "#=%d,n=%s,l=%d,o=%d,ll=%d:%s\n", number, col.name.c_str(),
              static_cast<int>(text.size()), col.row_offset, ll, text.c_str());
    }
    return 0;
}

int do_nupa(distrib& d, long time) {
    int rc = 0;
    for (const auto& cp : cur_anchor) {
        curs& c = *cp;
        // Cursors with evaluations are written by the evaluator.
        if (is_age_to_copy(c) || !c.evals.empty()) continue;
        if (static_cast<long>(c.window_end) <= time) set_window_c(c, time);
        if (static_cast<long>(c.window_start) > time || !class_named(d, c.class_no) || c.held == 'Y') continue;
        PRINT('i', "cir1650", "Nupa for %s\n", c.cur_name.c_str());
        cluster* cl = open_cursor(c);
        if (!cl) continue;
        bool stopped = false;
        while (!stopped && fetch_cur(cl) == 0) stopped = send_a_row(c, cl->cur) != 0;
        rc = close_cur(cl);
        if (stopped) break;
    }
    return rc;
}

void reset_nupa() { last_curs = nullptr; }

} // namespace qvx
