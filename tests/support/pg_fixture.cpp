#include "support/pg_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace qvxtest {
namespace {

namespace fs = std::filesystem;

// The server programs of the newest PostgreSQL installed (15 on Debian 12).
std::string server_bin() {
    std::string best = "/usr/lib/postgresql/15/bin";
    int best_version = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/usr/lib/postgresql", ec)) {
        const int v = std::atoi(e.path().filename().c_str());
        if (v > best_version && fs::exists(e.path() / "bin" / "initdb")) {
            best_version = v;
            best = (e.path() / "bin").string();
        }
    }
    return best;
}

// psqlODBC's Unicode driver, wherever the multiarch directory puts it.
std::string driver_path() {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/usr/lib", ec)) {
        const fs::path p = e.path() / "odbc" / "psqlodbcw.so";
        if (fs::exists(p, ec)) return p.string();
    }
    return "/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so";
}

const std::string kBin = server_bin();
const std::string kDriver = driver_path();
const char* const kAdminPassword = "qvx-admin";

int free_port() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

} // namespace

PgServer::PgServer() {
    char tmpl[] = "/tmp/qvxpg.XXXXXX";
    if (!::mkdtemp(tmpl)) {
        error_ = "mkdtemp failed";
        return;
    }
    dir_ = tmpl;
    const passwd* pg = ::getpwnam("postgres");
    if (!pg) {
        error_ = "no postgres user";
        return;
    }
    if (::chown(dir_.c_str(), pg->pw_uid, pg->pw_gid) != 0) {
        error_ = "cannot give " + dir_ + " to postgres";
        return;
    }
    write_file(dir_ + "/odbcinst.ini", std::string("[PostgreSQL Unicode]\nDriver=") + kDriver +
                                           "\nCommLog=0\nDebug=0\n");
    ::setenv("ODBCSYSINI", dir_.c_str(), 1);
    write_file(dir_ + "/pw", kAdminPassword);
    if (::chown((dir_ + "/pw").c_str(), pg->pw_uid, pg->pw_gid) != 0) {
        error_ = "chown pw";
        return;
    }
    port_ = free_port();
    if (!run(std::string("runuser -u postgres -- ") + kBin + "/initdb -N -D " + dir_ +
             "/data -U qvxadmin -A scram-sha-256 --pwfile=" + dir_ + "/pw -E UTF8 --locale=C.UTF-8")) {
        error_ = "initdb failed (see " + dir_ + "/cmd.log)";
        return;
    }
    if (!start()) {
        error_ = "pg_ctl start failed (see " + dir_ + "/server.log)";
        return;
    }
    ok_ = true;
}

PgServer::~PgServer() {
    if (running_) stop();
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

bool PgServer::run(const std::string& command) {
    // Logged-on collectors ignore SIGCHLD; waiting for a command needs it.
    std::signal(SIGCHLD, SIG_DFL);
    std::string full = "PGPASSWORD=" + std::string(kAdminPassword) + " " + command + " >>" + dir_ +
                       "/cmd.log 2>&1";
    return std::system(full.c_str()) == 0;
}

bool PgServer::start() {
    running_ = run(std::string("runuser -u postgres -- ") + kBin + "/pg_ctl -D " + dir_ +
                   "/data -l " + dir_ + "/server.log -w -t 60 -o \"-c listen_addresses=127.0.0.1 -p " +
                   std::to_string(port_) + " -k " + dir_ + " -c fsync=off\" start");
    return running_;
}

bool PgServer::stop() {
    bool stopped = run(std::string("runuser -u postgres -- ") + kBin + "/pg_ctl -D " + dir_ +
                       "/data -m immediate -w stop");
    if (stopped) running_ = false;
    return stopped;
}

bool PgServer::psql(const std::string& sql, const std::string& database) {
    const std::string file = dir_ + "/stmt.sql";
    write_file(file, sql);
    return run(std::string("runuser -u postgres -- ") + kBin + "/psql -X -q -v ON_ERROR_STOP=1 -h " +
               dir_ + " -p " + std::to_string(port_) + " -U qvxadmin -d " + database + " -f " + file);
}

std::optional<std::string> PgServer::query(const std::string& sql, const std::string& database) {
    const std::string file = dir_ + "/query.sql", out = dir_ + "/query.out";
    write_file(file, sql);
    std::error_code ec;
    std::filesystem::remove(out, ec);
    if (!run(std::string("runuser -u postgres -- ") + kBin + "/psql -X -q -A -t -v ON_ERROR_STOP=1 -h " + dir_ +
             " -p " + std::to_string(port_) + " -U qvxadmin -d " + database + " -f " + file + " -o " + out))
        return std::nullopt;
    std::ifstream in(out);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

std::string PgServer::psql_program() const { return kBin + "/psql"; }

std::vector<std::string> PgServer::psql_logon(const std::string& database) const {
    return {"-X", "-q", "-h", dir_, "-p", std::to_string(port_), "-U", "qvxadmin", "-d", database};
}

const char* PgServer::admin_password() { return kAdminPassword; }

std::string PgServer::odbc_string(const std::string& database) const {
    return "Driver=PostgreSQL Unicode;Servername=127.0.0.1;Port=" + std::to_string(port_) +
           ";Database=" + database;
}

} // namespace qvxtest

// psqlODBC keeps a few hundred bytes of a connection that broke under it;
// that is the driver's, not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:psqlodbcw.so\n"; }
