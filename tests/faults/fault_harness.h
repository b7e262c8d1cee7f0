// What the fault loops share: the collector over the SQLite example in
// the background, the agent (qvxprobe) asking it, and what the loops read
// off a process from /proc (CPU time, resident memory, zombie children).
//
// The loops run short counts by default (make test); QVX_FAULTS_LONG=1
// gives the long counts (make soak).
#pragma once

#include <signal.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "blackbox/harness.h"

namespace qvxtest {

inline bool long_faults() {
    const char* v = std::getenv("QVX_FAULTS_LONG");
    return v && *v && std::string(v) != "0";
}
inline int fault_count(int short_count, int long_count) { return long_faults() ? long_count : short_count; }

// User plus system CPU seconds a process has used.
inline double cpu_seconds(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = all.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream rest(all.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::atol(field.c_str());
        if (i == 15) stime = std::atol(field.c_str());
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Resident set size in kB, -1 when the process is gone.
inline long rss_kb(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// Children of this process that have ended and not been waited for.
inline int zombie_children() {
    int zombies = 0;
    const std::string me = std::to_string(::getpid());
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        const std::string name = e.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(e.path() / "stat");
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t close = all.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(all.substr(close + 2));
        std::string state, ppid;
        rest >> state >> ppid;
        zombies += state == "Z" && ppid == me;
    }
    return zombies;
}

inline bool segment_exists(int id) {
    shmid_ds ds{};
    return ::shmctl(id, IPC_STAT, &ds) == 0;
}
inline bool semaphores_exist(int id) { return ::semctl(id, 0, GETVAL) >= 0; }

// The ids the IPC id file names.
struct ChannelIds {
    int owner = 0, writer = 0, request_shm = -1, request_sem = -1, data_shm = -1, data_sem = -1;
};

// The collector over the SQLite example plus a cursor of many rows (BIG,
// about 1 MB a reply), run in the background until stopped; the example's
// cursors and the agent channel run at the given interval.
class SqliteCollector {
public:
    static constexpr const char* kBigCursor =
        "cursor BIG;\n"
        "  INSERT INTO demo.big (n, pad) VALUES (:INT!n, :pad^200);\n"
        "  insert_select WITH RECURSIVE s(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM s WHERE n < 5000)"
        " SELECT n AS n, printf('%200d', n) AS pad FROM s;\n"
        "  interval 1;\n"
        "  limit 5000;\n"
        "  samples 1;\n"
        "end;\n";

    explicit SqliteCollector(const std::string& channel = "", int interval = 5) {
        const std::string dir = std::string(QVX_SOURCE_DIR) + "/examples/sqlite";
        if (!channel.empty()) run.env["COLL_USESHM"] = channel;
        run.env["WAIT_TIMEOUT"] = "5";
        db = run.dir.file("sample.db");
        made = run_program("/bin/bash", {dir + "/make-sample-db.sh", db}, run.env, run.dir.path()).status == 0;
        const std::string every = "interval " + std::to_string(interval) + ";";
        run.control("proc", replaced(read_file(dir + "/qvxproc.ctl"), "interval 5;", every));
        run.control("dict", read_file(dir + "/qvxdict.ctl"));
        std::string coll = read_file(dir + "/qvxcoll.ctl");
        coll = replaced(coll.substr(0, coll.rfind("end;")), "interval 5;", every) + kBigCursor;
        run.control("coll", coll);
        run.env["COLL_CONNECT"] = "sqlite:" + db;
    }
    ~SqliteCollector() {
        if (proc.pid > 0) {
            ::kill(proc.pid, SIGKILL);
            wait_program(proc, 10);
        }
    }

    // Starts the collector and waits until it answers a status request.
    bool start() {
        proc = spawn_program(bin_path("qvxcoll"), {"-logonid", "monitor"}, run.env, run.dir.path());
        for (int i = 0; i < 60; ++i) {
            if (probe({"--timeout", "2", "C-STATUS"}).status == 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        return false;
    }

    RunResult probe(std::vector<std::string> args, int timeout_s = 40) const {
        args.insert(args.begin(), {"--control", run.dir.path()});
        return run_program(bin_path("qvxprobe"), args, run.env, run.dir.path(), timeout_s);
    }
    Spawned probe_in_background(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--control", run.dir.path()});
        return spawn_program(bin_path("qvxprobe"), args, run.env, run.dir.path());
    }

    ChannelIds ids() const {
        ChannelIds ids;
        for (const auto& e : std::filesystem::directory_iterator(run.dir.path() + "/tmp")) {
            if (!e.path().filename().string().ends_with("SRV_qvx_testhost")) continue;
            std::ifstream in(e.path());
            in >> ids.owner >> ids.writer >> ids.request_shm >> ids.request_sem >> ids.data_shm >> ids.data_sem;
        }
        return ids;
    }

    std::vector<std::string> tmp_files() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(run.dir.path() + "/tmp"))
            names.push_back(e.path().filename().string());
        return names;
    }

    static std::string replaced(std::string text, const std::string& from, const std::string& to) {
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
        return text;
    }

    CollectorRun run;
    std::string db;
    bool made = false;
    Spawned proc;
};

} // namespace qvxtest
