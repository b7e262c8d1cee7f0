// What the benchmarks that time the collector beside SQLite share: a
// timer, silenced collector messages and an in-memory SQLite database.
#pragma once

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "runtime/messages.h"

namespace qvxbench {

using Clock = std::chrono::steady_clock;

inline double seconds_since(Clock::time_point begun) {
    return std::chrono::duration<double>(Clock::now() - begun).count();
}

// Runs the work once and keeps its time in best when it was the fastest.
template <class Work>
void keep_fastest(double& best, Work&& work) {
    const Clock::time_point begun = Clock::now();
    work();
    best = std::min(best, seconds_since(begun));
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
