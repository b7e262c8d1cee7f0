// The collector against a throwaway PostgreSQL server: one server for the
// tests of a suite, a collector run that logs on to the suite's database
// as "monitor", and the control files of examples/postgresql/.
#pragma once

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "blackbox/harness.h"
#include "support/pg_fixture.h"

namespace qvxtest {

inline std::string pg_example(const std::string& base) {
    return read_file(std::string(QVX_SOURCE_DIR) + "/examples/postgresql/qvx" + base + ".ctl");
}

// The ODBC logon of the "monitor" role to a database of the server.
inline std::string pg_monitor_connect(const PgServer& server, const std::string& database) {
    return "odbc:" + server.odbc_string(database) + ";UID=monitor;PWD={mon pw}";
}

// The example's process and collect files with every interval `every`
// seconds (the 300 of the table sizes too) and the collector ending after
// go_home seconds, and its dictionary.
inline void pg_example_files(CollectorRun& run, int go_home, int every = 2) {
    const std::string interval = "interval " + std::to_string(every) + ";";
    run.control("proc", replaced_all(pg_example("proc"), "interval 30;", interval));
    run.control("dict", pg_example("dict"));
    const std::string coll =
        replaced_all(replaced_all(pg_example("coll"), "interval 300;", "interval 30;"), "interval 30;", interval);
    run.control("coll", coll.substr(0, coll.rfind("end;")) + "  go_home " + std::to_string(go_home) + ";\nend;\n");
}

// A suite whose tests share one server. Suite names the database the
// collector logs on to (kDatabase) and prepares the server once
// (static bool prepare(PgServer&), which makes the "monitor" role too).
template <class Suite>
class PgSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = std::make_unique<PgServer>();
        ok_ = server_->ok() && Suite::prepare(*server_);
    }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override {
        ASSERT_TRUE(server_ && server_->ok()) << (server_ ? server_->error() : "");
        ASSERT_TRUE(ok_) << "setting up the databases failed";
        run_.env["ODBCSYSINI"] = std::getenv("ODBCSYSINI") ? std::getenv("ODBCSYSINI") : "";
        run_.env["COLL_CONNECT"] = pg_monitor_connect(*server_, Suite::kDatabase);
    }

    // psql's answer as the administrator; a failure fails the test.
    std::string psql(const std::string& sql) {
        const std::optional<std::string> out = server_->query(sql);
        EXPECT_TRUE(out.has_value()) << sql;
        return out.value_or("<psql failed>");
    }

    static inline std::unique_ptr<PgServer> server_;
    static inline bool ok_ = false;
    CollectorRun run_;
};

} // namespace qvxtest
