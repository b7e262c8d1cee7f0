// The collector serving an agent: qvxcoll runs the SQLite example (with a
// demand cursor and a virtual cursor added) in the background and qvxprobe
// asks it for rows, status and control requests, over the named pipes and
// over shared memory. Over the pipes, hand-made bad requests must not stop
// the service.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "blackbox/harness.h"

using namespace qvxtest;

namespace {

const std::string kExampleDir = std::string(QVX_SOURCE_DIR) + "/examples/sqlite";

// The example's cursors plus a demand cursor that shows the time of its
// collection and the first request parameter, and the server-status
// cursor built from DICT.CTL elements.
const char* const kExtraCursors =
    "cursor NOW;\n"
    "  INSERT INTO demo.now (stamp, who) VALUES (:stamp^16, :%parm0);\n"
    "  insert_select SELECT strftime('%H:%M:%f', 'now') AS stamp;\n"
    "  demand;\n"
    "  stale 3;\n"
    "  limit 1;\n"
    "cursor SERVSTAT;\n"
    "  INSERT INTO demo.servstat (server_name, SQLRC) VALUES (:server_name, :SQLRC);\n"
    "  virtual;\n"
    "end;\n";

const char* const kExtraDict =
    "name SQLRC;\n"
    "  type CHAR(8);\n"
    "end;\n";

// The number of blocks a control file opens with the keyword: lines
// whose first word it is.
size_t blocks(const std::string& text, const std::string& keyword) {
    size_t n = 0;
    for (const auto& line : split_lines(text)) {
        const size_t at = line.find_first_not_of(" \t");
        if (at != std::string::npos && line.compare(at, keyword.size() + 1, keyword + " ") == 0) ++n;
    }
    return n;
}

// What the status requests answer with: one image per cursor (the
// example's, the extra ones and the percent cursor) and one per
// distributor.
std::string cursor_status_head() {
    return "C-STATUS: " +
           std::to_string(blocks(read_file(kExampleDir + "/qvxcoll.ctl") + kExtraCursors, "cursor") + 1) +
           " rows of 456 bytes";
}
std::string distributor_status_head() {
    return "D-STATUS: " + std::to_string(blocks(read_file(kExampleDir + "/qvxproc.ctl"), "process")) +
           " rows of 784 bytes";
}

std::string without_end(const std::string& text) {
    const size_t at = text.rfind("end;");
    return at == std::string::npos ? text : text.substr(0, at);
}

class RequestService : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        c.env["COLL_USESHM"] = GetParam();
        c.env["WAIT_TIMEOUT"] = "10";
        db = c.dir.file("sample.db");
        RunResult made = run_program("/bin/bash", {kExampleDir + "/make-sample-db.sh", db}, c.env, c.dir.path());
        ASSERT_EQ(made.status, 0) << made.err;
        c.control("proc", read_file(kExampleDir + "/qvxproc.ctl"));
        c.control("dict", without_end(read_file(kExampleDir + "/qvxdict.ctl")) + kExtraDict);
        // The collector runs in its own directory: the script cursor gets
        // the example script's full path.
        c.control("coll", replaced(without_end(read_file(kExampleDir + "/qvxcoll.ctl")), "./host_figures.sh",
                                   kExampleDir + "/host_figures.sh") +
                              kExtraCursors);
        c.env["COLL_CONNECT"] = "sqlite:" + db;
        collector = spawn_program(bin_path("qvxcoll"), {"-logonid", "monitor"}, c.env, c.dir.path());
        // Ready when the status request is answered.
        for (int i = 0; i < 30; ++i) {
            if (probe({"--timeout", "2", "C-STATUS"}).status == 0) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        FAIL() << "the collector did not answer\n" << c.output();
    }
    void TearDown() override {
        if (collector.pid > 0) {
            probe({"SHUTDOWN"});
            wait_program(collector, 30);
        }
    }

    RunResult probe(std::vector<std::string> args) {
        args.insert(args.begin(), {"--control", c.dir.path()});
        return run_program(bin_path("qvxprobe"), args, c.env, c.dir.path(), 40);
    }

    // The value of one column in the printed table of a one-row reply.
    static std::string cell(const std::string& table, size_t column) {
        const auto lines = split_lines(table);
        if (lines.size() < 3) return "<no row>";
        std::istringstream row(lines[2]);
        const std::vector<std::string> words{std::istream_iterator<std::string>(row), {}};
        return column < words.size() ? words[column] : "<no cell>";
    }

    CollectorRun c;
    std::string db;
    Spawned collector;
};

TEST_P(RequestService, AnswersRowsStatusAndControlRequests) {
    // A scheduled cursor: the database's own page size.
    RunResult pages = probe({"DBPAGES"});
    ASSERT_EQ(pages.status, 0) << pages.err;
    EXPECT_NE(pages.out.find("DBPAGES: 1 row of 20 bytes"), std::string::npos) << pages.out;
    EXPECT_EQ(cell(pages.out, 1), sqlite(db, "PRAGMA page_size")) << pages.out;

    // Status images: one per cursor and one per distributor.
    RunResult cs = probe({"C-STATUS"});
    EXPECT_NE(cs.out.find(cursor_status_head()), std::string::npos) << cs.out;
    EXPECT_NE(cs.out.find("NOW"), std::string::npos) << cs.out;
    RunResult ds = probe({"D-STATUS"});
    EXPECT_NE(ds.out.find(distributor_status_head()), std::string::npos) << ds.out;
    EXPECT_NE(ds.out.find("upa"), std::string::npos) << ds.out;

    // The demand cursor is collected when asked; its rows stay for the
    // stale time, then the next request collects again.
    RunResult first = probe({"NOW", "alice"});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(cell(first.out, 1), "alice") << first.out;
    RunResult again = probe({"NOW", "bob"});
    EXPECT_EQ(cell(again.out, 0), cell(first.out, 0)) << first.out << again.out;
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    RunResult later = probe({"NOW", "carol"});
    EXPECT_NE(cell(later.out, 0), cell(first.out, 0)) << first.out << later.out;
    EXPECT_EQ(cell(later.out, 1), "carol") << later.out;

    // The virtual cursor: the DICT.CTL element's value, and SQLRC blank
    // while the database answers.
    RunResult virt = probe({"SERVSTAT"});
    ASSERT_EQ(virt.status, 0) << virt.err;
    EXPECT_NE(virt.out.find("SERVSTAT: 1 row"), std::string::npos) << virt.out;
    EXPECT_EQ(cell(virt.out, 0), "SRV") << virt.out;

    // An unknown cursor answers with no rows.
    RunResult unknown = probe({"NOSUCH"});
    EXPECT_EQ(unknown.status, 0) << unknown.err;
    EXPECT_NE(unknown.out.find("NOSUCH: 0 rows"), std::string::npos) << unknown.out;

    RunResult retrace = probe({"RETRACE"});
    EXPECT_NE(retrace.out.find("RETRACE: 0 rows"), std::string::npos) << retrace.out;

    RunResult down = probe({"SHUTDOWN"});
    EXPECT_NE(down.out.find("SHUTDOWN: 0 rows"), std::string::npos) << down.out;
    EXPECT_EQ(wait_program(collector, 30), 0);
    collector.pid = -1;
    const std::string out = c.output();
    EXPECT_TRUE(has_line(out, "CIR1850I", "Reseting trace.")) << out;
    EXPECT_TRUE(has_line(out, "CIR1855I", "SHUTDOWN request recieved.")) << out;
    EXPECT_TRUE(has_line(out, "CGN1524I", "Quit request received.")) << out;
    EXPECT_TRUE(has_line(out, "GGN1505S", "Collector ended")) << out;
}

TEST_P(RequestService, SeveralAgentsAtOnceGetTheirOwnAnswers) {
    const std::vector<std::string> asks = {"DBPAGES", "C-STATUS", "SCHEMA", "D-STATUS"};
    std::vector<RunResult> got(asks.size());
    std::vector<std::thread> agents;
    for (size_t i = 0; i < asks.size(); ++i)
        agents.emplace_back([&, i] { got[i] = probe({"--timeout", "20", asks[i]}); });
    for (auto& a : agents) a.join();
    const std::string firsts[] = {"DBPAGES: 1 row of 20 bytes", cursor_status_head(),
                                  "SCHEMA: 12 rows of 136 bytes", distributor_status_head()};
    for (size_t i = 0; i < asks.size(); ++i) {
        EXPECT_EQ(got[i].status, 0) << asks[i] << ": " << got[i].err;
        EXPECT_EQ(got[i].out.rfind(firsts[i], 0), 0u) << got[i].out;
    }
}

// The rows of a script-exit cursor reach an agent like fetched rows.
TEST_P(RequestService, ScriptRowsReachTheAgent) {
    RunResult figures;
    for (int i = 0; i < 20; ++i) {
        figures = probe({"FIGURES"});
        if (figures.out.find("FIGURES: 2 rows") != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    ASSERT_NE(figures.out.find("FIGURES: 2 rows"), std::string::npos) << figures.err << figures.out;
    EXPECT_NE(figures.out.find("uptime"), std::string::npos) << figures.out;
    EXPECT_NE(figures.out.find("processes"), std::string::npos) << figures.out;
    EXPECT_EQ(figures.out.find("HFG0001I"), std::string::npos) << figures.out;
}

INSTANTIATE_TEST_SUITE_P(Channels, RequestService, ::testing::Values("0", "1"),
                         [](const auto& info) { return std::string(info.param[0] == '0' ? "Pipes" : "SharedMemory"); });

// ------------------------------------------------------------------
// Hand-made requests written straight into the collector's pipe.

class BadPipeRequests : public RequestService {
protected:
    std::string collector_pipe() const { return c.dir.path() + "/tmp/col_SRV_qvx_pipe"; }

    static std::vector<unsigned char> request(const std::string& name, const std::string& reply,
                                              const std::vector<std::string>& parms, int len = -1,
                                              int name_len = -1) {
        return pipe_request(name, reply, parms, len, name_len);
    }

    void send(const std::vector<unsigned char>& bytes) {
        const int fd = ::open(collector_pipe().c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(fd, 0) << collector_pipe();
        EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::close(fd);
    }

    // Waits until the message output shows the text.
    bool logged(const std::string& text) {
        return wait_for_text(c.dir.file(c.output_name()), text, 10);
    }
};

TEST_P(BadPipeRequests, AreDroppedAndTheServiceGoesOn) {
    const std::string reply = c.dir.path() + "/tmp/reply_pipe";
    ASSERT_EQ(::mkfifo(reply.c_str(), 0600), 0);

    // Longer than 300 bytes.
    auto too_long = request("DBPAGES", reply, {std::string(250, 'x')});
    too_long.resize(301, 0);
    int16_t len = 301;
    std::memcpy(too_long.data(), &len, 2);
    send(too_long);
    EXPECT_TRUE(logged("request length error, size=301"));

    // A name of 9 characters.
    send(request("DBPAGES12", reply, {}));
    EXPECT_TRUE(logged("Pipe cursor length error"));

    // A reply pipe that does not exist, and one nobody reads.
    send(request("DBPAGES", c.dir.path() + "/tmp/no_such_pipe", {}));
    EXPECT_TRUE(logged("no_such_pipe"));
    send(request("DBPAGES", reply, {}));
    EXPECT_TRUE(logged("Pipe=" + reply));

    // 45 parameters: the first 40 are taken.
    std::vector<std::string> many;
    for (int i = 0; i < 45; ++i) many.push_back(std::to_string(i % 10));
    send(request("C-STATUS", reply, many));

    // A record cut short: the header promises more than arrives.
    auto cut = request("DBPAGES", reply, {});
    cut.resize(6);
    send(cut);
    EXPECT_TRUE(logged("Pipe read error"));

    RunResult ok = probe({"DBPAGES"});
    EXPECT_EQ(ok.status, 0) << ok.err << c.output();
    EXPECT_NE(ok.out.find("DBPAGES: 1 row of 20 bytes"), std::string::npos) << ok.out;
    const std::string out = c.output();
    EXPECT_TRUE(has_line(out, "COM0203E", "request length error, size=301")) << out;
    EXPECT_TRUE(has_line(out, "CIR1835E", "Pipe cursor length error")) << out;
    EXPECT_TRUE(has_line(out, "CIR1880E", "no_such_pipe")) << out;
}

INSTANTIATE_TEST_SUITE_P(Pipes, BadPipeRequests, ::testing::Values("0"),
                         [](const auto&) { return std::string("Pipes"); });

} // namespace
