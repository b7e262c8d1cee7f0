// A throwaway PostgreSQL cluster for the ODBC tests: initdb and pg_ctl as
// the postgres user, data and socket in a temporary directory, listening
// on a free port of 127.0.0.1 only, password logons. Its own odbcinst.ini
// (through ODBCSYSINI) names the psqlODBC driver without a communication
// log.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qvxtest {

class PgServer {
public:
    // Creates and starts the cluster; ok() says whether that worked and
    // error() why not.
    PgServer();
    ~PgServer();
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    int port() const { return port_; }

    bool start();
    bool stop();
    // Runs SQL as the administrator in the given database.
    bool psql(const std::string& sql, const std::string& database = "postgres");

    // Runs SQL as the administrator in the given database and gives back
    // what psql printed unaligned and without headings (one row a line,
    // fields split by "|", no final line end); nothing after a failure.
    std::optional<std::string> query(const std::string& sql, const std::string& database = "postgres");

    // A psql of its own for sessions a test keeps open in the background:
    // the program, the arguments that log on to the database as the
    // administrator, and the password its environment needs (PGPASSWORD).
    std::string psql_program() const;
    std::vector<std::string> psql_logon(const std::string& database) const;
    static const char* admin_password();

    // ODBC connection string of a database, without user and password.
    std::string odbc_string(const std::string& database) const;

private:
    bool run(const std::string& command);

    std::string dir_;
    int port_ = 0;
    bool ok_ = false;
    bool running_ = false;
    std::string error_;
};

} // namespace qvxtest
