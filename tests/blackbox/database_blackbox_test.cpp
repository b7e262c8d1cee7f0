// The collector against real databases: the SQLite example control files
// on a database the test builds, PostgreSQL through psqlODBC (values, a
// server restart between passes), and bad input that must not stop the
// collector before its go_home time. Rows are read back from the "nupa"
// distributor's listing in the message output.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "blackbox/pg_harness.h"

using namespace qvxtest;

namespace {

const std::string kExampleDir = std::string(QVX_SOURCE_DIR) + "/examples/sqlite";

// The example's control files. Its monitor-counter cursors read the tables
// of make-sysmon-db.sh, which the databases here do not have: COLLECT.CTL
// comes without them.
std::string example(const std::string& base) {
    const std::string text = read_file(kExampleDir + "/qvx" + base + ".ctl");
    return base == "coll" ? text.substr(0, text.find("; Monitor counters")) + "end;\n" : text;
}

// A database with two tables, an index, a view and a table that was
// dropped after it was filled, so that the free list is not empty.
void build_sample(const std::string& path) {
    sqlite(path, "PRAGMA page_size = 1024;"
            "CREATE TABLE t_accounts (id INTEGER PRIMARY KEY, owner VARCHAR(30), balance NUMERIC(12,2));"
            "CREATE INDEX t_accounts_owner ON t_accounts (owner);"
            "CREATE TABLE t_events (at TEXT, what TEXT);"
            "CREATE VIEW v_rich AS SELECT * FROM t_accounts WHERE balance > 1000;"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400)"
            " INSERT INTO t_accounts (owner, balance) SELECT 'owner ' || i, i * 7.5 FROM n;"
            "INSERT INTO t_events VALUES ('2024-01-01 00:00:00', 'opened');"
            "CREATE TABLE t_gone (x TEXT);"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100)"
            " INSERT INTO t_gone SELECT printf('%.*c', 500, 'z') FROM n;"
            "DROP TABLE t_gone;");
}

// The SQLite example's process (its 5-second intervals made `every`) and
// dictionary files, the given collect file, and COLL_CONNECT naming a
// freshly built sample database, whose path comes back.
std::string sqlite_setup(CollectorRun& c, const std::string& coll, int every = 5) {
    const std::string db = c.dir.file("sample.db");
    build_sample(db);
    c.control("proc", every == 5 ? example("proc")
                                 : replaced_all(example("proc"), "interval 5;", "interval " + std::to_string(every) + ";"));
    c.control("dict", example("dict"));
    c.control("coll", coll);
    c.env["COLL_CONNECT"] = "sqlite:" + db;
    return db;
}

// ---------------------------------------------------------------------
// The SQLite example

TEST(SqliteExample, EveryCursorDeliversTheDatabasesOwnFigures) {
    CollectorRun c;
    // One collection and one nupa pass are enough.
    const std::string db = sqlite_setup(c, replaced(example("coll"), "end;", "  go_home 7;\nend;"));
    const std::string page_count = sqlite(db, "PRAGMA page_count"), freelist = sqlite(db, "PRAGMA freelist_count");
    const std::string accounts_bytes = sqlite(db, "SELECT SUM(pgsize) FROM dbstat WHERE name = 't_accounts'");
    const std::string accounts_pages = sqlite(db, "SELECT COUNT(*) FROM dbstat WHERE name = 't_accounts'");
    const std::string index_bytes = sqlite(db, "SELECT SUM(pgsize) FROM dbstat WHERE name = 't_accounts_owner'");
    ASSERT_NE(freelist, "0") << "the sample should have free pages";
    RunResult r = c.run({"-logonid", "monitor"}, 60);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string out = c.output();
    EXPECT_NE(out.find("Collector ended"), std::string::npos) << out;
    EXPECT_EQ(out.find("CGN1521E"), std::string::npos) << "a cursor failed:\n" << out;
    // Ending the read-only connection at the end is no commit failure.
    EXPECT_EQ(out.find("RCC0360W"), std::string::npos) << out;

    std::vector<Row> pages = nupa_rows(out, "DBPAGES");
    ASSERT_EQ(pages.size(), 1u) << out;
    EXPECT_EQ(pages[0]["page_count"], page_count);
    EXPECT_EQ(pages[0]["page_size"], "1024");
    EXPECT_EQ(pages[0]["freelist_count"], freelist);
    // The math column: the share of pages in use, to one decimal, halves
    // rounded up.
    const double used = (std::stod(page_count) - std::stod(freelist)) * 100 / std::stod(page_count);
    char want[32];
    std::snprintf(want, sizeof want, "%.1f", std::floor(used * 10 + 0.5) / 10);
    EXPECT_EQ(pages[0]["used_pct"], want) << out;

    std::vector<Row> sizes = nupa_rows(out, "OBJSIZE");
    const Row* accounts = find_row(sizes, "name", "t_accounts");
    ASSERT_NE(accounts, nullptr) << out;
    EXPECT_EQ(accounts->at("bytes"), accounts_bytes);
    EXPECT_EQ(accounts->at("pages"), accounts_pages);
    const Row* index = find_row(sizes, "name", "t_accounts_owner");
    ASSERT_NE(index, nullptr) << out;
    EXPECT_EQ(index->at("bytes"), index_bytes);
    EXPECT_NE(find_row(sizes, "name", "t_events"), nullptr);
    EXPECT_EQ(find_row(sizes, "name", "t_gone"), nullptr) << "a dropped table is still listed";
    // Biggest first: the accounts table outgrows everything else.
    EXPECT_EQ(sizes.front()["name"], "t_accounts");

    std::vector<Row> schema = nupa_rows(out, "SCHEMA");
    EXPECT_EQ(schema.size(), 4u) << out;  // two tables, an index, a view
    const Row* idx = find_row(schema, "name", "t_accounts_owner");
    ASSERT_NE(idx, nullptr) << out;
    EXPECT_EQ(idx->at("type"), "index");
    EXPECT_EQ(idx->at("tbl_name"), "t_accounts");
    const Row* view = find_row(schema, "name", "v_rich");
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->at("type"), "view");
}

TEST(SqliteExample, LaterPassesSeeTheDatabaseChange) {
    CollectorRun c;
    const std::string db = sqlite_setup(
        c, replaced(replaced_all(example("coll"), "interval 5;", "interval 2;"), "end;", "  go_home 20;\nend;"), 2);
    Spawned p = spawn_program(bin_path("qvxcoll"), {"-logonid", "monitor"}, c.env, c.dir.path());
    const std::string out_path = c.dir.file(c.output_name());
    ASSERT_TRUE(wait_for_text(out_path, ":v_rich", 20)) << read_file(out_path);

    // A new table while the collector runs (the collector only reads).
    sqlite(db, "CREATE TABLE t_later (x INTEGER);");
    EXPECT_TRUE(wait_for_text(out_path, ":t_later", 20)) << read_file(out_path);
    EXPECT_EQ(wait_program(p, 60), 0);
    const std::string out = read_file(out_path);
    std::vector<Row> schema = nupa_rows(out, "SCHEMA");
    EXPECT_NE(find_row(schema, "name", "t_later"), nullptr);
    EXPECT_NE(out.find("Collector ended"), std::string::npos);
}

// ---------------------------------------------------------------------
// PostgreSQL through psqlODBC

// The example's cursors read SQLite's own catalogue (dbstat, pragma
// functions), which PostgreSQL does not have; these are the same three
// questions asked of PostgreSQL's statistics views and catalogue. psqlODBC
// hands "name" and "text" columns over as long text, which the fetch
// refuses, so they are cast to varchar(n) -- with CAST(... AS ...): every
// word with a colon is a host variable, so "::" casts cannot be written.
const char* const kPgCollect =
    "cursor DBSTAT;\n"
    "  INSERT INTO pg.database (datname, numbackends, xact_commit) VALUES (:datname, :INT!numbackends, "
    ":xact_commit);\n"
    "  insert_select SELECT CAST(datname AS varchar(64)) AS datname, numbackends, xact_commit FROM pg_stat_database;\n"
    "  insert_where datname = current_database();\n"
    "  interval INTERVAL;\n"
    "  limit 10;\n"
    "  samples 1;\n"
    "cursor RELSIZE;\n"
    "  INSERT INTO pg.relsize (relname, relkind, bytes) VALUES (:relname, :relkind, :bytes);\n"
    "  insert_select SELECT CAST(c.relname AS varchar(64)) AS relname, CAST(c.relkind AS varchar(1)) AS relkind,"
    " pg_relation_size(c.oid) AS bytes FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace;\n"
    "  insert_where n.nspname = 'shop' ORDER BY 1;\n"
    "  interval INTERVAL;\n"
    "  limit 100;\n"
    "  samples 1;\n"
    "; The SELECT is made from the host variables and the table name.\n"
    "cursor ITEMS;\n"
    "  INSERT INTO shop.items (name, qty, price) VALUES (:name, :INT!qty, :price);\n"
    "  insert_where qty > 0 ORDER BY name;\n"
    "  interval INTERVAL;\n"
    "  limit 100;\n"
    "  samples 1;\n"
    "  go_home GOHOME;\n"
    "end;\n";

// The collector logs on as the user of the connection string, which wins
// over a logon id on the command line.
class PgCollector : public PgSuite<PgCollector> {
public:
    static constexpr const char* kDatabase = "shopdb";
    static bool prepare(PgServer& server) {
        // pg_monitor, as the example asks of its logon id.
        return server.psql("CREATE ROLE monitor LOGIN PASSWORD 'mon pw'; GRANT pg_monitor TO monitor;"
                           "CREATE DATABASE shopdb OWNER monitor;") &&
               server.psql("SET ROLE monitor; CREATE SCHEMA shop;"
                           "CREATE TABLE shop.items (name varchar(20), qty integer, price numeric(8,2));"
                           "INSERT INTO shop.items VALUES ('widget', 3, 2.50), ('gadget', 12, 19.99),"
                           " ('sold out', 0, 1.00);"
                           "CREATE INDEX items_name ON shop.items (name);",
                           "shopdb");
    }

protected:
    void control_files(int interval, int go_home) {
        const std::string every = std::to_string(interval);
        run_.control("proc", replaced_all(example("proc"), "interval 5;", "interval " + every + ";"));
        run_.control("dict", example("dict"));
        run_.control("coll", replaced(replaced_all(kPgCollect, "INTERVAL", every), "GOHOME",
                                      std::to_string(go_home)));
    }
};

TEST_F(PgCollector, RowsOfEveryCursorArriveWithTheirValues) {
    control_files(5, 7);
    RunResult r = run_.run({"-logonid", "monitor"}, 60);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string out = run_.output();
    EXPECT_EQ(out.find("CGN1521E"), std::string::npos) << "a cursor failed:\n" << out;
    EXPECT_NE(out.find("Collector ended"), std::string::npos);

    std::vector<Row> items = nupa_rows(out, "ITEMS");
    ASSERT_EQ(items.size(), 2u) << out;  // "sold out" is filtered by insert_where
    EXPECT_EQ(items[0]["name"], "gadget");
    EXPECT_EQ(items[0]["qty"], "12");
    EXPECT_EQ(items[0]["price"], "19.99");
    EXPECT_EQ(items[1]["name"], "widget");
    EXPECT_EQ(items[1]["qty"], "3");
    EXPECT_EQ(items[1]["price"], "2.50");

    std::vector<Row> db = nupa_rows(out, "DBSTAT");
    ASSERT_EQ(db.size(), 1u) << out;
    EXPECT_EQ(db[0]["datname"], "shopdb");
    // The collector's own session is one of the backends.
    EXPECT_GE(std::atoi(db[0]["numbackends"].c_str()), 1);
    EXPECT_GT(std::atoll(db[0]["xact_commit"].c_str()), 0);

    std::vector<Row> rel = nupa_rows(out, "RELSIZE");
    const Row* table = find_row(rel, "relname", "items");
    ASSERT_NE(table, nullptr) << out;
    EXPECT_EQ(table->at("relkind"), "r");
    EXPECT_EQ(table->at("bytes"), "8192");  // three rows: one heap page
    const Row* index = find_row(rel, "relname", "items_name");
    ASSERT_NE(index, nullptr) << out;
    EXPECT_EQ(index->at("relkind"), "i");
}

// The PostgreSQL example as it stands: every SELECT prepares, then every
// cursor delivers this server's figures.
TEST_F(PgCollector, PostgresqlExampleChecksAndCollects) {
    pg_example_files(run_, 7, 5);
    run_.control("eval", pg_example("eval"));
    run_.control("trac", pg_example("trac"));

    RunResult check = run_.run({"--check", "--connect"});
    EXPECT_EQ(check.status, 0) << check.out;
    for (const char* cursor : {"DBSTAT", "SESSIONS", "LOCKWAIT", "RELSIZE", "DBHIT", "ACTIVITY", "BUSYSQL", "BACKENDS", "XACTS", "PGDIR", "CONNUSE", "CACHELOW", "SLOTLAG"})
        EXPECT_NE(check.out.find(std::string(" ") + cursor + " prepares\n"), std::string::npos) << check.out;
    // The logon line names the database but not the password.
    EXPECT_NE(check.out.find(";UID=monitor;PWD=***\n"), std::string::npos) << check.out;
    EXPECT_EQ(check.out.find("mon pw"), std::string::npos) << check.out;

    RunResult r = run_.run({}, 60);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string out = run_.output();
    EXPECT_EQ(out.find("CGN1521E"), std::string::npos) << "a cursor failed:\n" << out;
    const std::vector<Row> db = nupa_rows(out, "DBSTAT");
    ASSERT_EQ(db.size(), 1u) << out;
    EXPECT_GE(std::atoi(db[0].at("numbackends").c_str()), 1);
    EXPECT_NE(find_row(nupa_rows(out, "SESSIONS"), "state", "active"), nullptr) << out;
    const std::vector<Row> waits = nupa_rows(out, "LOCKWAIT");
    ASSERT_EQ(waits.size(), 1u) << out;
    EXPECT_EQ(waits[0].at("waiting"), "0");
    const std::vector<Row> sizes = nupa_rows(out, "RELSIZE");
    const Row* items = find_row(sizes, "relname", "items");
    ASSERT_NE(items, nullptr) << out;
    EXPECT_EQ(items->at("schema_name"), "shop");
}

// The password as qvxpass scrambles it for the logon id and server id,
// in a password file: refused while others may read it, then the
// collector unscrambles it and logs on.
TEST_F(PgCollector, ScrambledPasswordFromQvxpassLogsOn) {
    control_files(5, 7);
    const RunResult pass = run_program("/bin/sh", {"-c", "printf 'mon pw\\n' | " + bin_path("qvxpass") + " monitor SRV"},
                                       run_.env, run_.dir.path());
    ASSERT_EQ(pass.status, 0) << pass.err;
    const std::string scrambled = pass.out.substr(0, pass.out.find('\n'));
    ASSERT_TRUE(std::regex_match(scrambled, std::regex("[0-9A-F]{88}"))) << pass.out;
    run_.env["COLL_CONNECT"] = "odbc:" + server_->odbc_string("shopdb");
    const std::string file = run_.dir.write("password", scrambled + "\n");
    run_.env["COLL_PASSWORD_FILE"] = file;
    ::chmod(file.c_str(), 0644);
    RunResult r = run_.run({"-logonid", "monitor"}, 60);
    std::string out = run_.output();
    EXPECT_TRUE(has_line(out, "CML1528S", "COLL_PASSWORD_FILE: The password file '" + file + "' is readable by its group and all users"))
        << out;
    EXPECT_EQ(out.find("RCD0100"), std::string::npos) << "no logon without the password";

    ::chmod(file.c_str(), 0600);
    ::unlink(run_.dir.file(run_.output_name()).c_str());
    r = run_.run({"-logonid", "monitor"}, 60);
    ASSERT_EQ(r.status, 0) << r.err;
    out = run_.output();
    EXPECT_EQ(out.find("RCD0100E"), std::string::npos) << out;
    EXPECT_EQ(nupa_rows(out, "ITEMS").size(), 2u) << out;
}

TEST_F(PgCollector, ServerRestartBetweenPassesIsSurvived) {
    control_files(2, 30);
    Spawned p = spawn_program(bin_path("qvxcoll"), {"-logonid", "monitor"}, run_.env, run_.dir.path());
    const std::string out_path = run_.dir.file(run_.output_name());
    ASSERT_TRUE(wait_for_text(out_path, ":widget", 20)) << read_file(out_path);

    ASSERT_TRUE(server_->stop());
    size_t mark = read_file(out_path).size();
    EXPECT_TRUE(wait_for_text(out_path, "CGN1521E", 15, mark)) << read_file(out_path);

    ASSERT_TRUE(server_->start());
    // A row that exists only after the restart proves a fresh fetch.
    ASSERT_TRUE(server_->psql("INSERT INTO shop.items VALUES ('after restart', 1, 0.10);", "shopdb"));
    mark = read_file(out_path).size();
    EXPECT_TRUE(wait_for_text(out_path, ":after restart", 20, mark)) << read_file(out_path);

    EXPECT_EQ(wait_program(p, 60), 0) << read_file(run_.dir.file("stderr.txt"));
    const std::string out = read_file(out_path);
    EXPECT_NE(out.find("Collector ended"), std::string::npos) << out;
    // The lost connection is reported with its code and later passes log
    // on again.
    EXPECT_TRUE(out.find("-3113") != std::string::npos || out.find("-12541") != std::string::npos) << out;
    std::vector<Row> items = nupa_rows(out, "ITEMS");
    EXPECT_EQ(items.size(), 3u) << out;
    EXPECT_TRUE(server_->psql("DELETE FROM shop.items WHERE name = 'after restart';", "shopdb"));
}

// ---------------------------------------------------------------------
// The query time limit

// A SELECT that sleeps for an hour is cancelled by the server after the
// limit; the other cursors' rows arrive and the collector ends on time.
TEST_F(PgCollector, SleepingSelectIsCancelledAndTheOthersDeliver) {
    control_files(5, 7);
    run_.control("coll", "cursor SLEEPER;\n"
                         "  INSERT INTO pg.sleep (slept) VALUES (:slept);\n"
                         "  insert_select SELECT CAST(pg_sleep(3600) AS varchar(8)) AS slept;\n"
                         "  interval 5;\n"
                         "  limit 1;\n" +
                             replaced(replaced_all(kPgCollect, "INTERVAL", "5"), "GOHOME", "7"));
    run_.env["COLL_QUERY_TIMEOUT"] = "1";
    RunResult r = run_.run({"-logonid", "monitor"}, 60);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string out = run_.output();
    EXPECT_TRUE(has_line(out, "RPF0360E", "For cursor SLEEPER, SELECT ran past COLL_QUERY_TIMEOUT=1 seconds"))
        << out;
    EXPECT_TRUE(has_line(out, "RPF0360E", "canceling statement due to statement timeout")) << out;
    EXPECT_TRUE(has_line(out, "CGN1521E", "Interval collection failed for cursor SLEEPER")) << out;
    EXPECT_FALSE(has_line(out, "CGN1521E", "cursor ITEMS")) << out;
    EXPECT_EQ(nupa_rows(out, "ITEMS").size(), 2u) << out;
    EXPECT_NE(out.find("Collector ended"), std::string::npos);
}

// COUNTER counts up to the stop value of cfg; with stop 0 its SELECT never
// ends. The cancelled cursor keeps the rows of its earlier passes, the
// other cursor and the passes after it go on.
TEST(QueryTimeLimit, EndlessSelectIsCancelledItsRowsStayAndTheLoopGoesOn) {
    CollectorRun c;
    const std::string db = sqlite_setup(c,
              "cursor COUNTER;\n"
              "  INSERT INTO sqlite.counter (c) VALUES (:INT!c);\n"
              "  insert_select WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n"
              " WHERE i <> (SELECT stop FROM cfg)) SELECT count(*) AS c FROM n;\n"
              "  interval 2;\n"
              "  limit 5;\n"
              "cursor GOOD;\n"
              "  INSERT INTO t_events (what) VALUES (:what);\n"
              "  interval 2;\n"
              "  limit 10;\n"
              "  samples 1;\n"
              "  trace;\n"  // its trace lines flush the output file at every pass
              "  go_home 16;\n"
              "end;\n", 2);
    sqlite(db, "CREATE TABLE cfg (stop INTEGER); INSERT INTO cfg VALUES (3);");
    c.env["COLL_QUERY_TIMEOUT"] = "1";
    Spawned p = spawn_program(bin_path("qvxcoll"), {"-logonid", "monitor"}, c.env, c.dir.path());
    const std::string out_path = c.dir.file(c.output_name());
    ASSERT_TRUE(wait_for_text(out_path, "n=c,", 20)) << read_file(out_path);

    sqlite(db, "UPDATE cfg SET stop = 0;");
    ASSERT_TRUE(wait_for_text(out_path, "RPF0360E", 20)) << read_file(out_path);
    const size_t mark = read_file(out_path).size();
    ASSERT_TRUE(wait_for_text(out_path, "Nupa for GOOD", 20, mark)) << read_file(out_path);
    EXPECT_EQ(wait_program(p, 60), 0);

    const std::string out = read_file(out_path);
    const std::string after = out.substr(mark);
    EXPECT_TRUE(has_line(out, "RPF0360E", "For cursor COUNTER, SELECT ran past COLL_QUERY_TIMEOUT=1 seconds"))
        << out;
    EXPECT_TRUE(has_line(out, "RPF0360E", ": interrupted")) << out;
    EXPECT_GE(lines_with(out, "RPF0360E").size(), 2u) << "later passes run the cursor again\n" << out;
    EXPECT_TRUE(has_line(out, "CGN1521E", "Interval collection failed for cursor COUNTER")) << out;
    EXPECT_FALSE(has_line(out, "CGN1521E", "cursor GOOD")) << out;
    // Listed after the cancel: the counts of the passes before it.
    const std::vector<Row> counts = nupa_rows(after, "COUNTER");
    ASSERT_FALSE(counts.empty()) << after;
    for (const Row& r : counts) EXPECT_EQ(r.at("c"), "3") << after;
    EXPECT_EQ(nupa_rows(after, "GOOD").size(), 1u) << after;
    EXPECT_NE(out.find("Collector ended"), std::string::npos);
}

// ---------------------------------------------------------------------
// Bad input

TEST(DatabaseBadInput, MissingTableFailsItsCursorOnlyAndTheRunGoesOn) {
    CollectorRun c;
    sqlite_setup(c,
              "cursor NOTABLE;\n"
              "  INSERT INTO no_such_table (a) VALUES (:a);\n"
              "  interval 5;\n"
              "  limit 10;\n"
              "cursor GOOD;\n"
              "  INSERT INTO t_events (what) VALUES (:what);\n"
              "  interval 5;\n"
              "  limit 10;\n"
              "  go_home 7;\n"
              "end;\n");
    RunResult r = c.run({"-logonid", "monitor"}, 60);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string out = c.output();
    EXPECT_TRUE(has_line(out, "ORU0006I", "SQLCODE for PREPARE = -20001")) << out;
    EXPECT_NE(out.find("no such table: no_such_table"), std::string::npos) << out;
    EXPECT_TRUE(has_line(out, "CGN1521E", "Interval collection failed for cursor NOTABLE")) << out;
    EXPECT_FALSE(has_line(out, "CGN1521E", "cursor GOOD")) << out;
    // The good cursor still delivers its row; the failed one has none.
    std::vector<Row> good = nupa_rows(out, "GOOD");
    ASSERT_EQ(good.size(), 1u) << out;
    EXPECT_EQ(good[0]["what"], "opened");
    EXPECT_TRUE(nupa_rows(out, "NOTABLE").empty());
    EXPECT_NE(out.find("Collector ended"), std::string::npos);
}

TEST(DatabaseBadInput, FileThatIsNoDatabaseIsReportedAtEveryPass) {
    CollectorRun c;
    const std::string bogus = c.dir.write("bogus.db", std::string(4096, 'x') + "this is not a database\n");
    sqlite_setup(c,
              "cursor ONE;\n"
              "  INSERT INTO t_events (what) VALUES (:what);\n"
              "  interval 2;\n"
              "  limit 10;\n"
              "  go_home 5;\n"
              "end;\n", 2);
    c.env["COLL_CONNECT"] = "sqlite:" + bogus;
    RunResult r = c.run({"-logonid", "monitor"}, 60);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string out = c.output();
    EXPECT_TRUE(has_line(out, "RCD0105E", "Connect sql code = -20026")) << out;
    EXPECT_TRUE(has_line(out, "RCD0105E", "file is not a database (" + bogus + ")")) << out;
    // Each collection pass tries to log on again: passes at 0, 2 and 4.
    EXPECT_GE(lines_with(out, "RCD0100E").size(), 2u) << out;
    EXPECT_NE(out.find("Collector ended"), std::string::npos);
    // The file was only read.
    EXPECT_EQ(read_file(bogus), std::string(4096, 'x') + "this is not a database\n");
}

} // namespace
