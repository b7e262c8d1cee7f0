// Runs the built collector in a fresh temporary directory with its own
// control files and environment, and reads the message output it writes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <regex>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/testenv.h"

namespace qvxtest {

// A small valid control-file set.
inline const char* const kGoodProcess =
    "process collector;\n"
    "  type local;\n"
    "  logon_id monitor;\n"
    "  interval 60;\n"
    "process upa;\n"
    "  type local;\n"
    "  interval 5;\n"
    "end;\n";

inline const char* const kGoodDict =
    "name server_name;\n"
    "  type CHAR(33);\n"
    "  initial -rdbms 'none';\n"
    "name max_rows;\n"
    "  type INTEGER;\n"
    "  initial 500;\n"
    "end;\n";

// One scheduled cursor; "go_home 0" ends the collector at its first pass.
inline const char* const kGoodCollect =
    "cursor CPU;\n"
    "  INSERT INTO os.cpu (busy, idle) VALUES (:busy, :idle);\n"
    "  interval 30;\n"
    "  limit 10;\n"
    "  go_home 0;\n"
    "end;\n";

class CollectorRun {
public:
    CollectorRun() {
        env["COLL_HOME"] = dir.path();
        env["COLL_CTL_HOME"] = dir.path() + "/ctl";
        env["COLL_HOSTNAME"] = "testhost";
        env["COLL_SERVERID"] = "SRV";
        env["COLL_VERSION"] = "qvx";
        env["COLL_PREFIX"] = dir.path() + "/tmp";
        std::filesystem::create_directories(dir.path() + "/tmp");
        env["HOME"] = dir.path();
        env["USER"] = "tester";
        env["PWD"] = dir.path();
        // Under the sanitizer build: psqlODBC keeps 336 bytes of a
        // connection that broke under it; that leak is the driver's.
        env["LSAN_OPTIONS"] = "suppressions=" + dir.write("lsan.supp", "leak:psqlodbcw.so\n");
    }

    // Writes a control file of the "qvx" database type ("proc", "dict", ...).
    std::string control(const std::string& base, const std::string& text) {
        return dir.write("qvx" + base + ".ctl", text);
    }
    void good_files() {
        control("proc", kGoodProcess);
        control("dict", kGoodDict);
        control("coll", kGoodCollect);
    }

    RunResult run(const std::vector<std::string>& args = {}, int timeout_s = 60) {
        return run_program(bin_path("qvxcoll"), args, env, dir.path(), timeout_s);
    }

    // Default output file name: host, database type less its first
    // character, server id, "col.out".
    std::string output_name() const { return "testhost_vx_SRV_col.out"; }
    std::string output() const { return dir.read(output_name()); }
    std::vector<std::string> output_lines() const { return split_lines(output()); }

    TempDir dir;
    std::map<std::string, std::string> env;
};

// A request record as an agent writes it into the collector's pipe: the
// total length and the name's length (both 16 bits, the given values when
// not -1), the name, the reply pipe's path and each parameter ended by a
// zero byte, and two closing zero bytes.
inline std::vector<unsigned char> pipe_request(const std::string& name, const std::string& reply,
                                          const std::vector<std::string>& parms, int len = -1,
                                          int name_len = -1) {
    std::vector<unsigned char> b(4);
    b.insert(b.end(), name.begin(), name.end());
    b.insert(b.end(), reply.begin(), reply.end());
    b.push_back(0);
    for (const std::string& p : parms) {
        b.insert(b.end(), p.begin(), p.end());
        b.push_back(0);
    }
    b.push_back(0);
    b.push_back(0);
    const int16_t total = static_cast<int16_t>(len >= 0 ? len : static_cast<int>(b.size()));
    const int16_t nl = static_cast<int16_t>(name_len >= 0 ? name_len : static_cast<int>(name.size()));
    std::memcpy(b.data(), &total, 2);
    std::memcpy(b.data() + 2, &nl, 2);
    return b;
}

// Lines of text that carry the given message id (upper-cased in the file).
inline std::vector<std::string> lines_with(const std::string& text, const std::string& id) {
    std::vector<std::string> found;
    for (const auto& line : split_lines(text))
        if (line.rfind(id, 0) == 0) found.push_back(line);
    return found;
}

inline bool has_line(const std::string& text, const std::string& id, const std::string& part = "") {
    for (const auto& line : lines_with(text, id))
        if (line.find(part) != std::string::npos) return true;
    return false;
}

// Replaces every occurrence of `from` (at least one must be there) by `to`.
inline std::string replaced_all(std::string text, const std::string& from, const std::string& to) {
    EXPECT_NE(text.find(from), std::string::npos) << "no \"" << from << "\" in the control file";
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Replaces the one occurrence of `from` (which must be there) by `to`.
inline std::string replaced(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << "no \"" << from << "\" in the control file";
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// The block of a cursor in a COLLECT.CTL, up to the next block or the end.
inline std::string cursor_block(const std::string& file, const std::string& name) {
    const std::string text = read_file(file);
    const size_t at = text.find("cursor " + name + ";");
    EXPECT_NE(at, std::string::npos) << name;
    if (at == std::string::npos) return {};
    const size_t next = std::min(text.find("\ncursor ", at + 1), text.rfind("end;"));
    return text.substr(at, next - at) + "\n";
}

// A row of the "nupa" listing: column name -> value.
using Row = std::map<std::string, std::string>;

// The rows that the last "Nupa for <cursor>" block of the text lists, each
// as column name -> value (leading blanks of right-aligned numbers
// removed, unless keep_blanks).
inline std::vector<Row> nupa_rows(const std::string& text, const std::string& cursor, bool keep_blanks = false) {
    static const std::regex column(R"(^CPR1895I \(\d{6}\) #=(\d+),n=([^,]+),l=\d+,o=\d+,ll=\d+:(.*)$)");
    std::vector<Row> rows;
    bool inside = false;
    for (const std::string& line : split_lines(text)) {
        if (line.rfind("CIR1650I", 0) == 0) {
            inside = line.size() > cursor.size() &&
                     line.compare(line.size() - cursor.size() - 9, std::string::npos, "Nupa for " + cursor) == 0;
            if (inside) rows.clear();
            continue;
        }
        std::smatch m;
        if (!inside || !std::regex_match(line, m, column)) continue;
        if (m[1] == "1") rows.emplace_back();
        if (rows.empty()) continue;
        std::string value = m[3];
        size_t first = value.find_first_not_of(' ');
        if (first != std::string::npos && !keep_blanks) value.erase(0, first);
        rows.back()[m[2]] = value;
    }
    return rows;
}

inline const Row* find_row(const std::vector<Row>& rows, const std::string& column, const std::string& value) {
    for (const Row& r : rows) {
        auto it = r.find(column);
        if (it != r.end() && it->second == value) return &r;
    }
    return nullptr;
}

} // namespace qvxtest
