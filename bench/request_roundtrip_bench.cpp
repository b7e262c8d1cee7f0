// Request round trips between an agent (this process) and a running
// qvxcoll that waits in its "upa" service: 1 row, 1000 rows of 200 bytes
// and a 1 MB reply, over the named pipes and over shared memory, beside a
// bare two-process semaphore ping-pong as the floor of any hand-over.
//
// After answering, the collector is back in its service within the upa
// interval (1 second), so the agent paces its requests 1.1 seconds apart:
// every request then finds the collector idle in the service, which is the
// case measured. Each benchmark reports the median and the 99th
// percentile of its round trips (microseconds).
#include <benchmark/benchmark.h>

#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <sqlite3.h>

#include "channel/comm_dispatch.h"
#include "runtime/messages.h"
#include "runtime/settings.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSamples = 20;
constexpr auto kPace = std::chrono::milliseconds(1100);

void report(benchmark::State& state, std::vector<double> micros) {
    std::sort(micros.begin(), micros.end());
    if (micros.empty()) return;
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
}

void write_file(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// A database of 5000 rows of 200 characters and control files whose
// cursors deliver 1, 1000 and 5000 of them (the last is 1 MB).
void make_collector_home(const std::string& dir) {
    sqlite3* db = nullptr;
    const std::string path = dir + "/bench.db";
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot create " + path);
    sqlite3_exec(db,
                 "CREATE TABLE big (v TEXT);"
                 "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5000)"
                 " INSERT INTO big SELECT printf('%0200d', i) FROM n;",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    write_file(dir + "/qvxproc.ctl",
               "process collector;\n  type local;\n  logon_id bench;\n  interval 3600;\n"
               "  Mon_Fri_start 0000;\n  Mon_Fri_end 2400;\n"
               "process upa;\n  type local;\n  interval 1;\nend;\n");
    write_file(dir + "/qvxdict.ctl", "name nothing;\n  type CHAR(1);\nend;\n");
    std::string coll;
    for (auto [name, rows] : {std::pair{"ONE", 1}, {"THOUSAND", 1000}, {"MEG", 5000}}) {
        coll += std::string("cursor ") + name + ";\n  INSERT INTO b.rows (v) VALUES (:v^200);\n" +
                "  insert_select SELECT v AS v FROM big LIMIT " + std::to_string(rows) + ";\n" +
                "  interval 3600;\n  limit " + std::to_string(rows) + ";\n  samples 1;\n";
    }
    write_file(dir + "/qvxcoll.ctl", coll + "end;\n");
}

// qvxcoll in the background with its home in a temporary directory; this
// process takes the same settings so that its agent end finds it.
class RunningCollector {
public:
    explicit RunningCollector(const char* use_shm) {
        namespace fs = std::filesystem;
        std::string tmpl = (fs::temp_directory_path() / "qvxrtt.XXXXXX").string();
        dir_ = mkdtemp(tmpl.data());
        fs::create_directories(dir_ + "/tmp");
        make_collector_home(dir_);
        const std::string server = "RTT" + std::to_string(::getpid());
        const std::pair<const char*, std::string> env[] = {
            {"COLL_HOME", dir_},       {"COLL_CTL_HOME", dir_},   {"COLL_SERVERID", server},
            {"COLL_HOSTNAME", "bench"}, {"COLL_VERSION", "qvx"},  {"COLL_PREFIX", dir_ + "/tmp"},
            {"COLL_PREFIX_LOCAL", dir_ + "/tmp"}, {"COLL_CONNECT", "sqlite:" + dir_ + "/bench.db"},
            {"COLL_USESHM", use_shm},  {"WAIT_TIMEOUT", "30"},    {"COLL_NUMOUTBAK", "0"}};
        for (const auto& [k, v] : env) setenv(k, v.c_str(), 1);
        // The agent end takes its names from these settings afresh.
        qvx::reset_settings();
        qvx::reset_messages();
        pid_ = ::fork();
        if (pid_ == 0) {
            const std::string exe = std::string(QVX_BIN_DIR) + "/qvxcoll";
            ::execl(exe.c_str(), exe.c_str(), "-logonid", "bench", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        agent_ = qvx::qvxcomm("init").anchor;
        // Ready once the first rows are there.
        for (int i = 0; i < 60; ++i) {
            if (ask("ONE") == 1) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        throw std::runtime_error("the collector did not answer");
    }
    ~RunningCollector() {
        ask("SHUTDOWN");
        qvx::qvxcomm("term", agent_);
        qvx::qvxcomm("shut");
        int status = 0;
        ::waitpid(pid_, &status, 0);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // Rows of the reply, or -1 after a channel error.
    int ask(const char* name) {
        std::vector<qvx::curs_list>* blocks = qvx::qvxcomm("get", agent_, name).blocks;
        if (!blocks || blocks->empty()) return -1;
        return blocks->front().rows;
    }

private:
    std::string dir_;
    pid_t pid_ = -1;
    qvx::comm_anchor* agent_ = nullptr;
};

void round_trips(benchmark::State& state, const char* use_shm, const char* cursor, int rows) {
    std::unique_ptr<RunningCollector> collector;
    try {
        collector = std::make_unique<RunningCollector>(use_shm);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    std::vector<double> micros;
    auto next = Clock::now() + kPace;
    for (auto _ : state) {
        std::this_thread::sleep_until(next);
        const auto t0 = Clock::now();
        const int got = collector->ask(cursor);
        const auto t1 = Clock::now();
        next = t1 + kPace;
        if (got != rows) {
            state.SkipWithError("wrong row count in a reply");
            break;
        }
        const double us = std::chrono::duration<double, std::micro>(t1 - t0).count();
        micros.push_back(us);
        state.SetIterationTime(us / 1e6);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * rows * 200);
    report(state, micros);
}

void BM_PipeOneRow(benchmark::State& s) { round_trips(s, "0", "ONE", 1); }
void BM_Pipe1000Rows(benchmark::State& s) { round_trips(s, "0", "THOUSAND", 1000); }
void BM_Pipe1MB(benchmark::State& s) { round_trips(s, "0", "MEG", 5000); }
void BM_ShmOneRow(benchmark::State& s) { round_trips(s, "1", "ONE", 1); }
void BM_Shm1000Rows(benchmark::State& s) { round_trips(s, "1", "THOUSAND", 1000); }
void BM_Shm1MB(benchmark::State& s) { round_trips(s, "1", "MEG", 5000); }

// Two processes handing a token back and forth through a pair of System V
// semaphores: the least a request and its answer can cost. Back to back
// both processes stay hot; paced like the requests (1.1 s apart) both
// wake from idle each time, which is the floor for the requests above.
void ping_pong(benchmark::State& state, bool paced) {
    const int set = ::semget(IPC_PRIVATE, 2, IPC_CREAT | 0600);
    if (set < 0) {
        state.SkipWithError("semget failed");
        return;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        sembuf take{0, -1, 0}, give{1, 1, 0};
        for (;;) {
            if (::semop(set, &take, 1) != 0) ::_exit(0);
            if (::semop(set, &give, 1) != 0) ::_exit(0);
        }
    }
    sembuf give{0, 1, 0}, take{1, -1, 0};
    std::vector<double> micros;
    auto next = Clock::now();
    for (auto _ : state) {
        if (paced) std::this_thread::sleep_until(next);
        const auto t0 = Clock::now();
        ::semop(set, &give, 1);
        ::semop(set, &take, 1);
        const auto t1 = Clock::now();
        next = t1 + kPace;
        const double us = std::chrono::duration<double, std::micro>(t1 - t0).count();
        micros.push_back(us);
        state.SetIterationTime(us / 1e6);
    }
    ::semctl(set, 0, IPC_RMID);
    ::waitpid(child, nullptr, 0);
    report(state, micros);
}

void BM_BareSemaphorePingPong(benchmark::State& s) { ping_pong(s, false); }
void BM_BareSemaphorePingPongPaced(benchmark::State& s) { ping_pong(s, true); }

BENCHMARK(BM_BareSemaphorePingPong)->UseManualTime()->Iterations(20000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareSemaphorePingPongPaced)->UseManualTime()->Iterations(kSamples)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PipeOneRow)->UseManualTime()->Iterations(kSamples)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Pipe1000Rows)->UseManualTime()->Iterations(kSamples)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Pipe1MB)->UseManualTime()->Iterations(kSamples)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ShmOneRow)->UseManualTime()->Iterations(kSamples)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Shm1000Rows)->UseManualTime()->Iterations(kSamples)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Shm1MB)->UseManualTime()->Iterations(kSamples)->Unit(benchmark::kMicrosecond);

} // namespace
