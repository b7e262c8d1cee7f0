// Shared by the row-store tests: cursors declared by their host-variable
// words, select lists built by hand, and a fetch loop that hands rows to
// merge_text the way the database fetch does.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "control/cursor.h"
#include "db/fetch.h"
#include "pipeline/row_store.h"
#include "pipeline/send_layout.h"
#include "support/state.h"

namespace rowtest {

using Value = std::optional<std::string>;  // nullopt: a null value
using Row = std::vector<Value>;

// A select list and its current row as the fetch leaves them: numbers
// right-justified to the width, text followed by zero bytes.
struct Select {
    qvx::SelectDescriptor d;

    Select& item(const std::string& name, int16_t type, int32_t width) {
        d.items.push_back({.name = name, .type = type, .buf_len = width, .orig_type = type});
        d.offset.push_back(static_cast<int32_t>(d.buffer.size()));
        d.buffer.resize(d.buffer.size() + static_cast<size_t>(width));
        d.value_len.push_back(0);
        d.indicator.push_back(0);
        return *this;
    }

    void set(const Row& values) {
        for (size_t i = 0; i < d.items.size(); ++i) {
            const auto width = static_cast<size_t>(d.items[i].buf_len);
            const Value value = i < values.size() ? values[i] : Value{};
            std::string s = value.value_or("");
            if (d.items[i].type == 2 && s.size() < width) s.insert(0, width - s.size(), ' ');
            s.resize(width, '\0');
            std::copy(s.begin(), s.end(), d.buffer.begin() + d.offset[i]);
            d.indicator[i] = value ? 0 : -1;
            d.value_len[i] = static_cast<int32_t>(std::min(width, value.value_or("").size()));
            if (d.items[i].type == 2) d.value_len[i] = static_cast<int32_t>(width);
        }
    }
};

inline qvx::curs& make_cursor(const std::string& name, const std::vector<std::string>& words) {
    auto c = std::make_unique<qvx::curs>();
    c->cur_name = name;
    c->row_limit = 200;
    for (const std::string& w : words) EXPECT_EQ(qvx::add_column(w, *c), 0) << w;
    return qvx::add_cursor(std::move(c));
}

// One sample through merge_text; the first failing result, else the last.
inline int fetch(qvx::curs& c, Select* sel, const std::vector<Row>& rows,
                 const std::string& time_text = "20240102030405") {
    ++c.sample_no;
    c.row_no = 0;
    int rc = 0;
    for (const Row& r : rows) {
        if (sel) sel->set(r);
        ++c.row_no;
        if ((rc = qvx::merge_text(c, sel ? &sel->d : nullptr, time_text)) <= 0) break;
    }
    return rc;
}

inline std::string column_text(const qvx::curs& c, const qvx::row_data& r, const std::string& name) {
    for (const qvx::columns& col : c.cols)
        if (col.name == name) return std::string(r.text() + col.buf_offset, static_cast<size_t>(col.length));
    ADD_FAILURE() << "no column " << name;
    return {};
}

// One column over the stored rows, oldest first.
inline std::vector<std::string> column_values(const qvx::curs& c, const std::string& name) {
    std::vector<std::string> out;
    for (const qvx::row_data* r = c.rows.first(); r; r = r->next) out.push_back(column_text(c, *r, name));
    return out;
}

// The send-layout image of the cursor's newest row.
inline std::vector<char> image(qvx::curs& c) {
    std::vector<char> out(static_cast<size_t>(qvx::get_row_size(c)));
    qvx::make_row(c, out.data(), *c.rows.last());
    return out;
}

// Every test starts from a collector without cursors or distributors.
class StoreTest : public ::testing::Test {
protected:
    void SetUp() override { qvxtest::reset_collector_state(); }
};

} // namespace rowtest
