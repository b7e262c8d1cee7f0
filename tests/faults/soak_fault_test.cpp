// The collector left running: one-second passes over the SQLite example
// while an agent asks every 100 ms, for QVX_SOAK_SECONDS (30 by default;
// make soak runs 30 minutes). Its resident memory after the warm-up and at
// the end must stay within 5% of each other, and every request is served.
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <thread>

#include "faults/fault_harness.h"

using namespace qvxtest;

namespace {

using Clock = std::chrono::steady_clock;

TEST(Soak, MemoryStaysFlatAndEveryRequestIsServed) {
    const char* set = std::getenv("QVX_SOAK_SECONDS");
    const int seconds = set && std::atoi(set) > 0 ? std::atoi(set) : 30;
    SqliteCollector c("1", 1);
    ASSERT_TRUE(c.made);
    ASSERT_TRUE(c.start()) << c.run.output();

    const char* const asks[] = {"DBPAGES", "OBJSIZE", "SCHEMA", "C-STATUS", "D-STATUS", "BIG"};
    const auto begin = Clock::now();
    // Warm once every kind of request has been answered twice and the
    // first passes are done.
    const auto warm = begin + std::chrono::seconds(std::min(10, seconds / 3));
    const auto end = begin + std::chrono::seconds(seconds);
    long rss_start = -1;
    int asked = 0, failed = 0;
    while (Clock::now() < end) {
        const auto next = Clock::now() + std::chrono::milliseconds(100);
        RunResult r = c.probe({"--timeout", "10", asks[asked % 6]}, 30);
        failed += r.status != 0;
        if (r.status != 0 && failed <= 3) ADD_FAILURE() << asks[asked % 6] << ": " << r.err;
        ++asked;
        if (rss_start < 0 && asked >= 12 && Clock::now() >= warm) rss_start = rss_kb(c.proc.pid);
        std::this_thread::sleep_until(next);
    }
    const long rss_end = rss_kb(c.proc.pid);
    std::cout << "soak " << seconds << " s, " << asked << " requests, " << failed << " failed, resident " << rss_start
              << " kB after warm-up, " << rss_end << " kB at the end\n";
    EXPECT_EQ(failed, 0);
    ASSERT_GT(rss_start, 0);
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LE(rss_end, rss_start + rss_start / 20) << "resident memory grew";
#else
    // The address sanitizer keeps freed memory in quarantine (up to 256 MB):
    // resident memory says nothing about leaks there; its leak check does.
    EXPECT_LE(rss_end, rss_start + (300L << 10)) << "resident memory grew past the quarantine";
#endif

    EXPECT_EQ(c.probe({"SHUTDOWN"}).status, 0);
    EXPECT_EQ(wait_program(c.proc, 40), 0);
    c.proc.pid = -1;
}

} // namespace
