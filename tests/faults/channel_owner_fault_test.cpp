// The channel belongs to its owner: with COLL_IPC_MODE=0600 a process of
// another user can neither attach the segments, use the semaphore sets,
// open the pipes nor read the id file; without the setting it can, as
// old agents expect. The other user is made here (root only).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "faults/fault_harness.h"

using namespace qvxtest;

namespace {

constexpr const char* kOtherUser = "qvxother";

// The uid and gid of the second user, made when missing; nothing when
// this process may not change users.
std::optional<std::pair<uid_t, gid_t>> other_user() {
    if (::geteuid() != 0) return std::nullopt;
    if (!::getpwnam(kOtherUser))
        run_program("/usr/sbin/useradd", {"--system", "--no-create-home", "--shell", "/usr/sbin/nologin", kOtherUser},
                    {}, "/");
    const passwd* pw = ::getpwnam(kOtherUser);
    if (!pw) return std::nullopt;
    return std::pair{pw->pw_uid, pw->pw_gid};
}

// What the other user could do with the channel, one bit each.
enum Reach : int { kAttach = 1, kSemaphore = 2, kPipe = 4, kIdFile = 8 };

int reach_as(uid_t uid, gid_t gid, const ChannelIds& ids, const std::string& pipe, const std::string& id_file) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(100);
        int can = 0;
        for (int shm : {ids.request_shm, ids.data_shm}) {
            void* at = shm >= 0 ? ::shmat(shm, nullptr, 0) : reinterpret_cast<void*>(-1);
            if (at != reinterpret_cast<void*>(-1)) {
                can |= kAttach;
                ::shmdt(at);
            }
        }
        for (int sem : {ids.request_sem, ids.data_sem})
            if (sem >= 0 && ::semctl(sem, 0, GETVAL) >= 0) can |= kSemaphore;
        if (!pipe.empty()) {
            const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) can |= kPipe;
        }
        if (!id_file.empty() && ::open(id_file.c_str(), O_RDONLY) >= 0) can |= kIdFile;
        ::_exit(can);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ChannelOwner : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        user = other_user();
        if (!user) GTEST_SKIP() << "needs root to make and become a second user";
        c = std::make_unique<SqliteCollector>(GetParam());
        ASSERT_TRUE(c->made);
        // Every directory on the way is open to all: only the objects' own
        // modes keep the other user out.
        for (std::filesystem::path p = c->run.dir.path() + "/tmp"; p != "/tmp" && p != "/"; p = p.parent_path())
            ::chmod(p.c_str(), 0755);
    }
    void TearDown() override {
        if (c && c->proc.pid > 0) {
            EXPECT_EQ(c->probe({"SHUTDOWN"}).status, 0);
            EXPECT_EQ(wait_program(c->proc, 40), 0);
            c->proc.pid = -1;
        }
    }
    // Started under umask 0: without the setting every object is open to
    // all, with it the mode holds whatever the umask.
    bool start_open() {
        const mode_t old = ::umask(0);
        const bool started = c->start();
        ::umask(old);
        return started;
    }
    bool shm() const { return std::string(GetParam()) == "1"; }
    std::string tmp(const std::string& name) const { return c->run.dir.path() + "/tmp/" + name; }

    // The channel's files in the temporary directory and their modes.
    std::map<std::string, mode_t> file_modes() const {
        std::map<std::string, mode_t> modes;
        for (const auto& name : c->tmp_files()) {
            struct stat st{};
            if (::lstat(tmp(name).c_str(), &st) == 0) modes[name] = st.st_mode & 07777;
        }
        return modes;
    }
    int reach() const {
        const ChannelIds ids = shm() ? c->ids() : ChannelIds{};
        std::string id_file;
        for (const auto& name : c->tmp_files())
            if (name.ends_with("SRV_qvx_testhost")) id_file = tmp(name);
        return reach_as(user->first, user->second, ids, shm() ? "" : tmp("col_SRV_qvx_pipe"), id_file);
    }

    std::optional<std::pair<uid_t, gid_t>> user;
    std::unique_ptr<SqliteCollector> c;
};

TEST_P(ChannelOwner, ModeSettingShutOutOtherUsersTheOwnerStillServed) {
    c->run.env["COLL_IPC_MODE"] = "0600";
    ASSERT_TRUE(start_open()) << c->run.output();

    const auto modes = file_modes();
    ASSERT_FALSE(modes.empty());
    for (const auto& [name, mode] : modes) EXPECT_EQ(mode, 0600u) << name;
    if (shm()) {
        const ChannelIds ids = c->ids();
        for (int id : {ids.request_shm, ids.data_shm}) {
            shmid_ds ds{};
            ASSERT_EQ(::shmctl(id, IPC_STAT, &ds), 0);
            EXPECT_EQ(ds.shm_perm.mode & 0777, 0600u);
        }
        for (int id : {ids.request_sem, ids.data_sem}) {
            semid_ds ds{};
            ASSERT_EQ(::semctl(id, 0, IPC_STAT, &ds), 0);
            EXPECT_EQ(ds.sem_perm.mode & 0777, 0600u);
        }
    }
    EXPECT_EQ(reach(), 0);
    const RunResult r = c->probe({"--timeout", "10", "DBPAGES"});
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST_P(ChannelOwner, WithoutTheSettingOtherUsersGetInAsBefore) {
    ASSERT_TRUE(start_open()) << c->run.output();
    EXPECT_EQ(reach(), shm() ? kAttach | kSemaphore | kIdFile : kPipe);
}

INSTANTIATE_TEST_SUITE_P(Channels, ChannelOwner, ::testing::Values("0", "1"),
                         [](const auto& info) { return std::string(info.param) == "1" ? "SharedMemory" : "Pipes"; });

// A mode the collector cannot honour stops it before any channel object
// exists; the check reports it the same way.
TEST(ChannelMode, MalformedModeStopsStartUpAndFailsTheCheck) {
    for (const char* bad : {"9", "0x600", "0400", "01777", "rw-------"}) {
        SqliteCollector c("1");
        ASSERT_TRUE(c.made);
        c.run.env["COLL_IPC_MODE"] = bad;
        const RunResult run = c.run.run({"-logonid", "monitor"}, 30);
        const std::string out = c.run.output();
        EXPECT_TRUE(has_line(c.run.output(), "CML1528S", std::string("refused: COLL_IPC_MODE: ") + "'COLL_IPC_MODE' is not an octal mode that lets the owner read and write, such as 0600 or 0660 (" + bad + ")"))
            << bad << ": " << out;
        EXPECT_TRUE(c.tmp_files().empty()) << bad;
        const RunResult probe = c.probe({"--timeout", "2", "C-STATUS"});
        EXPECT_EQ(probe.status, 64) << bad;
        EXPECT_NE(probe.err.find("COLL_IPC_MODE"), std::string::npos) << bad << ": " << probe.err;

        const RunResult check = c.run.run({"--check", "-logonid", "monitor"}, 30);
        EXPECT_EQ(check.status, 1) << bad;
        EXPECT_NE(check.out.find("ERROR UEN0030E"), std::string::npos) << bad << ": " << check.out;
    }
}

} // namespace
