// A throwaway PostgreSQL cluster for the ODBC tests: initdb and pg_ctl as
// the postgres user, data and socket in a temporary directory, listening
// on a free port of 127.0.0.1 only, password logons. Its own odbcinst.ini
// (through ODBCSYSINI) names the psqlODBC driver without a communication
// log.
#pragma once

#include <string>

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
