// The ODBC backend: any data source unixODBC reaches (Oracle, SQL Server,
// Sybase, Informix, PostgreSQL, ...). Columns are described in the type
// codes of the fetch and read as character text; SQLSTATEs are mapped to
// the database codes the logic knows.
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "db/connection.h"

namespace qvx {
namespace {

constexpr int kNotConnected = -3114;
constexpr int kCannotConnect = -12541;
constexpr int16_t kFloatPrecision = 24;
constexpr size_t kMaxNameLen = 30;
constexpr SQLULEN kLoginTimeout = 10;

struct Diagnostic {
    std::string state;
    long native = 0;
    std::string text;
};

Diagnostic diagnose(SQLSMALLINT handle_type, SQLHANDLE handle) {
    Diagnostic d;
    SQLCHAR state[6] = {0};
    SQLINTEGER native = 0;
    SQLCHAR text[1024] = {0};
    SQLSMALLINT len = 0;
    if (handle && SQL_SUCCEEDED(SQLGetDiagRec(handle_type, handle, 1, state, &native, text,
                                              sizeof text, &len))) {
        d.state.assign(reinterpret_cast<char*>(state));
        d.native = native;
        d.text.assign(reinterpret_cast<char*>(text));
    }
    if (d.state.empty()) {
        d.state = "HY000";
        d.text = "unknown ODBC failure";
    }
    return d;
}

bool state_is(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool link_lost(const std::string& s) {
    return state_is(s, "08") || state_is(s, "57P01") || state_is(s, "57P02") ||
           state_is(s, "57P03");
}

int code_of(const Diagnostic& d, bool at_logon) {
    const std::string& s = d.state;
    if (state_is(s, "28")) return kDbLogonDenied;
    // Some drivers (psqlODBC) report a refused password as "unable to
    // connect" and say why only in the text.
    if (at_logon && state_is(s, "08") &&
        (d.text.find("authentication failed") != std::string::npos ||
         d.text.find("password") != std::string::npos))
        return kDbLogonDenied;
    if (link_lost(s)) return at_logon ? kCannotConnect : kDbLostContact;
    if (s == "22018" || s == "22P02") return kDbInvalidNumber;
    // The query time limit ran out (ODBC's own state, PostgreSQL's
    // "canceling statement due to statement timeout").
    if (s == "HYT00" || s == "57014") return kDbQueryTimeout;
    if (s == "42P01" || s == "42S02") return -942;
    if (s == "42703" || s == "42S22") return -904;
    if (state_is(s, "42")) return -900;
    return kDbGeneric;
}

// A value of a connection-string attribute, braced when it needs it.
std::string attribute_value(const std::string& v) {
    if (v.find_first_of(";{}= ") == std::string::npos) return v;
    std::string out = "{";
    for (char c : v) {
        out += c;
        if (c == '}') out += '}';
    }
    return out + "}";
}

// True when the connection string sets the attribute itself.
bool has_attribute(const std::string& cs, const char* key) {
    const size_t klen = std::strlen(key);
    size_t pos = 0;
    while (pos < cs.size()) {
        while (pos < cs.size() && (cs[pos] == ' ' || cs[pos] == ';')) ++pos;
        if (cs.size() - pos > klen && strncasecmp(cs.c_str() + pos, key, klen) == 0) {
            size_t p = pos + klen;
            while (p < cs.size() && cs[p] == ' ') ++p;
            if (p < cs.size() && cs[p] == '=') return true;
        }
        // skip this attribute, minding braced values
        bool braced = false;
        while (pos < cs.size() && (braced || cs[pos] != ';')) {
            if (cs[pos] == '{') braced = true;
            else if (cs[pos] == '}') braced = false;
            ++pos;
        }
    }
    return false;
}

void set_char(SelectItem& it, int16_t type, int32_t chars) {
    it.type = type;
    it.size_chars = chars;
    it.size_bytes = chars * 3;
    it.nls_flag = 1;
}

void set_number(SelectItem& it, int p, int s) {
    it.type = kDbNumber;
    it.precision = static_cast<int16_t>(std::clamp(p, 0, 1000));
    it.scale = static_cast<int16_t>(std::clamp(s, -127, 127));
    it.size_bytes = (it.precision == 0 ? 14 : it.precision) + 2 + (it.scale < 0 ? -it.scale : 0);
}

void map_sql_type(SelectItem& it, SQLSMALLINT sql_type, SQLULEN size, SQLSMALLINT digits) {
    const int32_t n = static_cast<int32_t>(std::min<SQLULEN>(size, 1u << 20));
    switch (sql_type) {
    case SQL_CHAR:
    case SQL_WCHAR: set_char(it, kDbCharFixed, n); break;
    case SQL_VARCHAR:
    case SQL_WVARCHAR:
    case SQL_GUID: set_char(it, kDbChar, n); break;
    case SQL_DECIMAL:
    case SQL_NUMERIC: set_number(it, n, digits); break;
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT: set_number(it, std::max(n, 1), 0); break;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE: set_number(it, kFloatPrecision, 0); break;
    case SQL_TYPE_DATE:
    case SQL_DATE: it.type = kDbDate; it.size_chars = it.size_bytes = 10; break;
    case SQL_TYPE_TIME:
    case SQL_TIME: it.type = kDbDate; it.size_chars = it.size_bytes = 8; break;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP: it.type = kDbDate; it.size_chars = it.size_bytes = 19; break;
    case SQL_BINARY:
    case SQL_VARBINARY: it.type = kDbRaw; it.size_chars = n; it.size_bytes = 2 * n; break;
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR: it.type = kDbLong; break;
    case SQL_LONGVARBINARY: it.type = kDbLongRaw; break;
    default: it.type = sql_type; break;  // refused by the sizing
    }
}

class OdbcConnection;

class OdbcStatement : public Statement {
public:
    OdbcStatement(OdbcConnection& conn, SQLHSTMT st) : conn_(conn), st_(st) {}
    ~OdbcStatement() override;

    int open() override;
    int describe(std::vector<SelectItem>& items, int& count) override;
    int fetch(SelectDescriptor& d) override;
    int close() override;

private:
    int fail();
    int bind(const SelectDescriptor& d);

    OdbcConnection& conn_;
    SQLHSTMT st_;
    bool bound_ = false;
    std::vector<char> buffer_;     // one slice per column, buf_len + 1 bytes
    std::vector<size_t> offset_;
    std::vector<SQLLEN> length_;
};

class OdbcConnection : public Connection {
public:
    explicit OdbcConnection(std::string cs) : cs_(std::move(cs)) {}
    ~OdbcConnection() override { disconnect(); }

    int logon(const LogonData& who) override {
        disconnect();
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_)))
            return fail_with(kCannotConnect, "cannot allocate an ODBC environment");
        SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_))) {
            Diagnostic d = diagnose(SQL_HANDLE_ENV, env_);
            disconnect();
            return fail_with(kCannotConnect, "[" + d.state + "] " + d.text);
        }
        SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(kLoginTimeout), 0);
        std::string cs = cs_;
        if (!who.user.empty() && !has_attribute(cs, "UID"))
            cs += ";UID=" + attribute_value(who.user);
        if (!who.password.empty() && !has_attribute(cs, "PWD"))
            cs += ";PWD=" + attribute_value(who.password);
        SQLCHAR out[1024];
        SQLSMALLINT out_len = 0;
        SQLRETURN r = SQLDriverConnect(dbc_, nullptr,
                                       reinterpret_cast<SQLCHAR*>(const_cast<char*>(cs.c_str())),
                                       SQL_NTS, out, sizeof out, &out_len, SQL_DRIVER_NOPROMPT);
        if (!SQL_SUCCEEDED(r)) {
            Diagnostic d = diagnose(SQL_HANDLE_DBC, dbc_);
            SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
            dbc_ = nullptr;
            disconnect();
            return fail_with(code_of(d, true), "[" + d.state + "] " + d.text);
        }
        connected_ = true;
        SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
        set_lost(false);
        set_result(0);
        return 0;
    }

    std::unique_ptr<Statement> prepare(const std::string& sql) override {
        SQLHSTMT st = prepared(sql);
        if (!st) return nullptr;
        set_result(0);
        return std::make_unique<OdbcStatement>(*this, st);
    }

    // The driver describes the result of a prepared statement without
    // running it (psqlODBC: a parse and describe on the server).
    int check_select(const std::string& sql) override {
        SQLHSTMT st = prepared(sql);
        if (!st) return code();
        SQLSMALLINT columns = 0;
        const int rc = SQL_SUCCEEDED(SQLNumResultCols(st, &columns)) ? 0 : fail(SQL_HANDLE_STMT, st);
        SQLFreeHandle(SQL_HANDLE_STMT, st);
        if (rc == 0) set_result(0);
        return rc;
    }

    int commit() override { return end_transaction(SQL_COMMIT, false); }
    int rollback() override { return end_transaction(SQL_ROLLBACK, false); }
    int commit_release() override { return end_transaction(SQL_COMMIT, true); }
    int rollback_release() override { return end_transaction(SQL_ROLLBACK, true); }

    // Sets the code of the handle's first diagnostic; a lost link marks
    // the connection lost.
    int fail(SQLSMALLINT type, SQLHANDLE h) {
        Diagnostic d = diagnose(type, h);
        int code = code_of(d, false);
        if (code == kDbLostContact || dead()) {
            code = kDbLostContact;
            set_lost(true);
        }
        return fail_with(code, "[" + d.state + "] " + d.text);
    }

private:
    // A statement handle with the text prepared and the time limit set;
    // null with the code set.
    SQLHSTMT prepared(const std::string& sql) {
        if (!connected_) {
            fail_with(kNotConnected, "not logged on");
            return nullptr;
        }
        SQLHSTMT st = nullptr;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st))) {
            fail(SQL_HANDLE_DBC, dbc_);
            return nullptr;
        }
        if (query_timeout() > 0)
            SQLSetStmtAttr(st, SQL_ATTR_QUERY_TIMEOUT,
                           reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(query_timeout())), 0);
        SQLRETURN r = SQLPrepare(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())),
                                 static_cast<SQLINTEGER>(sql.size()));
        if (!SQL_SUCCEEDED(r)) {
            fail(SQL_HANDLE_STMT, st);
            SQLFreeHandle(SQL_HANDLE_STMT, st);
            return nullptr;
        }
        return st;
    }

    int fail_with(int code, const std::string& msg) {
        set_result(code, msg);
        return code;
    }

    bool dead() {
        SQLUINTEGER dead = SQL_CD_FALSE;
        if (!dbc_) return true;
        SQLRETURN r = SQLGetConnectAttr(dbc_, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
        return SQL_SUCCEEDED(r) && dead == SQL_CD_TRUE;
    }

    int end_transaction(SQLSMALLINT how, bool release) {
        if (!connected_) return fail_with(kNotConnected, "not logged on");
        int code = 0;
        if (!lost()) {
            SQLRETURN r = SQLEndTran(SQL_HANDLE_DBC, dbc_, how);
            if (!SQL_SUCCEEDED(r)) code = fail(SQL_HANDLE_DBC, dbc_);
        } else {
            code = fail_with(kDbLostContact, "connection lost");
        }
        if (release || lost()) disconnect();
        if (code == 0) set_result(0);
        return code;
    }

    void disconnect() {
        if (dbc_) {
            // A pending transaction keeps the driver from letting go of a
            // dead link: roll it back and try again.
            if (connected_ && !SQL_SUCCEEDED(SQLDisconnect(dbc_))) {
                SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
                SQLDisconnect(dbc_);
            }
            SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        }
        if (env_) SQLFreeHandle(SQL_HANDLE_ENV, env_);
        dbc_ = nullptr;
        env_ = nullptr;
        connected_ = false;
    }

    std::string cs_;
    SQLHENV env_ = nullptr;
    SQLHDBC dbc_ = nullptr;
    bool connected_ = false;
};

OdbcStatement::~OdbcStatement() { SQLFreeHandle(SQL_HANDLE_STMT, st_); }

int OdbcStatement::fail() { return conn_.fail(SQL_HANDLE_STMT, st_); }

int OdbcStatement::open() {
    if (!SQL_SUCCEEDED(SQLExecute(st_))) return fail();
    conn_.set_result(0);
    return 0;
}

int OdbcStatement::describe(std::vector<SelectItem>& items, int& count) {
    items.clear();
    bound_ = false;
    SQLSMALLINT n = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(st_, &n))) return fail();
    count = n;
    if (count > static_cast<int>(kMaxSelectItems)) {
        count = -1;
        return 0;
    }
    items.resize(static_cast<size_t>(count));
    for (SQLUSMALLINT i = 0; i < static_cast<SQLUSMALLINT>(count); ++i) {
        SQLCHAR name[256] = {0};
        SQLSMALLINT name_len = 0, sql_type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        if (!SQL_SUCCEEDED(SQLDescribeCol(st_, i + 1, name, sizeof name, &name_len, &sql_type, &size,
                                          &digits, &nullable)))
            return fail();
        SelectItem& it = items[i];
        it.name.assign(reinterpret_cast<char*>(name));
        if (it.name.size() > kMaxNameLen) it.name.resize(kMaxNameLen);
        map_sql_type(it, sql_type, size, digits);
    }
    conn_.set_result(0);
    return 0;
}

int OdbcStatement::bind(const SelectDescriptor& d) {
    const size_t n = d.items.size();
    offset_.assign(n, 0);
    length_.assign(n, 0);
    size_t total = 0;
    for (size_t i = 0; i < n; ++i) {
        offset_[i] = total;
        total += static_cast<size_t>(d.items[i].buf_len) + 1;
    }
    buffer_.assign(total, 0);
    for (size_t i = 0; i < n; ++i) {
        SQLRETURN r = SQLBindCol(st_, static_cast<SQLUSMALLINT>(i + 1), SQL_C_CHAR,
                                 buffer_.data() + offset_[i],
                                 static_cast<SQLLEN>(d.items[i].buf_len) + 1, &length_[i]);
        if (!SQL_SUCCEEDED(r)) return fail();
    }
    bound_ = true;
    return 0;
}

int OdbcStatement::fetch(SelectDescriptor& d) {
    if (!bound_) {
        if (int rc = bind(d)) return rc;
    }
    SQLRETURN r = SQLFetch(st_);
    if (r == SQL_NO_DATA) {
        conn_.set_result(100, "no more rows");
        return 100;
    }
    if (!SQL_SUCCEEDED(r)) return fail();
    for (size_t i = 0; i < d.items.size(); ++i) {
        const SQLLEN len = length_[i];
        if (len == SQL_NULL_DATA) {
            d.indicator[i] = -1;
            d.value_len[i] = 0;
            continue;
        }
        const int32_t cap = d.items[i].buf_len;
        const int32_t full = len == SQL_NO_TOTAL ? cap : static_cast<int32_t>(std::min<SQLLEN>(len, 1 << 30));
        d.indicator[i] = 0;
        std::memcpy(d.buffer.data() + d.offset[i], buffer_.data() + offset_[i],
                    static_cast<size_t>(std::min(full, cap)));
        d.value_len[i] = full;
    }
    conn_.set_result(0);
    return 0;
}

int OdbcStatement::close() {
    if (!SQL_SUCCEEDED(SQLFreeStmt(st_, SQL_CLOSE))) return fail();
    SQLFreeStmt(st_, SQL_UNBIND);
    bound_ = false;
    conn_.set_result(0);
    return 0;
}

} // namespace

std::unique_ptr<Connection> make_odbc_connection(const std::string& connection_string) {
    return std::make_unique<OdbcConnection>(connection_string);
}

} // namespace qvx
