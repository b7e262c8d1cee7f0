// The SQL fetch of a cursor: prepare, describe, size the columns, fetch
// every row as text and hand it to the row sink.
#include "db/fetch.h"
#include "control/distributor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "db/connection.h"
#include "db/set_len.h"
#include "db/utf8.h"
#include "runtime/clock.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"

namespace qvx {
namespace {

constexpr int32_t kMaxColLen = 384;
constexpr int kDbNotConnected = -3114;

} // namespace

void set_sql_code(curs& cur, int code) {
    if (code == cur.sql_rc && !cur.sql_rc_text.empty()) return;
    char text[32];
    std::snprintf(text, sizeof text, "%16d", code);
    cur.sql_rc = code;
    cur.sql_rc_text = text;
}

namespace {

void mark_collector_failed() {
    if (!collector_at) return;
    collector_at->last_status = "FAIL";
    collector_at->last_time = get_time();
}

const char* nls_text(int flag) {
    return flag == 1 ? "non-Unicode" : flag == 2 ? "Unicode" : "non-character";
}

// Lends the cursor's row buffer to the descriptor for one collection.
class BufferLoan {
public:
    BufferLoan(curs& cur, SelectDescriptor& d) : cur_(cur), d_(d) { d_.buffer.swap(cur_.fetch_buffer); }
    ~BufferLoan() { d_.buffer.swap(cur_.fetch_buffer); }
    BufferLoan(const BufferLoan&) = delete;
    BufferLoan& operator=(const BufferLoan&) = delete;

private:
    curs& cur_;
    SelectDescriptor& d_;
};

// Sizes every column; false after a refused type (reported).
bool size_columns(const curs& cur, SelectDescriptor& d) {
    for (SelectItem& it : d.items) {
        const int nlen = static_cast<int>(it.name.size());
        if (debug_on(7)) {
            PRINT('t', "oru0120", "Column name: <%.*s>\n", nlen, it.name.c_str());
            PRINT('t', "oru0125", "Column type: <%d>\n", it.type);
            PRINT('t', "oru0130", "Type name: <%s>\n", db_type_name(it.type));
        }
        if (!size_select_item(it)) {
            switch (it.type) {
            case kDbLong:
                PRINT('w', "oru0011", "Don't support LONG for <%.*s>\n", nlen, it.name.c_str());
                break;
            case kDbLongRaw:
                PRINT('w', "oru0013", "Don't support LONGRAW for <%.*s>\n", nlen, it.name.c_str());
                break;
            case kDbRowid:
                PRINT('w', "oru0014", "Don't support ROWID for <%.*s>\n", nlen, it.name.c_str());
                break;
            default:
                PRINT('w', "oru0015", "Unknown data type <%d> for <%.*s>\n", it.type, nlen,
                      it.name.c_str());
            }
            return false;
        }
        if (it.type == kDbRaw && cur.trace)
            PRINT('w', "oru0012", "Support RAW for <%.*s> as character\n", nlen, it.name.c_str());
        if (debug_on(7)) {
            PRINT('t', "oru0135", "NLS flag (%d): <%s>\n", it.nls_flag, nls_text(it.nls_flag));
            PRINT('t', "oru0140", "Size in characters: <%d>\n", it.size_chars);
            PRINT('t', "oru0145", "Size in bytes: <%d>\n", it.size_bytes);
            PRINT('t', "oru0150", "Buffer length: <%d>\n", it.buf_len);
        }
    }
    return true;
}

// Lays the columns out in the row buffer; the buffer only ever grows.
size_t lay_out(curs& cur, SelectDescriptor& d) {
    const size_t n = d.items.size();
    d.offset.assign(n, 0);
    d.value_len.assign(n, 0);
    d.indicator.assign(n, 0);
    size_t total = 0;
    for (size_t i = 0; i < n; ++i) {
        d.offset[i] = static_cast<int32_t>(total);
        total += static_cast<size_t>(d.items[i].buf_len);
    }
    ++total;
    if (cur.fetch_buffer.size() < total) cur.fetch_buffer.resize(total);
    return total;
}

// Step over one fetched row: lengths, UTF-8, right-justified numbers.
class RowFinisher {
public:
    explicit RowFinisher(const SelectDescriptor& d) {
        int32_t widest = 0;
        for (const SelectItem& it : d.items) widest = std::max(widest, it.buf_len);
        work_.resize(static_cast<size_t>(widest) + 1);
    }

    void finish(SelectDescriptor& d) {
        for (size_t i = 0; i < d.items.size(); ++i) finish_column(d, i);
    }

private:
    void finish_column(SelectDescriptor& d, size_t i) {
        const SelectItem& it = d.items[i];
        char* v = d.buffer.data() + d.offset[i];
        const int32_t cap = it.buf_len;
        if (d.indicator[i] < 0) {
            d.value_len[i] = 0;
            return;
        }
        int32_t len = d.value_len[i];
        if (it.size_bytes > 0 && len > it.size_bytes) len = it.size_bytes;
        if (len == 0) {
            if (it.type == kDbNumber) {
                len = static_cast<int32_t>(strnlen(v, static_cast<size_t>(cap)));
            } else if (it.size_bytes > kMaxColLen) {
                if (debug_on(8))
                    PRINT('t', "oin0267", "Reset the returned_octet_length from %d to MAX_COL_LEN\n", len);
                len = kMaxColLen;
            } else {
                if (debug_on(8))
                    PRINT('t', "oin0266",
                          "Reset the returned_octet_length from %d to col_size_bytes[i]:%d\n", len,
                          it.size_bytes);
                len = it.size_bytes;
            }
        }
        len = std::clamp(len, 0, cap);
        if (it.orig_type == kDbChar)
            len = to_utf8(it, v, len);
        else if (it.type == kDbNumber)
            len = right_justify(v, len, cap);
        d.value_len[i] = len;
    }

    int32_t to_utf8(const SelectItem& it, char* v, int32_t len) {
        const int32_t cap = it.buf_len;
        if (it.type == kDbRaw) return len;  // hexadecimal digits: nothing to convert
        if (it.nls_flag != 2 && (it.text_is_utf8 || codepage_is_utf8()))
            return it.size_chars > 0 ? utf8_prefix(v, len, it.size_chars) : len;
        int32_t n;
        int out;
        if (it.nls_flag == 2) {
            n = std::min(it.size_bytes, cap);
            out = Convert_UnicodeToUTF8_wopt(work_.data(), cap, v, n, 256);
        } else {
            n = std::min(it.size_chars, len);
            if (n != it.size_chars && debug_on(8))
                PRINT('t', "oru0266", "Overriding bytes to convert: <%d>\n", n);
            out = Convert_toUTF8_wopt(work_.data(), cap, v, n, 256);
        }
        if (out <= 0) {
            if (n > 0)
                PRINT('w', "oru0210", "UTF-8 conversion failed for column: <%.*s>\n",
                      static_cast<int>(it.name.size()), it.name.c_str());
            return len;
        }
        std::memset(v, 0, static_cast<size_t>(cap));
        std::memcpy(v, work_.data(), static_cast<size_t>(out));
        return out;
    }

    static int32_t right_justify(char* v, int32_t len, int32_t cap) {
        if (len < cap) {
            if (debug_on(8)) PRINT('t', "oru0215", "Doing right justification\n");
            std::memmove(v + (cap - len), v, static_cast<size_t>(len));
            std::memset(v, ' ', static_cast<size_t>(cap - len));
        }
        return cap;
    }

    std::vector<char> work_;
};

// Hexadecimal dump of a fetched row buffer (debug level 9), 32 bytes a
// line, at most 512 bytes.
void dump_buffer(const std::vector<char>& buf, size_t total) {
    static const char hex[] = "0123456789ABCDEF";
    const size_t n = std::min<size_t>(total, 512);
    for (size_t at = 0; at < n; at += 32) {
        std::string line;
        for (size_t i = at; i < std::min(n, at + 32); ++i) {
            const auto b = static_cast<unsigned char>(buf[i]);
            line += hex[b >> 4];
            line += hex[b & 15];
        }
        PRINT('t', "oru0156", "%04zu: %s\n", at, line.c_str());
    }
}

void trace_statement(const std::string& sql) {
    PRINT('i', "oru0085", "--------------------------------------------------\n");
    PRINT('i', "oru0090", "Starting new SQL query.\n");
    PRINT('i', "oru0095", "   <%s>\n", sql.c_str());
    PRINT('i', "oru0085", "--------------------------------------------------\n");
}

// The query time limit over the whole SELECT, from its open to its last
// row: the backends cancel a statement that runs past it, and rows that
// keep coming after it stop the fetch all the same.
class QueryClock {
public:
    explicit QueryClock(int seconds) : seconds_(seconds) {
        if (seconds_ > 0) deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(seconds_);
    }
    bool expired() const { return seconds_ > 0 && std::chrono::steady_clock::now() >= deadline_; }
    int seconds() const { return seconds_; }

private:
    int seconds_;
    std::chrono::steady_clock::time_point deadline_{};
};

void report_timeout(const curs& cur, int seconds, int rows, const std::string& message) {
    PRINT('e', "rpf0360",
          "Time = %s For cursor %s, SELECT ran past COLL_QUERY_TIMEOUT=%d seconds and was cancelled after %d "
          "rows: %s\n",
          form_time().c_str(), cur.cur_name.c_str(), seconds, rows, message.c_str());
}

// Classifies a statement's code and records it on the cursor.
int step_code(curs& cur, int rc, const std::string& sql, const char* label) {
    int code = check_sql_code(rc, sql.c_str(), label, true);
    set_sql_code(cur, code);
    return code;
}

// Prepares, runs and describes the cursor's SELECT, each step's code
// recorded on the cursor; the first failing code, else 0.
int open_select(curs& cur, const std::string& sql, Connection& conn, std::unique_ptr<Statement>& stmt,
                SelectDescriptor& d, int& count) {
    stmt = conn.prepare(sql);
    int code = step_code(cur, stmt ? conn.code() : (conn.code() ? conn.code() : -1), sql, "PREPARE");
    if (!stmt && code == 0) code = step_code(cur, kDbNotConnected, sql, "PREPARE");
    if (code == 0) code = step_code(cur, 0, sql, "DECLARE");
    if (code == 0) code = step_code(cur, stmt->open(), sql, "OPEN");
    d.items.reserve(kMaxSelectItems);
    if (code == 0) code = step_code(cur, stmt->describe(d.items, count), sql, "DESCRIBE");
    return code;
}

} // namespace

int sql_fetch(curs& cur, const std::string& sql, const std::string& time_text, const RowSink& sink,
              const FetchEnd& at_end) {
    if (trace_all) trace_statement(sql);

    Connection* conn = current_connection();
    if (!conn) {
        int code = step_code(cur, kDbNotConnected, sql, "PREPARE");
        rollback();
        return code;
    }
    conn->set_query_timeout(env_vars.query_timeout);
    const QueryClock clock(conn->query_timeout());
    std::unique_ptr<Statement> stmt;
    SelectDescriptor d;
    int count = 0;
    int code = open_select(cur, sql, *conn, stmt, d, count);
    if (code != 0) {
        if (code == kDbQueryTimeout) report_timeout(cur, clock.seconds(), cur.fetch_rows, conn->long_message());
        stmt.reset();
        rollback();
        return code;
    }
    if (debug_on(6))
        PRINT('t', collector_at && collector_at->type == 1 ? "oru0105" : "oru0110",
              collector_at && collector_at->type == 1 ? "Local connection\n" : "Remote connection\n");
    if (count < 0) {
        PRINT('w', "oru0009", "More columns than max select columns\n");
        return 1;
    }
    if (debug_on(7)) PRINT('t', "oru0115", "Column count: <%d>\n", count);
    if (apply_set_len(cur, d) != 0) return 1;
    if (!size_columns(cur, d)) return 1;

    const size_t total = lay_out(cur, d);
    BufferLoan loan(cur, d);
    RowFinisher finisher(d);
    for (;;) {
        std::memset(d.buffer.data(), 0, total);
        int fetched = stmt->fetch(d);
        if (fetched == 0 && clock.expired()) {
            conn->set_result(kDbQueryTimeout, "rows still coming after the time limit");
            fetched = kDbQueryTimeout;
        }
        code = step_code(cur, fetched, sql, "FETCH");
        if (code == kDbInvalidNumber) continue;
        if (code == kDbQueryTimeout) report_timeout(cur, clock.seconds(), cur.fetch_rows, conn->long_message());
        if (code != 0) break;
        if (debug_on(9)) {
            PRINT('t', "oru0155", "Data from Oracle: <%d>\n", static_cast<int>(total));
            dump_buffer(d.buffer, total);
        }
        finisher.finish(d);
        if (sink(cur, &d, time_text) <= 0) {
            PRINT('e', "rpf0350", "Time = %s For cursor %s, merge failed after = %d rowsHolding cursor\n",
                  form_time().c_str(), cur.cur_name.c_str(), cur.fetch_rows);
            cur.held = 'Y';
            stmt.reset();
            rollback();
            return 1;
        }
    }
    const int close_rc = stmt->close();
    stmt.reset();
    if (code != 100) {
        rollback();
    } else {
        check_sql_code(close_rc, sql.c_str(), "CLOSE", true);
        if (at_end) at_end(cur, d);
    }

    if (code != 100) {
        PRINT('w', "rpf0345", "Time = %s For cursor %s, fetch failed after = %d rows\n",
              form_time().c_str(), cur.cur_name.c_str(), cur.fetch_rows);
        mark_collector_failed();
        return code;
    }
    if (cur.trace)
        PRINT('t', "rpf0340", "Time = %s For cursor %s, rows collected for insert = %d\n",
              form_time().c_str(), cur.cur_name.c_str(), cur.fetch_rows);
    return 0;
}

// The values of one fetched row as handed to the row store (debug level 8
// per column, and the row itself when the cursor is traced).
void trace_fetched_row(const curs& cur, const SelectDescriptor& d) {
    if (debug_on(8)) {
        for (size_t i = 0; i < d.items.size(); ++i) {
            const SelectItem& it = d.items[i];
            PRINT('t', "oru0160", "Column %zu <%.*s> type <%d> length <%d> indicator <%d> value <%.*s>\n",
                  i + 1, static_cast<int>(it.name.size()), it.name.c_str(), it.type, d.value_len[i],
                  d.indicator[i], d.indicator[i] < 0 ? 0 : d.value_len[i], d.value(i));
        }
    }
    if (cur.trace) {
        std::string row;
        for (size_t i = 0; i < d.items.size(); ++i) {
            if (i) row += '|';
            if (d.indicator[i] < 0)
                row += "NULL";
            else
                row.append(d.value(i), static_cast<size_t>(d.value_len[i]));
        }
        PRINT('t', "rpf0355", "Row %d of %s: %s\n", cur.fetch_rows, cur.cur_name.c_str(), row.c_str());
    }
}

} // namespace qvx
