// What the benchmarks that time the collector beside SQLite share: a
// timer, silenced collector messages and an in-memory SQLite database.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdio>

#include "runtime/messages.h"

namespace qvxbench {

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point begun) {
    return std::chrono::duration<double>(Clock::now() - begun).count();
}

// Messages of the collector go nowhere.
inline void quiet() {
    static const bool once = [] {
        if (FILE* sink = std::fopen("/dev/null", "w")) qvx::use_message_sink(sink, false);
        return true;
    }();
    (void)once;
}

struct Db {
    sqlite3* db = nullptr;
    Db() {
        if (sqlite3_open(":memory:", &db) != SQLITE_OK) db = nullptr;
    }
    ~Db() { sqlite3_close(db); }
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;
    bool exec(const char* sql) { return db && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }
};

} // namespace qvxbench
