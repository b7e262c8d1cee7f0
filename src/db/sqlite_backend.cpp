// The SQLite backend: a database file opened read-only. Declared column
// types are mapped onto the type codes of the fetch; SQLite errors become
// negative codes -(20000 + primary result code), end of data 100.
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "db/connection.h"

namespace qvx {
namespace {

constexpr int32_t kDefaultChars = 255;   // text without a declared size
constexpr int16_t kIntegerPrecision = 19;
constexpr int16_t kFloatPrecision = 24;  // room for "%.15g" with an exponent
constexpr int32_t kDateText = 19;        // "YYYY-MM-DD HH:MM:SS"
constexpr size_t kMaxNameLen = 30;
constexpr int kNotConnected = -3114;

int code_of(int r) { return r == SQLITE_DONE ? 100 : -(20000 + (r & 0xff)); }

struct DeclaredSize {
    bool given = false;
    int p = 0;
    int s = 0;
};

DeclaredSize parse_size(const std::string& decl) {
    DeclaredSize d;
    size_t open = decl.find('(');
    if (open == std::string::npos) return d;
    const char* p = decl.c_str() + open + 1;
    char* end = nullptr;
    long v = std::strtol(p, &end, 10);
    if (end == p) return d;
    d.given = true;
    d.p = static_cast<int>(std::clamp(v, 0L, 32767L));
    while (*end == ' ') ++end;
    if (*end == ',') d.s = static_cast<int>(std::clamp(std::strtol(end + 1, nullptr, 10), -127L, 127L));
    return d;
}

bool has(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

void set_char(SelectItem& it, int16_t type, int32_t chars) {
    it.type = type;
    it.size_chars = chars;
    it.size_bytes = chars * 3;
    it.nls_flag = 1;
    it.text_is_utf8 = true;
}

void set_number(SelectItem& it, int p, int s) {
    it.type = kDbNumber;
    it.precision = static_cast<int16_t>(p);
    it.scale = static_cast<int16_t>(s);
    it.size_chars = 0;
    it.size_bytes = (p == 0 ? 14 : p) + 2 + (s < 0 ? -s : 0);
}

void set_raw(SelectItem& it, int32_t bytes) {
    it.type = kDbRaw;
    it.size_chars = bytes;
    it.size_bytes = bytes * 2;
}

// Type code from the declared type; false when the column has none.
bool map_declared(SelectItem& it, const char* declared) {
    if (!declared || !*declared) return false;
    std::string d(declared);
    for (char& c : d) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    DeclaredSize size = parse_size(d);
    if (d.rfind("LONG", 0) == 0) {
        it.type = has(d, "RAW") ? kDbLongRaw : kDbLong;
    } else if (d == "ROWID" || d == "UROWID") {
        it.type = kDbRowid;
    } else if (has(d, "INT")) {
        set_number(it, size.given ? size.p : kIntegerPrecision, 0);
    } else if (has(d, "CHAR") || has(d, "CLOB") || has(d, "TEXT")) {
        bool fixed = !has(d, "VAR") && (d.rfind("CHAR", 0) == 0 || d.rfind("NCHAR", 0) == 0);
        set_char(it, fixed ? kDbCharFixed : kDbChar, size.given ? size.p : kDefaultChars);
    } else if (has(d, "BLOB") || has(d, "RAW") || has(d, "BINARY")) {
        set_raw(it, size.given ? size.p : kDefaultChars);
    } else if (has(d, "REAL") || has(d, "FLOA") || has(d, "DOUB")) {
        set_number(it, size.given ? size.p : kFloatPrecision, 0);
    } else if (has(d, "DATE") || has(d, "TIME")) {
        it.type = kDbDate;
        it.size_chars = it.size_bytes = kDateText;
    } else if (has(d, "NUM") || has(d, "DEC") || has(d, "BOOL")) {
        set_number(it, size.given ? size.p : 0, size.s);
    } else {
        set_char(it, kDbChar, kDefaultChars);
    }
    return true;
}

// An expression column: typed by the storage class of its first value.
void map_storage_class(SelectItem& it, int storage) {
    switch (storage) {
    case SQLITE_INTEGER: set_number(it, kIntegerPrecision, 0); break;
    case SQLITE_FLOAT: set_number(it, kFloatPrecision, 0); break;
    case SQLITE_BLOB: set_raw(it, kDefaultChars); break;
    default: set_char(it, kDbChar, kDefaultChars);
    }
}

// Text that a number column can take: blanks, sign, digits, point,
// exponent.
bool is_number_text(const unsigned char* t, int n) {
    char buf[64];
    if (n <= 0 || n >= static_cast<int>(sizeof buf)) return false;
    std::memcpy(buf, t, static_cast<size_t>(n));
    buf[n] = 0;
    char* end = nullptr;
    std::strtod(buf, &end);
    if (end == buf) return false;
    while (*end == ' ') ++end;
    return *end == 0;
}

const char kHex[] = "0123456789ABCDEF";

class SqliteConnection;

// Virtual-machine steps between two looks at the clock while a query
// with a time limit runs.
constexpr int kStepsPerClockLook = 1000;

using Clock = std::chrono::steady_clock;

class SqliteStatement : public Statement {
public:
    SqliteStatement(SqliteConnection& conn, sqlite3_stmt* st) : conn_(conn), st_(st) {}
    ~SqliteStatement() override {
        stop_clock();
        sqlite3_finalize(st_);
    }

    int open() override;
    int describe(std::vector<SelectItem>& items, int& count) override;
    int fetch(SelectDescriptor& d) override;
    int close() override;

private:
    int fail(int r);
    void start_clock();
    void stop_clock();
    static int past_deadline(void* self);

    SqliteConnection& conn_;
    sqlite3_stmt* st_;
    Clock::time_point deadline_{};
    bool timed_ = false;      // the progress handler watches this statement
    bool timed_out_ = false;  // and interrupted it
    bool pending_row_ = false;  // the first row was read by open
    bool done_ = false;
    std::vector<bool> strict_number_;  // declared numeric: text must be a number
};

class SqliteConnection : public Connection {
public:
    explicit SqliteConnection(std::string path) : path_(std::move(path)) {}
    ~SqliteConnection() override { close_db(); }

    int logon(const LogonData&) override {
        close_db();
        int r = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
        if (r == SQLITE_OK) {
            sqlite3_busy_timeout(db_, 2000);
            r = sqlite3_exec(db_, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
        }
        if (r != SQLITE_OK) {
            std::string msg = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(r);
            fail(r, msg + " (" + path_ + ")");
            close_db();
            return code();
        }
        set_result(0);
        return 0;
    }

    std::unique_ptr<Statement> prepare(const std::string& sql) override {
        if (!db_) {
            set_result(kNotConnected, "not logged on");
            return nullptr;
        }
        sqlite3_stmt* st = nullptr;
        int r = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &st, nullptr);
        if (r != SQLITE_OK) {
            fail(r, sqlite3_errmsg(db_));
            return nullptr;
        }
        if (!st) {
            set_result(code_of(SQLITE_ERROR), "no statement in the text");
            return nullptr;
        }
        set_result(0);
        return std::make_unique<SqliteStatement>(*this, st);
    }

    // The file is only read: there is no unit of work to end.
    int commit() override { return ok(); }
    int rollback() override { return ok(); }
    // Ending the connection always succeeds: the file is read-only, there is
    // no work to keep or undo.
    int commit_release() override {
        close_db();
        set_result(0);
        return 0;
    }
    int rollback_release() override {
        close_db();
        set_result(0);
        return 0;
    }

    int fail(int r, const std::string& msg) {
        set_result(code_of(r), msg);
        return code();
    }
    sqlite3* db() const { return db_; }

private:
    int ok() {
        set_result(db_ ? 0 : kNotConnected);
        return db_ ? 0 : kNotConnected;
    }
    void close_db() {
        if (db_) sqlite3_close_v2(db_);
        db_ = nullptr;
    }

    std::string path_;
    sqlite3* db_ = nullptr;
};

int SqliteStatement::fail(int r) {
    if (r == SQLITE_INTERRUPT && timed_out_) {
        conn_.set_result(kDbQueryTimeout, sqlite3_errmsg(conn_.db()));
        return kDbQueryTimeout;
    }
    return conn_.fail(r, sqlite3_errmsg(conn_.db()));
}

// The time limit counts from the start of the query over all its steps,
// the first row and every later one.
void SqliteStatement::start_clock() {
    timed_out_ = false;
    const int seconds = conn_.query_timeout();
    if (seconds <= 0) {
        stop_clock();
        return;
    }
    deadline_ = Clock::now() + std::chrono::seconds(seconds);
    sqlite3_progress_handler(conn_.db(), kStepsPerClockLook, past_deadline, this);
    timed_ = true;
}

void SqliteStatement::stop_clock() {
    if (!timed_) return;
    if (sqlite3* db = conn_.db()) sqlite3_progress_handler(db, 0, nullptr, nullptr);
    timed_ = false;
}

int SqliteStatement::past_deadline(void* self) {
    auto* st = static_cast<SqliteStatement*>(self);
    if (Clock::now() < st->deadline_) return 0;
    st->timed_out_ = true;
    return 1;  // SQLite interrupts the statement
}

int SqliteStatement::open() {
    sqlite3_reset(st_);
    start_clock();
    done_ = false;
    int r = sqlite3_step(st_);
    if (r == SQLITE_ROW) {
        pending_row_ = true;
    } else if (r == SQLITE_DONE) {
        pending_row_ = false;
        done_ = true;
    } else {
        return fail(r);
    }
    conn_.set_result(0);
    return 0;
}

int SqliteStatement::describe(std::vector<SelectItem>& items, int& count) {
    items.clear();
    count = sqlite3_column_count(st_);
    if (count > static_cast<int>(kMaxSelectItems)) {
        count = -1;
        return 0;
    }
    items.resize(static_cast<size_t>(count));
    strict_number_.assign(static_cast<size_t>(count), false);
    for (int i = 0; i < count; ++i) {
        SelectItem& it = items[static_cast<size_t>(i)];
        const char* name = sqlite3_column_name(st_, i);
        it.name.assign(name ? name : "");
        if (it.name.size() > kMaxNameLen) it.name.resize(kMaxNameLen);
        if (map_declared(it, sqlite3_column_decltype(st_, i)))
            strict_number_[static_cast<size_t>(i)] = it.type == kDbNumber;
        else
            map_storage_class(it, pending_row_ ? sqlite3_column_type(st_, i) : SQLITE_TEXT);
    }
    conn_.set_result(0);
    return 0;
}

int SqliteStatement::fetch(SelectDescriptor& d) {
    if (pending_row_) {
        pending_row_ = false;
    } else {
        if (done_) return conn_.fail(SQLITE_DONE, "no more rows");
        int r = sqlite3_step(st_);
        if (r == SQLITE_DONE) {
            done_ = true;
            return conn_.fail(r, "no more rows");
        }
        if (r != SQLITE_ROW) return fail(r);
    }
    const int n = static_cast<int>(d.items.size());
    bool invalid_number = false;
    for (int i = 0; i < n; ++i) {
        const SelectItem& it = d.items[static_cast<size_t>(i)];
        char* out = d.buffer.data() + d.offset[static_cast<size_t>(i)];
        const int cap = it.buf_len;
        // One call into the statement per column; type, text and length
        // are then read off the column's value.
        sqlite3_value* value = sqlite3_column_value(st_, i);
        const int storage = sqlite3_value_type(value);
        if (storage == SQLITE_NULL) {
            d.indicator[static_cast<size_t>(i)] = -1;
            d.value_len[static_cast<size_t>(i)] = 0;
            continue;
        }
        d.indicator[static_cast<size_t>(i)] = 0;
        if (it.type == kDbRaw) {
            const auto* b = static_cast<const unsigned char*>(sqlite3_value_blob(value));
            const int bytes = sqlite3_value_bytes(value);
            const int take = std::min(bytes, cap / 2);
            for (int k = 0; k < take; ++k) {
                out[2 * k] = kHex[b[k] >> 4];
                out[2 * k + 1] = kHex[b[k] & 15];
            }
            d.value_len[static_cast<size_t>(i)] = bytes * 2;
            continue;
        }
        const unsigned char* t = sqlite3_value_text(value);
        const int bytes = sqlite3_value_bytes(value);
        if (storage == SQLITE_TEXT && strict_number_[static_cast<size_t>(i)]) {
            if (bytes == 0) {
                d.indicator[static_cast<size_t>(i)] = -1;
                d.value_len[static_cast<size_t>(i)] = 0;
                continue;
            }
            if (!is_number_text(t, bytes)) invalid_number = true;
        }
        if (t) std::memcpy(out, t, static_cast<size_t>(std::min(bytes, cap)));
        d.value_len[static_cast<size_t>(i)] = bytes;
    }
    if (invalid_number) {
        conn_.set_result(kDbInvalidNumber, "invalid number");
        return kDbInvalidNumber;
    }
    conn_.set_result(0);
    return 0;
}

int SqliteStatement::close() {
    stop_clock();
    sqlite3_reset(st_);
    conn_.set_result(0);
    return 0;
}

} // namespace

std::unique_ptr<Connection> make_sqlite_connection(const std::string& path) {
    return std::make_unique<SqliteConnection>(path);
}

} // namespace qvx
