// The database connection behind the fetch logic: one interface, two
// backends (SQLite files and ODBC data sources). Every operation leaves a
// result code (0 good, 100 no more data, negative errors) and, after an
// error, a short and a long message.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/fetch.h"

namespace qvx {

// Result codes the backends produce beyond those of the logic.
enum DbCode : int {
    kDbOk = 0,
    kDbNoData = 100,
    kDbNotLoggedOn = -1012,       // no connection: statements refused
    kDbLostContact = -3113,       // connection lost (ODBC SQLSTATE 08xxx)
    kDbInvalidNumber = -1722,     // row skipped by the fetch
    kDbNotAvailable = -1034,      // database file or server not there
    kDbLogonDenied = -1017,       // wrong user or password
    kDbQueryTimeout = -1013,      // a query ran past the time limit and was cancelled
    kDbGeneric = -1,              // any other failure without a code of its own
};

// Which backend and what to open: parsed from COLL_CONNECT.
struct ConnectTarget {
    enum class Kind { sqlite, odbc } kind = Kind::sqlite;
    std::string target;  // file path, or the ODBC connection string
};

// "sqlite:PATH" or "odbc:CONNECTION-STRING" (scheme in any case); an
// unset or empty value gives <home>/<server id>.db. Nothing for an
// unknown scheme.
std::unique_ptr<ConnectTarget> parse_connect(const char* value, const std::string& home,
                                             const std::string& serverid);

struct LogonData {
    std::string user;      // empty: operating-system identity
    std::string password;  // plain
    std::string server;    // empty: the default database
};

class Statement {
public:
    virtual ~Statement() = default;
    // Runs the statement; rows are then read by fetch.
    virtual int open() = 0;
    // Fills one item per select-list column: name, type code, sizes,
    // precision and scale, national-character flag. More than
    // kMaxSelectItems columns: items is left empty and the count returned
    // negative through count.
    virtual int describe(std::vector<SelectItem>& items, int& count) = 0;
    // Reads the next row into d: column i as text at d.value(i), at most
    // d.items[i].buf_len bytes; d.value_len[i] its full length in bytes,
    // d.indicator[i] -1 for null. 100 after the last row.
    virtual int fetch(SelectDescriptor& d) = 0;
    virtual int close() = 0;
};

class Connection {
public:
    virtual ~Connection() = default;
    virtual int logon(const LogonData& who) = 0;
    // Null with the code set when the text does not prepare.
    virtual std::unique_ptr<Statement> prepare(const std::string& sql) = 0;
    virtual int commit() = 0;
    virtual int commit_release() = 0;
    virtual int rollback() = 0;
    virtual int rollback_release() = 0;
    // Asks the database whether the text prepares, without running it: 0,
    // or the code with the messages set. Preparing is enough where it
    // compiles the text against the schema (SQLite).
    virtual int check_select(const std::string& sql) { return prepare(sql) ? 0 : (code() ? code() : kDbGeneric); }

    // Time limit of each query prepared from now on, in seconds; 0 none. A
    // query that runs longer is cancelled: its open or fetch fails with
    // kDbQueryTimeout and the database's message.
    void set_query_timeout(int seconds) { query_timeout_ = seconds > 0 ? seconds : 0; }
    int query_timeout() const { return query_timeout_; }

    int code() const { return code_; }
    const std::string& short_message() const { return short_msg_; }
    const std::string& long_message() const { return long_msg_; }
    // A failure that ended the connection (the next pass logs on again).
    bool lost() const { return lost_; }

    void set_result(int code, std::string short_msg = {}, std::string long_msg = {}) {
        code_ = code;
        short_msg_ = std::move(short_msg);
        long_msg_ = long_msg.empty() ? short_msg_ : std::move(long_msg);
    }
    void set_lost(bool lost) { lost_ = lost; }

private:
    int code_ = 0;
    std::string short_msg_;
    std::string long_msg_;
    bool lost_ = false;
    int query_timeout_ = 0;
};

std::unique_ptr<Connection> make_sqlite_connection(const std::string& path);
std::unique_ptr<Connection> make_odbc_connection(const std::string& connection_string);

// The collector's connection (null while logged off) and the last code of
// any statement on it, for check_sql_code.
Connection* current_connection();
void set_current_connection(std::unique_ptr<Connection> c);
void drop_current_connection();

} // namespace qvx
