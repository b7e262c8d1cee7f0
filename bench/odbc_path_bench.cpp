// The whole collection path of a 10-column cursor over a 1,000,000-row
// PostgreSQL table through ODBC (psqlODBC): fetch, row store, send layout
// and read-out, against a bare SQLFetch loop with every column bound as
// character text, as the ODBC backend binds them. The server is a
// throwaway cluster; when it cannot be started the benchmarks say so and
// skip themselves.
#include <benchmark/benchmark.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "collection_path.h"
#include "db/connection.h"
#include "db/database.h"
#include "support/pg_fixture.h"

namespace {

using qvxbench::kPathRows;

const char* const kUser = "collector";
const char* const kPassword = "bench-pw";

struct Server {
    qvxbench::Scratch scratch;  // the collector's home (messages, COLLECT.CTL)
    std::unique_ptr<qvxtest::PgServer> pg;
    std::string why_not;

    Server() {
        pg = std::make_unique<qvxtest::PgServer>();
        if (!pg->ok()) {
            why_not = "PostgreSQL cluster did not start: " + pg->error();
        } else if (!pg->psql("CREATE ROLE " + std::string(kUser) + " LOGIN PASSWORD '" + kPassword +
                             "'; CREATE DATABASE qvx OWNER " + kUser + ";")) {
            why_not = "cannot create the role and database";
        } else if (!pg->psql("SET ROLE " + std::string(kUser) +
                                 ";"
                                 "CREATE TABLE t(i1 integer, i2 integer, i3 integer, i4 integer,"
                                 " r1 double precision, r2 double precision, r3 double precision,"
                                 " s1 varchar(20), s2 varchar(20), s3 varchar(20));"
                                 "INSERT INTO t SELECT i, i * 7 % 100003, i % 1000, -i,"
                                 " i * 0.25, i / 3.0, (i % 977) * 1.5, 'session ' || i,"
                                 " CASE i % 3 WHEN 0 THEN 'ACTIVE' WHEN 1 THEN 'INACTIVE' ELSE 'SNIPED' END,"
                                 " 'host' || (i % 64) FROM generate_series(1, " +
                                 std::to_string(kPathRows) + ") AS g(i); VACUUM ANALYZE t;",
                             "qvx")) {
            why_not = "cannot build the table";
        }
        if (!why_not.empty()) std::fprintf(stderr, "odbc_path_bench: %s; skipping\n", why_not.c_str());
    }
    bool ok() const { return why_not.empty(); }
};

Server& server() {
    static Server s;
    return s;
}

// A bare ODBC session: environment, connection (autocommit off, as the
// collector's) and one statement.
struct RawOdbc {
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
    SQLHSTMT st = nullptr;
    bool ok = false;

    explicit RawOdbc(const std::string& cs) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        std::string full = cs + ";UID=" + kUser + ";PWD=" + kPassword;
        SQLCHAR out[1024];
        SQLSMALLINT out_len = 0;
        if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(full.data()), SQL_NTS,
                                            out, sizeof out, &out_len, SQL_DRIVER_NOPROMPT)))
            return;
        SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
        ok = SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st));
    }
    ~RawOdbc() {
        if (st) SQLFreeHandle(SQL_HANDLE_STMT, st);
        if (dbc) {
            SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
            SQLDisconnect(dbc);
            SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        }
        if (env) SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
};

void BM_RawOdbcFetch(benchmark::State& state) {
    Server& s = server();
    if (!s.ok()) {
        state.SkipWithError(s.why_not.c_str());
        return;
    }
    RawOdbc odbc(s.pg->odbc_string("qvx"));
    if (!odbc.ok) {
        state.SkipWithError("no ODBC logon");
        return;
    }
    char buf[10][64];
    SQLLEN len[10];
    long rows = 0;
    size_t bytes = 0;
    qvxbench::PassTimes times;
    for (auto _ : state) {
        times.start();
        SQLExecDirect(odbc.st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(
                                   "SELECT i1,i2,i3,i4,r1,r2,r3,s1,s2,s3 FROM public.t")),
                      SQL_NTS);
        for (SQLUSMALLINT i = 0; i < 10; ++i) SQLBindCol(odbc.st, i + 1, SQL_C_CHAR, buf[i], sizeof buf[i], &len[i]);
        while (SQL_SUCCEEDED(SQLFetch(odbc.st))) {
            for (int i = 0; i < 10; ++i) bytes += static_cast<size_t>(len[i]) + static_cast<unsigned char>(buf[i][0]);
            ++rows;
        }
        SQLFreeStmt(odbc.st, SQL_CLOSE);
        SQLFreeStmt(odbc.st, SQL_UNBIND);
        SQLEndTran(SQL_HANDLE_DBC, odbc.dbc, SQL_COMMIT);
        times.stop();
    }
    benchmark::DoNotOptimize(bytes);
    if (rows != state.iterations() * kPathRows) state.SkipWithError("short read");
    qvxbench::raw_rate() = times.best_rate();
    state.counters["best"] = times.best_rate();
    state.SetItemsProcessed(rows);
}

void collector_path(benchmark::State& state, qvxbench::Layout layout) {
    Server& s = server();
    if (!s.ok()) {
        state.SkipWithError(s.why_not.c_str());
        return;
    }
    qvx::curs* c = qvxbench::parse_path_cursor(s.scratch, "public.t", state);
    if (!c) return;
    setenv("COLL_CONNECT", ("odbc:" + s.pg->odbc_string("qvx")).c_str(), 1);
    qvx::distrib d;
    d.distrib_name = "collector";
    d.type = 1;
    d.logonid = kUser;
    d.password = kPassword;
    if (qvx::connect_to_DB(d) != 0) {
        state.SkipWithError("no logon through the ODBC backend");
        qvx::delete_cursors();
        return;
    }
    qvxbench::time_passes(state, *c, layout,
                          layout == qvxbench::Layout::every_row ? "ODBC, every row laid out" : "ODBC, kept rows read out");
}

void BM_CollectorPathOdbc(benchmark::State& state) { collector_path(state, qvxbench::Layout::every_row); }
void BM_CollectorPathOdbcReadOut(benchmark::State& state) { collector_path(state, qvxbench::Layout::read_out); }

// A pass takes about three seconds, most of it in the driver, whose times
// scatter from pass to pass: five passes give the ratio a fastest one.
BENCHMARK(BM_RawOdbcFetch)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CollectorPathOdbc)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CollectorPathOdbcReadOut)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
