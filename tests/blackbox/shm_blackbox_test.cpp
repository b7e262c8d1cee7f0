// The shared-memory channel's objects over the collector's life: a killed
// collector leaves them behind, the next start removes and replaces them,
// and an orderly end leaves none.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/sem.h>
#include <sys/shm.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "blackbox/harness.h"
#include "channel/comm_shm.h"

using namespace qvxtest;

namespace {

struct Ids {
    int owner = 0, writer = 0, request_shm = -1, request_sem = -1, data_shm = -1, data_sem = -1;
};

class SharedMemoryLife : public ::testing::Test {
protected:
    void SetUp() override {
        c.good_files();
        std::string collect = kGoodCollect;  // without its go_home: runs until stopped
        collect.erase(collect.find("  go_home 0;\n"), 13);
        c.control("coll", collect);
        c.control("proc",
                  "process collector;\n  type local;\n  logon_id monitor;\n  interval 60;\n"
                  "  Mon_Fri_start 0000;\n  Mon_Fri_end 2400;\n"
                  "process upa;\n  type local;\n  interval 1;\nend;\n");
        c.env.erase("COLL_USESHM");  // the default channel
        c.env["WAIT_TIMEOUT"] = "10";
    }

    // The id file the collector publishes (its name ends with server id,
    // database type and host).
    Ids read_ids() {
        Ids ids;
        for (const auto& e : std::filesystem::directory_iterator(c.dir.path() + "/tmp")) {
            const std::string name = e.path().filename().string();
            if (name.ends_with("SRV_qvx_testhost")) {
                std::ifstream in(e.path());
                in >> ids.owner >> ids.writer >> ids.request_shm >> ids.request_sem >> ids.data_shm >> ids.data_sem;
            }
        }
        return ids;
    }

    RunResult probe(const std::string& what) {
        return run_program(bin_path("qvxprobe"), {"--timeout", "5", what}, c.env, c.dir.path(), 40);
    }

    bool answering() {
        for (int i = 0; i < 30; ++i) {
            if (probe("C-STATUS").status == 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        return false;
    }

    CollectorRun c;
};

TEST_F(SharedMemoryLife, KilledCollectorsObjectsAreReplacedAndAnOrderlyEndLeavesNone) {
    Spawned first = spawn_program(bin_path("qvxcoll"), {}, c.env, c.dir.path());
    ASSERT_TRUE(answering()) << c.output();
    const Ids old = read_ids();
    ASSERT_GE(old.request_shm, 0) << "no id file";
    ::kill(first.pid, SIGKILL);
    EXPECT_EQ(wait_program(first, 10), -1);
    EXPECT_TRUE(segment_exists(old.request_shm));
    EXPECT_TRUE(segment_exists(old.data_shm));

    Spawned second = spawn_program(bin_path("qvxcoll"), {}, c.env, c.dir.path());
    ASSERT_TRUE(answering()) << c.output();
    const Ids now = read_ids();
    EXPECT_FALSE(segment_exists(old.request_shm));
    EXPECT_FALSE(segment_exists(old.data_shm));
    EXPECT_FALSE(semset_exists(old.request_sem));
    EXPECT_FALSE(semset_exists(old.data_sem));
    EXPECT_TRUE(segment_exists(now.request_shm));

    EXPECT_EQ(probe("SHUTDOWN").status, 0);
    EXPECT_EQ(wait_program(second, 30), 0);
    for (int id : {now.request_shm, now.data_shm}) EXPECT_FALSE(segment_exists(id)) << id;
    for (int id : {now.request_sem, now.data_sem}) EXPECT_FALSE(semset_exists(id)) << id;
    const std::string out = c.output();
    // Whichever came first of the second collector and the probe removed
    // the dead owner's objects and made new ones; the other attached.
    size_t established = 0;
    for (const std::string& line : split_lines(out))
        established += line.find("Created IPCID") != std::string::npos || line.find("Attached IPCID") != std::string::npos;
    EXPECT_EQ(established, 1u) << out;
}

// After a reboot the id file may name a process id that some other
// process has now, and objects that are gone or were never that
// process's. The collector makes new objects instead of stopping; objects
// nobody has attached are left-overs and are removed.
TEST_F(SharedMemoryLife, IdFileOfARunningProcessWithoutItsObjectsGetsNewOnes) {
    const int me = static_cast<int>(::getpid());
    const std::string id_file = c.dir.path() + "/tmp/testhost_vx_SRV_SRV_qvx_testhost";
    auto segment = [](size_t size) { return ::shmget(IPC_PRIVATE, size, IPC_CREAT | 0600); };
    auto semaphores = [] { return ::semget(IPC_PRIVATE, 2, IPC_CREAT | 0600); };

    Ids gone{me, me, segment(qvx::reqseg::kSize), semaphores(), segment(qvx::dataseg::kSize), semaphores()};
    ::shmctl(gone.request_shm, IPC_RMID, nullptr);
    ::shmctl(gone.data_shm, IPC_RMID, nullptr);
    ::semctl(gone.request_sem, 0, IPC_RMID);
    ::semctl(gone.data_sem, 0, IPC_RMID);
    // Of the channel's shape, but this process (the one named) has not
    // attached them.
    Ids unattached{me, me, segment(qvx::reqseg::kSize), semaphores(), segment(qvx::dataseg::kSize), semaphores()};
    ASSERT_GE(unattached.request_shm, 0);
    ASSERT_GE(unattached.data_sem, 0);

    for (const Ids& named : {gone, unattached}) {
        std::ofstream(id_file) << named.owner << " " << named.writer << " " << named.request_shm << " "
                               << named.request_sem << " " << named.data_shm << " " << named.data_sem << "\n";
        std::filesystem::remove(c.dir.file(c.output_name()));
        Spawned coll = spawn_program(bin_path("qvxcoll"), {}, c.env, c.dir.path());
        for (int i = 0; i < 100 && read_ids().request_shm == named.request_shm; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(answering()) << c.output();
        const Ids now = read_ids();
        EXPECT_NE(now.request_shm, named.request_shm);
        EXPECT_TRUE(segment_exists(now.request_shm));
        EXPECT_EQ(probe("SHUTDOWN").status, 0);
        EXPECT_EQ(wait_program(coll, 30), 0);
        const std::string out = c.output();
        EXPECT_NE(out.find("Created IPCID"), std::string::npos) << out;
        EXPECT_EQ(out.find("Attached IPCID"), std::string::npos) << out;
    }
    EXPECT_FALSE(segment_exists(unattached.request_shm));
    EXPECT_FALSE(segment_exists(unattached.data_shm));
    EXPECT_FALSE(semset_exists(unattached.request_sem));
    EXPECT_FALSE(semset_exists(unattached.data_sem));
}

} // namespace
