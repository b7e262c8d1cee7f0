// Shared by the database tests: the collector's logon and one collection
// of a SELECT, with the rows and select items the row sink was handed.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/connection.h"
#include "db/database.h"
#include "db/fetch.h"
#include "pipeline/row_sources.h"
#include "support/state.h"
#include "support/testenv.h"

namespace dbtest {

class FetchTest : public ::testing::Test {
protected:
    void SetUp() override {
        qvxtest::reset_collector_state();
        collector.distrib_name = "collector";
        collector.type = 1;
    }
    void TearDown() override { qvx::reset_database(); }

    int logon() {
        const int rc = qvx::connect_to_DB(collector);
        if (rc == 0) qvx::database_info.connected = true;
        return rc;
    }

    // One collection of sql; each row's values as text, "<null>" for a null.
    int fetch(const std::string& sql, int sink_result = 1) {
        cursor.sel_piece = sql;
        rows.clear();
        items.clear();
        qvx::RowSink sink = [&](qvx::curs&, const qvx::SelectDescriptor* d, const std::string&) {
            items = d->items;
            std::vector<std::string> r;
            for (size_t i = 0; i < d->items.size(); ++i)
                r.push_back(d->indicator[i] < 0 ? "<null>" : std::string(d->value(i), d->value_len[i]));
            rows.push_back(r);
            return sink_result;
        };
        int count = 0;
        return qvx::prep_l_fetch(cursor, "20240101120000", count, sink);
    }

    qvxtest::ScopedEnv env_;
    qvx::distrib collector;
    qvx::curs cursor;
    std::vector<std::vector<std::string>> rows;
    std::vector<qvx::SelectItem> items;
};

} // namespace dbtest
