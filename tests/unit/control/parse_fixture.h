// Shared by the control-file tests: a collector whose home, output and
// temporary directories are one fresh directory, a control file written
// there and parsed, and the messages the parse wrote.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "model/cursor_list.h"
#include "model/distributor.h"
#include "runtime/messages.h"
#include "support/state.h"
#include "support/testenv.h"

namespace ctltest {

class ParseTest : public ::testing::Test {
protected:
    void SetUp() override { qvxtest::reset_collector_state_in(dir.path()); }
    void TearDown() override { qvxtest::reset_collector_state(); }

    // Runs the parse and keeps what it wrote, to the standard streams and
    // to the message output file (closed first, so each parse has its own).
    int run(const std::function<int()>& parse) {
        qvx::close_PRINT();
        int rc = -1;
        out = qvxtest::captured([&] { rc = parse(); });
        if (qvx::print_file_open()) out += qvxtest::read_file(qvx::print_file_path());
        return rc;
    }
    int parse_file(const std::string& name, const std::string& text, const std::function<int()>& parse) {
        dir.write(name, text);
        return run(parse);
    }
    // True when one line of the output begins with the message id and
    // holds the text.
    bool said(const std::string& id, const std::string& text = "") const {
        for (const auto& line : qvxtest::split_lines(out))
            if (line.rfind(id, 0) == 0 && line.find(text) != std::string::npos) return true;
        return false;
    }

    // A fresh cursor list of empty cursors A and B, for files that name cursors.
    static void two_cursors() {
        qvx::delete_cursors();
        for (const char* name : {"A", "B"}) {
            auto c = std::make_unique<qvx::curs>();
            c->cur_name = name;
            qvx::add_cursor(std::move(c));
        }
    }

    qvxtest::TempDir dir;
    std::string out;
};

constexpr long H = 3600;

// Operating ranges as (start, end) seconds of the day.
using Spans = std::vector<std::pair<long, long>>;
inline Spans span(const std::vector<qvx::OpRange>& list) {
    Spans v;
    for (const auto& r : list) v.emplace_back(r.start, r.end);
    return v;
}

} // namespace ctltest
