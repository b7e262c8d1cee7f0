#include "channel/probe.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>
#include <tuple>

#include "channel/comm_pipe.h"
#include "channel/comm_shm.h"
#include "channel/status_decode.h"
#include "channel/status_images.h"
#include "runtime/settings.h"
#include "support/state.h"
#include "support/testenv.h"

using namespace qvx;
using Bytes = std::vector<unsigned char>;

namespace {

// Cursors whose reply layouts the tests know by hand.
//   KNOWN  name 0..10 | pad | n 12..16 | f 16..24 | t 24..40 | %sampleno 40..56
//   ONE    a 0..4 | txt 4.. | f at the next multiple of 8
//   MANY   a 0..4 | first, mid, second (one cell) | z at the next multiple of 4
//   SETLEN txt 7 wide by set_len; REF reads it
constexpr const char* kCollect = R"(cursor KNOWN;
  INSERT INTO t.known (a, b, c, d, e, g) VALUES (:name^10, :INT!n, :FLOAT!f, :TS!t^16, :NS!skip, :%sampleno);
  demand;
cursor ONE;
  INSERT INTO t.one (a, b, c) VALUES (:INT!a, :txt, :FLOAT!f);
  demand;
cursor MANY;
  INSERT INTO t.many (a, b, c, d, e) VALUES (:INT!a, :first, :INT!mid, :second, :INT!z);
  demand;
cursor SETLEN;
  INSERT INTO t.setlen (a, b) VALUES (:txt, :INT!n);
  set_len txt 7;
  demand;
cursor REF;
  INSERT INTO t.ref (a) VALUES (:SETLEN.txt);
  demand;
end;
)";

template <typename T>
void put(Bytes& row, size_t off, T v) {
    std::memcpy(row.data() + off, &v, sizeof v);
}
void put_text(Bytes& row, size_t off, const std::string& s) { std::memcpy(row.data() + off, s.data(), s.size()); }

// Two rows of KNOWN.
Bytes known_rows() {
    Bytes data(2 * 56, 0);
    for (int r = 0; r < 2; ++r) {
        const size_t b = static_cast<size_t>(r) * 56;
        put_text(data, b, r == 0 ? "alpha     " : "be\\ta");
        put<int32_t>(data, b + 12, r == 0 ? -5 : 123456);
        put<double>(data, b + 16, r == 0 ? 2.5 : -0.125);
        put_text(data, b + 24, "2026120517000000");
        put_text(data, b + 40, std::string(15, ' ') + (r == 0 ? "7" : "8"));
    }
    return data;
}

const char* const kKnownTable =
    "name         n          f  t                 %sampleno\n"
    "alpha       -5   2.500000  2026120517000000                 7\n"
    "be\\\\ta  123456  -0.125000  2026120517000000                 8\n";

// A layout as "name@offset+width" cells; integers ":i", floats ":f",
// time stamps ":ts", merged cells "*".
std::string describe(const RowLayout& l) {
    std::string out = std::to_string(l.size) + ":";
    for (const ProbeColumn& c : l.cols) {
        out += " " + c.name + "@" + std::to_string(c.offset) + "+" + std::to_string(c.width);
        if (c.send_type != SendType::text)
            out += c.send_type == SendType::integer ? ":i" : c.send_type == SendType::floating ? ":f" : ":ts";
        if (c.merged) out += "*";
    }
    return out;
}

class Probe : public ::testing::Test {
protected:
    void SetUp() override {
        qvxtest::reset_collector_state();
        env_vars.localtmpdir = dir.path();
        env_vars.coll_out = dir.path();
        env_vars.serverid = "SRV";
        env_vars.db_type = "qvx";
        env_vars.hostname = "hst";
        // run_probe changes these; the scope puts them back.
        env.set("COLL_USESHM", "1");
        env.set("WAIT_TIMEOUT", "3");
        ctl = dir.path() + "/ctl";
    }
    void TearDown() override { qvxtest::reset_collector_state(); }

    ProbeOptions options(const std::string& name, std::vector<std::string> parms = {},
                         const std::string& control_dir = "") {
        ProbeOptions o;
        o.name = name;
        o.parms = std::move(parms);
        o.channel = ProbeChannel::pipes;
        o.control_dir = control_dir;
        return o;
    }
    // Runs the probe; what it wrote is left in out and err.
    int probe(const ProbeOptions& o) {
        std::ostringstream os, es;
        const int rc = run_probe(o, os, es);
        out = os.str(), err = es.str();
        return rc;
    }
    const curs& load() {
        dir.write("ctl/qvxcoll.ctl", kCollect);
        EXPECT_EQ(load_cursor_definitions(options("KNOWN", {}, ctl), err), 0) << err;
        return *find_cursor("KNOWN");
    }
    RowLayout layout(const char* name, int32_t len) {
        std::string note;
        auto l = layout_for(*find_cursor(name), len, note);
        EXPECT_TRUE(l) << note;
        return l ? *l : RowLayout{};
    }

    qvxtest::TempDir dir;
    qvxtest::ScopedEnv env;
    std::string ctl, out, err;
};

}  // namespace

// ------------------------------------------------------------ command line

TEST(ProbeArgs, OptionsNameAndParameters) {
    ProbeArgs a = parse_probe_args({"--pipes", "-c", "/ctl", "--dbtype=zeb", "--serverid", "S1", "--timeout", "7",
                                    "--raw", "CURA", "P1", "-x", "--shm"});
    ASSERT_TRUE(a.options) << a.error;
    const ProbeOptions& o = *a.options;
    EXPECT_EQ(std::tie(o.channel, o.control_dir, o.dbtype, o.serverid, o.timeout, o.raw, o.name),
              std::make_tuple(ProbeChannel::pipes, "/ctl", "zeb", "S1", 7, true, "CURA"));
    // Everything after the name is a parameter, dashes and all.
    EXPECT_EQ(o.parms, (std::vector<std::string>{"P1", "-x", "--shm"}));

    a = parse_probe_args({"--", "-DASH"});
    ASSERT_TRUE(a.options);
    EXPECT_EQ(a.options->name, "-DASH");
    EXPECT_EQ(a.options->channel, ProbeChannel::environment);

    a = parse_probe_args({"--shm", "--help", "--bogus"});
    ASSERT_TRUE(a.options);
    EXPECT_TRUE(a.options->help);

    std::vector<std::string> forty{"C-STATUS"};
    for (int i = 0; i < 40; ++i) forty.push_back("p" + std::to_string(i));
    EXPECT_EQ(parse_probe_args(forty).options->parms.size(), 40u);
    forty.push_back("one-too-many");
    EXPECT_FALSE(parse_probe_args(forty).options);
}

TEST(ProbeArgs, UsageErrorsNameTheProblem) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{}, "no request name"},
        {{"--raw"}, "no request name"},
        {{"--verbose", "X"}, "unknown option '--verbose'"},
        {{"-c"}, "-c needs a value"},
        {{"--control=", "X"}, "--control needs a value"},
        {{"--timeout", "0", "X"}, "not '0'"},
        {{"--timeout", "601", "X"}, "not '601'"},
        {{"--timeout", "5s", "X"}, "not '5s'"},
        {{"--pipes", "--shm", "X"}, "exclude each other"},
        {{"NINECHARS"}, "1 to 8 characters"},
        {{"A,B"}, "blanks or commas"},
        {{"A B"}, "blanks or commas"},
        {{"CUR", "x", ""}, "parameter 2 is empty"},
    };
    for (const auto& [args, want] : cases) {
        const ProbeArgs a = parse_probe_args(args);
        EXPECT_FALSE(a.options) << want;
        EXPECT_NE(a.error.find(want), std::string::npos) << a.error;
    }
    // The program turns them into status 64.
    std::vector<char*> argv{const_cast<char*>("qvxprobe"), const_cast<char*>("--nope"), nullptr};
    int rc = 0;
    const std::string shown = qvxtest::captured([&] { rc = probe_main(2, argv.data()); });
    EXPECT_EQ(rc, kProbeUsageError);
    EXPECT_TRUE(qvxtest::has(shown, "unknown option '--nope'; see qvxprobe --help")) << shown;
}

// ------------------------------------------------------------ layouts

TEST_F(Probe, LayoutOfKnownWidths) {
    const curs& c = load();
    // The NS column takes no room; the percent variable is 16 wide.
    EXPECT_EQ(describe(layout("KNOWN", 56)), "56: name@0+10 n@12+4:i f@16+8:f t@24+16:ts %sampleno@40+16");
    std::string note;
    EXPECT_FALSE(layout_for(c, 57, note));
    EXPECT_NE(note.find("gives rows of 56 bytes, the reply has 57"), std::string::npos) << note;
    // set_len gives a width, and so it does for a column that reads it.
    EXPECT_EQ(describe(layout("SETLEN", 12)), "12: txt@0+7 n@8+4:i");
    EXPECT_EQ(describe(layout("REF", 7)), "7: SETLEN.txt@0+7");
}

TEST_F(Probe, LayoutSolvesUnknownWidthsFromTheRowLength) {
    load();
    // One: the widest width that the float's alignment allows.
    EXPECT_EQ(describe(layout("ONE", 24)), "24: a@0+4:i txt@4+12 f@16+8:f");
    std::string note;
    EXPECT_FALSE(layout_for(*find_cursor("ONE"), 20, note)) << "the float cannot end at 20";
    EXPECT_NE(note.find("txt"), std::string::npos) << note;
    // Several: everything from the first to the last of them is one cell.
    EXPECT_EQ(describe(layout("MANY", 32)), "32: a@0+4:i first+mid+second@4+24* z@28+4:i");
}

TEST_F(Probe, ControlFileProblemsExit66) {
    // The database type picks the file.
    dir.write("zebcoll.ctl", "cursor TOOLONGNAME;\nend;\n");
    const std::tuple<std::string, const char*, const char*> cases[] = {
        {dir.file("missing"), "", "cannot be read"},
        {dir.path(), "", "no qvxcoll.ctl found"},
        {dir.path(), "oracle", "zebcoll.ctl has errors"},
    };
    for (const auto& [control_dir, dbtype, problem] : cases) {
        ProbeOptions o = options("KNOWN", {}, control_dir);
        o.dbtype = dbtype;
        err.clear();
        qvxtest::captured([&] { EXPECT_EQ(load_cursor_definitions(o, err), kProbeNoInput); });
        EXPECT_NE(err.find(problem), std::string::npos) << err;
    }
}

// ------------------------------------------------------------ printing

TEST_F(Probe, TableOfCraftedRows) {
    load();
    const Bytes rows = known_rows();
    EXPECT_EQ(format_table(layout("KNOWN", 56), rows.data(), 2), kKnownTable);

    // A merged cell shows its bytes escaped, trailing zeros dropped.
    Bytes row(32, 0);
    put<int32_t>(row, 0, 1);
    put_text(row, 4, "ab");
    put<int32_t>(row, 8, 10);
    put_text(row, 12, "cd");
    put<int32_t>(row, 28, -2);
    EXPECT_EQ(format_table(layout("MANY", 32), row.data(), 1),
              "a  first+mid+second     z\n"
              "1  ab\\0{2}\\x0a\\0{3}cd  -2\n");
}

TEST(ProbePrint, EscapesPlainRowsAndHexDump) {
    const std::string raw("ok \\ \0x\0\0\0\x1f\xff~", 13);
    const auto* p = reinterpret_cast<const unsigned char*>(raw.data());
    EXPECT_EQ(escape_bytes(p, raw.size()), "ok \\\\ \\0x\\0{3}\\x1f\\xff~");
    EXPECT_EQ(format_plain(p, 2, 6), "ok \\\\ \\0\n" "x\\0{3}\\x1f\\xff\n");
    EXPECT_EQ(format_hex(p, 1, 13),
              "row 1\n"
              "  0000  6f 6b 20 5c 20 00 78 00 00 00 1f ff 7e           |ok \\ .x.....~|\n");

    EXPECT_EQ(reply_heading("SHUTDOWN", 0, 0), "SHUTDOWN: 0 rows\n");
    EXPECT_EQ(reply_heading("CUR", 1, 9), "CUR: 1 row of 9 bytes\n");

    // Status rows of the wrong size are not decoded.
    std::string err;
    EXPECT_EQ(format_reply("C-STATUS", 1, 6, p, nullptr, false, err), "C-STATUS: 1 row of 6 bytes\nok \\\\ \\0\n");
    EXPECT_NE(err.find("should be 456 bytes, not 6"), std::string::npos) << err;

    // Rows of no bytes print the heading alone, also in the hex dump.
    EXPECT_EQ(format_reply("CUR", 1 << 30, 0, p, nullptr, true, err), "CUR: 1073741824 rows of 0 bytes\n");
}

// ------------------------------------------------------------ status images

// The images themselves, field by field, are the status layout tests'
// business; here they are decoded and printed as the probe shows them.
TEST_F(Probe, CursorImageDecodesAndPrints) {
    auto owned = std::make_unique<curs>();
    curs& c = *owned;
    c.cur_name = "CURX";
    c.last_time = "20261205101112";
    c.next_time = 1097171590;
    c.insert = "INSERT INTO t (a) VALUES (?)";
    c.script = "echo";
    c.held = 'Y';
    c.hold_reasons = {1, 0, 2};
    qvxtest::give_rows(c, 12);
    c.conditional_dummy_last_row = 1;
    c.ranges[kSunday].push_back({0, 3600});
    add_cursor(std::move(owned));
    add_cursor(std::make_unique<curs>());

    const CursorImage img = cursor_image(c);
    EXPECT_FALSE(decode_cursor_image(img.data(), img.size() - 1));
    const auto s = decode_cursor_image(img.data(), img.size());
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->next) << "another cursor follows";
    EXPECT_EQ(std::make_tuple(s->insert, s->script, s->insert_select, s->fetch_exit),
              std::make_tuple(true, true, false, false));

    const std::string text = format_cursor_status(*s);
    EXPECT_EQ(text.rfind("cursor CURX\n", 0), 0u) << text;
    for (const std::string& line : std::vector<std::string>
         {"  held               Y  (decode holds 1,0,2)\n", "  rows               12\n",
          "  last time          2026-12-05 10:11:12\n", "  dummy last row     conditional\n",
          "  operating ranges   sunday\n", "  next time          " + format_relative(c.next_time) + "\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
}

TEST_F(Probe, DistributorImageDecodesAndPrints) {
    distrib d;
    d.type = 2;
    d.distrib_name = "collector", d.password = "secret";
    d.class_sw[0] = 1, d.class_sw[50] = 1;
    d.last_status = "FAIL", d.state = 5;

    const DistribImage img = distrib_image(d);
    EXPECT_FALSE(decode_distrib_image(img.data(), 456));
    const auto s = decode_distrib_image(img.data(), img.size());
    ASSERT_TRUE(s);
    EXPECT_FALSE(s->next) << "not in the list";

    const std::string text = format_distrib_status(*s);
    EXPECT_EQ(text.find("secret"), std::string::npos) << "the password is never shown";
    for (const std::string line : {"distributor collector\n", "  type               sql*net\n",
                                   "  state              5 (enabled)\n", "  last status        FAIL\n",
                                   "  classes            0 50\n", "  password           (set)\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    EXPECT_EQ(format_relative(0), "-");
}

// ------------------------------------------------------------ over the channel

// The forked child plays the collector: it answers `count` requests and
// exits with 0, or with the number of the check that failed.
int fake_collector(comm_anchor* c, int count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (int served = 0; served < count;) {
        if (std::chrono::steady_clock::now() > deadline) return 9;
        std::vector<curs_list>* blocks = get_request(c, nullptr);
        if (!blocks) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        curs_list& b = blocks->front();
        if (b.name == "KNOWN") {
            const std::vector<std::string> got(c->parms.begin(), c->parms.begin() + c->parm_count);
            if (got != std::vector<std::string>{"P1", "-x", "", ""}) return 10;
            b.rows = 2;
            b.len = 56;
            b.data = known_rows();
        } else if (b.name == "ONE") {
            b.rows = 1;
            b.len = 5;
            b.data = Bytes{'a', 'b', 0, 0, 0x7f};
        } else if (b.name != "RETRACE") {
            return 11;
        }
        if (put_request(c) != nullptr) return 12;
        ++served;
    }
    return 0;
}

TEST_F(Probe, ExchangeWithAForkedCollector) {
    dir.write("ctl/qvxcoll.ctl", kCollect);
    comm_anchor* c = init_collector();
    ASSERT_NE(c, nullptr);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) ::_exit(fake_collector(c, 3));

    EXPECT_EQ(probe(options("KNOWN", {"P1", "-x"}, ctl)), 0) << err;
    EXPECT_EQ(out, std::string("KNOWN: 2 rows of 56 bytes\n") + kKnownTable);
    EXPECT_EQ(err, "");

    // Rows that no layout of the definition fits print as text, with a note.
    EXPECT_EQ(probe(options("ONE", {}, ctl)), 0) << err;
    EXPECT_EQ(out, "ONE: 1 row of 5 bytes\nab\\0{2}\\x7f\n");
    EXPECT_NE(err.find("note: no width of txt"), std::string::npos) << err;

    EXPECT_EQ(probe(options("RETRACE", {}, ctl)), 0) << err;
    EXPECT_EQ(out, "RETRACE: 0 rows\n");

    EXPECT_EQ(qvxtest::wait_child(pid, 5), 0) << "collector check that failed";
    term_comm(c);

    // The library's messages went nowhere near a collector output file.
    for (const std::string& f : dir.files()) EXPECT_EQ(f.find(".out"), std::string::npos) << f;
}

TEST_F(Probe, ChannelErrorsBecomeTheExitStatus) {
    // A collector pipe that nobody answers on: the wait runs out.
    const std::string pipe = collector_pipe_name();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    ProbeOptions o = options("CURA");
    o.timeout = 1;
    EXPECT_EQ(probe(o), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "qvxprobe: Data Collector Wait Timeout. Wait Time=1\n");
    ::close(reader);
    ::unlink(pipe.c_str());

    // No collector at all: the opens fail.
    comm_sleep = [](unsigned) {};
    EXPECT_EQ(probe(options("CURA")), 3);
    EXPECT_NE(err.find("Open Pipe error " + std::to_string(ENOENT) + ". Pipe=" + pipe), std::string::npos) << err;

    // A request the collector would drop is not sent.
    EXPECT_EQ(probe(options("CURA", std::vector<std::string>(40, "1234567"))), kProbeUsageError);
    EXPECT_NE(err.find("accepts at most 300"), std::string::npos) << err;
}

// Without a collector the probe says so at once, naming the identity it
// looked for, instead of waiting for an answer that cannot come.
TEST_F(Probe, NoCollectorIsToldAtOnce) {
    const std::string who = "qvxprobe: no collector serves host hst, type qvx, server SRV (";
    auto ask = [&](ProbeChannel channel) {
        ProbeOptions o = options("C-STATUS");
        o.channel = channel;
        o.timeout = 60;  // an exchange would wait this long
        const int rc = probe(o);
        EXPECT_EQ(out, "");
        return rc;
    };
    const std::string id_file = shm_id_file_path("SRV");
    EXPECT_EQ(ask(ProbeChannel::shm), kProbeNoCollector);
    EXPECT_EQ(err, who + "no id file " + id_file + ")\n");
    EXPECT_FALSE(dir.exists(id_file.substr(id_file.rfind('/') + 1))) << "the probe made the channel objects";

    // An id file of processes that are gone.
    dir.write(id_file.substr(id_file.rfind('/') + 1), "-1 " + std::to_string(qvxtest::dead_pid()) + " 1 2 3 4\n");
    EXPECT_EQ(ask(ProbeChannel::shm), kProbeNoCollector);
    EXPECT_EQ(err, who + "the id file " + id_file + " names no running process)\n");

    // A collector pipe nobody reads.
    const std::string pipe = collector_pipe_name();
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(ask(ProbeChannel::pipes), kProbeNoCollector);
    EXPECT_EQ(err, who + "Open Pipe error " + std::to_string(ENXIO) + ". Pipe=" + pipe + ")\n");
    ::unlink(pipe.c_str());
}

TEST_F(Probe, ServerIdFromTheCollectorDistributorNamesThePipe) {
    // As the collector does without a server id setting.
    env_vars.serverid.clear();
    env.unset("COLL_SERVERID");
    dir.write("ctl/qvxproc.ctl", "process collector;\n  type local;\n  server_id SRVPROCS;\n  interval 5;\nend;\n");
    comm_sleep = [](unsigned) {};
    EXPECT_EQ(probe(options("C-STATUS", {}, ctl)), 3);
    EXPECT_NE(err.find("/col_SRVPROCS_qvx_pipe"), std::string::npos) << err;
}
