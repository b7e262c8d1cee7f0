// Helpers shared by the tests: temporary directories, scoped environment
// changes and running a built program in a directory of its own.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qvxtest {

// A fresh directory under the system temporary directory, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Writes (creating directories on the way) and returns the full path.
    std::string write(const std::string& name, const std::string& content) const;
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;
    // Names of the plain files directly in the directory, sorted.
    std::vector<std::string> files() const;

private:
    std::string path_;
};

// Sets or unsets environment variables and restores them when it goes.
class ScopedEnv {
public:
    ScopedEnv() = default;
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    void set(const std::string& name, const std::string& value);
    void unset(const std::string& name);

private:
    void remember(const std::string& name);
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

std::string read_file(const std::string& path);
std::vector<std::string> split_lines(const std::string& text);

struct RunResult {
    int status = -1;        // exit status, or -1 when killed by a signal
    int signal = 0;         // terminating signal, 0 when it exited
    std::string out;        // standard output
    std::string err;        // standard error
};

// Runs a program with exactly the given environment (plus PATH) in cwd,
// killing it after timeout_s seconds.
RunResult run_program(const std::string& exe, const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env, const std::string& cwd,
                      int timeout_s = 60);

// A program started in the background; its standard output and error go
// to files in its directory ("stdout.txt", "stderr.txt").
struct Spawned {
    int pid = -1;
};
Spawned spawn_program(const std::string& exe, const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& env, const std::string& cwd);
// Waits for it to end (killing it after timeout_s); the exit status, or -1
// when a signal ended it.
int wait_program(Spawned& p, int timeout_s);
// Waits until the file holds the text somewhere after its first `from`
// bytes; false after timeout_s.
bool wait_for_text(const std::string& path, const std::string& text, int timeout_s, size_t from = 0);

// Waits for a forked child (killing it after timeout_s); its exit status,
// or -1 when a signal ended it or it had to be killed.
int wait_child(int pid, int timeout_s = 20);
// The id of a process that has just ended.
int dead_pid();

// Runs SQL on a SQLite file with the sqlite3 shell (waiting up to five
// seconds for a lock); what it printed, less the final newlines. A
// failure counts against the test.
std::string sqlite(const std::string& db, const std::string& sql);

// Whether a System V shared-memory segment, or semaphore set, of that id
// is still there.
bool segment_exists(int id);
bool semset_exists(int id);

// Path of a program built into build/bin.
std::string bin_path(const std::string& name);

} // namespace qvxtest
