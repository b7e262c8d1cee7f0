// PROCESS.CTL: the distributor blocks.
//
// A statement holds a keyword and its argument, or several such pairs one
// after the other ("process collector type local;"). Errors inside a
// statement mark the file as failed and drop the rest of the statement, so
// one run reports as many errors as it can; errors that leave no block to
// work on stop the reading.
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "control/parse_support.h"
#include "control/source_position.h"
#include "control/distributor.h"
#include "control/keyword_case.h"
#include "control/reader.h"
#include "control/tokenizer.h"
#include "runtime/clock.h"
#include "runtime/messages.h"
#include "runtime/window.h"
#include "runtime/trace.h"

// Reports an error inside a statement: the file is marked as failed and
// the rest of the statement is dropped.
#define PPC_FAIL(id, ...) (PRINT('e', id, __VA_ARGS__), mark_failed())

namespace qvx {

namespace {

constexpr size_t kMaxName = 24;
constexpr size_t kMaxLogon = 33;
constexpr size_t kMaxPassword = 100;
constexpr size_t kMaxServer = 33;
constexpr size_t kMaxMachineId = 64;
constexpr int kMaxClass = 50;

enum Code {
    kProcess = 1, kType = 2, kLogon = 3, kPassword = 4, kSatStart = 6, kSatEnd = 7,
    kSunStart = 8, kSunEnd = 9, kMonStart = 10, kMonEnd = 11, kInterval = 12,
    kHoliday = 13, kServer = 14, kTimeOffset = 16, kSleep = 21, kHold = 22,
    kContinuous = 23, kClass = 24, kSendFalse = 25, kMachineId = 26, kEnd = 27,
};


const WindowWord kStartWords[3] = {
    {"saturday_start", "ppc1065", "Incorrect length for saturday_start (4)\n", "ppc1060",
     DUP_TEXT("saturday_start")},
    {"sunday_start", "ppc1045", "Incorrect length for sunday_start (4)\n", "ppc1040",
     DUP_TEXT("sunday_start")},
    {"mon_fri_start", "ppc1025", "Incorrect length for mon_fri_start (4)\n", "ppc1020",
     DUP_TEXT("mon_fri_start")},
};
const WindowWord kEndWords[3] = {
    {"saturday_end", "ppc1075", "Incorrect length for saturday_end (4)\n", "ppc1070",
     DUP_TEXT("saturday_end")},
    {"sunday_end", "ppc1055", "Incorrect length for sunday_end (4)\n", "ppc1050",
     DUP_TEXT("sunday_end")},
    {"mon_fri_end", "ppc1035", "Incorrect length for mon_fri_end (4)\n", "ppc1030",
     DUP_TEXT("mon_fri_end")},
};


class ProcessParser {
public:
    int run();

private:
    using Flow = StatementFlow;  // quit: return 1 at once

    Flow statement(StatementScan& scan);
    Flow keyword(int code, const std::string& word);
    Flow close_block();
    Flow open_block();

    // Next word of the statement, or 0 when none, -1 on a syntax error.
    // Words written without blanks between them are taken as one
    // ("sql*net", "2024/12/25", "db-host"), since values may hold
    // characters that the scanner treats as operators.
    int next_word(std::string& out);
    // The argument of a keyword; reports a missing one.
    bool argument(const std::string& key, std::string& out);
    void mark_failed() { failed_ = stmt_failed_ = true; }

    void window_word(int code, const std::string& value);
    void holiday(const std::string& value);
    bool yes_no(const std::string& value, char& flag);

    std::unique_ptr<distrib> cur_;
    int block_line_ = 0;  // line of the open block's "process" statement
    // Pending window starts and ends by day kind, -1 when none.
    long start_[3] = {-1, -1, -1};
    long end_[3] = {-1, -1, -1};
    bool failed_ = false;       // the file has errors
    bool stmt_failed_ = false;  // the current statement has an error
    bool end_seen_ = false;
    bool first_ = true;
    long today_ = 0;

    StatementScan* scan_ = nullptr;  // the current statement
};

int ProcessParser::next_word(std::string& out) {
    out.clear();
    const std::string& b = scan_->text();
    Tokenizer& tok = scan_->tok;
    int& pos = scan_->pos;
    const int end = scan_->end();
    int start = pos;
    while (start < end && b[static_cast<size_t>(start)] == ' ') ++start;
    bool any = false;
    for (;;) {
        int n = tok.get_word(pos, end);
        if (n < 0) return -1;
        if (n == 0 || tok.next_pos() <= pos) break;
        any = true;
        pos = tok.next_pos();
        if (pos >= end || b[static_cast<size_t>(pos)] == ' ') break;
    }
    if (!any) return 0;
    out = b.substr(static_cast<size_t>(start), static_cast<size_t>(pos - start));
    return static_cast<int>(out.size());
}

bool ProcessParser::argument(const std::string& key, std::string& out) {
    int n = next_word(out);
    if (n < 0) return false;  // reported by the caller
    if (n == 0) {
        PPC_FAIL("ppc1240", "Missing value for %s\n", key.c_str());
        return false;
    }
    return true;
}

bool ProcessParser::yes_no(const std::string& value, char& flag) {
    if (value.empty() || (value[0] != 'Y' && value[0] != 'N')) return false;
    flag = value[0];
    return true;
}

void ProcessParser::window_word(int code, const std::string& value) {
    const bool is_start = code == kSatStart || code == kSunStart || code == kMonStart;
    const int kind = is_start ? (code - kSatStart) / 2 : (code - kSatEnd) / 2;
    const WindowWord& w = is_start ? kStartWords[kind] : kEndWords[kind];
    long* mine = is_start ? start_ : end_;
    if (value.size() != 4) {
        PPC_FAIL(w.length_id, "%s", w.length_text);
        return;
    }
    long secs = hhmm_seconds(value);
    if (secs < 0) {
        PPC_FAIL("ppc1255", "Invalid time of day (HHMM) for %s\n", w.name);
        return;
    }
    if (mine[kind] >= 0) {
        PPC_FAIL(w.dup_id, "%s", w.dup_text);
        return;
    }
    mine[kind] = secs;
    if (start_[kind] >= 0 && end_[kind] >= 0) {
        // The range moves against the distributor's time offset.
        OpRange r;
        r.start = static_cast<int32_t>(start_[kind] - cur_->time_offset);
        r.end = static_cast<int32_t>(end_[kind] - cur_->time_offset);
        if (r.end < r.start) r.end += 86400;
        cur_->ranges[kind].push_back(r);
        start_[kind] = end_[kind] = -1;
    }
}

void ProcessParser::holiday(const std::string& value) {
    if (value.size() < 8 || value[4] != '/' || value[7] != '/') {
        PPC_FAIL("ppc0970", "Invalid holiday date format (YYYY/MM/DD) \n");
        return;
    }
    if (value.size() != 10) {
        PPC_FAIL("ppc0975", "Invalid holiday date length (10)\n");
        return;
    }
    std::string_view v(value);
    if (!all_digits(v.substr(0, 4)) || !all_digits(v.substr(5, 2)) || !all_digits(v.substr(8, 2))) {
        PPC_FAIL("ppc1250", "Invalid holiday date: %s\n", value.c_str());
        return;
    }
    long y = digits_value(v.substr(0, 4));
    long m = digits_value(v.substr(5, 2));
    long d = digits_value(v.substr(8, 2));
    if (m < 1 || m > 12 || d < 1 || d > 31) {
        PPC_FAIL("ppc1250", "Invalid holiday date: %s\n", value.c_str());
        return;
    }
    long day = relative_date(static_cast<int>(y), static_cast<int>(m), static_cast<int>(d));
    if (day < today_) {
        PRINT('w', "ppc0980", "Comment: Holiday is in the past\n");
        return;
    }
    for (int32_t& slot : cur_->holidays) {
        if (slot == 0) {
            slot = static_cast<int32_t>(day);
            return;
        }
    }
    PPC_FAIL("ppc0985", "Exceeded 50 holidays\n");
}

ProcessParser::Flow ProcessParser::keyword(int code, const std::string& word) {
    if (code == kProcess) return open_block();
    if (code == kEnd) {
        end_seen_ = true;
        close_block();
        return Flow::stop;
    }
    if (!cur_) return Flow::stop;  // no block to work on
    std::string v;
    if (!argument(word, v)) return Flow::next;
    distrib& d = *cur_;

    switch (code) {
    case kType: {
        int type = 0;
        if (keyword_matches(v, "local")) type = 1;
        else if (keyword_matches(v, "sql*net")) type = 2;
        else if (keyword_matches(v, "dial")) type = 3;
        else if (keyword_matches(v, "ctlib")) type = 4;
        if (d.type != 0) {
            PPC_FAIL("ppc0995", DUP_TEXT("type"));
        } else if (type == 0) {
            PRINT('e', "ppc1000", "Unrecognized type:%*s\n", static_cast<int>(v.size()), v.c_str());
            mark_failed();
        } else {
            d.type = static_cast<int16_t>(type);
        }
        break;
    }
    case kLogon:
        if (!d.logonid.empty()) PPC_FAIL("ppc1115", DUP_TEXT("logon_id"));
        else if (v.size() > kMaxLogon) PPC_FAIL("ppc1120", "Excessive length for logon_id\n");
        else d.logonid = v;
        break;
    case kPassword:
        if (!d.password.empty()) PPC_FAIL("ppc1105", DUP_TEXT("password"));
        else if (v.size() > kMaxPassword) PPC_FAIL("ppc1110", "Excessive length for password\n");
        else d.password = v;
        break;
    case kServer:
        if (!d.serverid.empty()) {
            PPC_FAIL("ppc1095", DUP_TEXT("server_id"));
        } else if (v.size() > kMaxServer) {
            PPC_FAIL("ppc1100", "Excessive length for server_id\n");
        } else {
            d.serverid = v;
            if (d.serverid.size() < 8) d.serverid.resize(8, ' ');
        }
        break;
    case kSatStart: case kSatEnd: case kSunStart: case kSunEnd: case kMonStart: case kMonEnd:
        window_word(code, v);
        break;
    case kInterval:
        if (v.size() > 4) PPC_FAIL("ppc1085", "Invalid interval length (5)\n");
        else if (!all_digits(v)) PPC_FAIL("ppc1245", "Value for interval is not a number: %s\n", v.c_str());
        else if (d.interval != 0) PPC_FAIL("ppc1080", "Duplicate interval\n");
        else d.interval = static_cast<int32_t>(digits_value(v));
        break;
    case kHoliday:
        holiday(v);
        break;
    case kTimeOffset: {
        std::string_view n(v);
        int sign = 1;
        if (!n.empty() && (n[0] == '+' || n[0] == '-')) {
            sign = n[0] == '-' ? -1 : 1;
            n.remove_prefix(1);
        }
        long secs = hhmm_seconds(n);
        if (d.time_offset_given) {
            PPC_FAIL("ppc0990", "Duplicate time_offset\n");
        } else if (secs < 0) {
            PPC_FAIL("ppc1260", "Invalid time_offset (+/-HHMM): %s\n", v.c_str());
        } else {
            d.time_offset = static_cast<int32_t>(sign * secs);
            d.time_offset_given = true;
        }
        break;
    }
    case kSleep:
        if (v.size() > 4) PPC_FAIL("ppc1090", "Invalid sleep length (5)\n");
        else if (!all_digits(v)) PPC_FAIL("ppc1245", "Value for sleep is not a number: %s\n", v.c_str());
        else sleep_time = static_cast<int>(digits_value(v));
        break;
    case kHold:
        if (!yes_no(v, d.hold)) PPC_FAIL("ppc1155", "Hold is not YES/NO\n");
        break;
    case kContinuous:
        if (d.distrib_name != "collector")
            PPC_FAIL("ppc1160", "Continuous is valid only at the collector\n");
        else if (!yes_no(v, d.continuous))
            PPC_FAIL("ppc1165", "Continuous is not YES/NO\n");
        break;
    case kClass: {
        std::string_view n(v);
        bool neg = !n.empty() && n[0] == '-';
        if (neg || (!n.empty() && n[0] == '+')) n.remove_prefix(1);
        if (!all_digits(n)) {
            PPC_FAIL("ppc1245", "Value for class is not a number: %s\n", v.c_str());
        } else if (neg || n.size() > 2 || digits_value(n) > kMaxClass) {
            PPC_FAIL("ppc1010", "Class exceeds range\n");
        } else {
            auto& sw = d.class_sw[static_cast<size_t>(digits_value(n))];
            if (sw) PRINT('w', "ppc1015", "Warning - Class repeditively specified\n");
            sw = 1;
        }
        break;
    }
    case kSendFalse: {
        char flag = 0;
        if (d.distrib_name != "evaluator")
            PPC_FAIL("ppc1170", "Send_false is valid only for the evaluator\n");
        else if (!yes_no(v, flag))
            PPC_FAIL("ppc1175", "Send_false is not YES/NO\n");
        else
            d.send_false = flag == 'Y' ? 1 : 0;
        break;
    }
    case kMachineId:
        if (v.size() > kMaxMachineId) {
            PPC_FAIL("ppc1125", "Excessive length for Machine_id\n");
        } else {
            machine_id.host.fill(' ');
            std::memcpy(machine_id.host.data(), v.data(), v.size());
        }
        break;
    default:
        break;
    }
    return Flow::next;
}

ProcessParser::Flow ProcessParser::close_block() {
    if (!cur_) return Flow::next;
    const SourceLineScope at(block_line_);  // the block's checks belong to its first line
    distrib& d = *cur_;
    bool bad = false;
    if (d.distrib_name.empty()) {
        PRINT('e', "ppc0895", "No Process name\n");
        bad = true;
    }
    if (d.distrib_name == "collector") {
        if (d.type == 0) {
            PRINT('e', "ppc0900", "No Process type specified\n");
            bad = true;
        }
        if (d.logonid.empty()) PRINT('h', "ppc0905", "No Process logon id specified\n");
        if (d.password.empty()) PRINT('h', "ppc0910", "No Process password specified\n");
    }
    if (d.distrib_name == "evaluator") evaluator_defined = true;
    if (d.interval == 0) {
        PRINT('e', "ppc0915", "No Process interval specified\n");
        bad = true;
    }
    if (bad) {
        failed_ = true;
        return Flow::stop;
    }
    if (d.type == 2 && d.serverid.empty()) {
        PRINT('e', "ppc0920", "Server_id required for sql*net\n");
        failed_ = true;
        return Flow::stop;
    }
    // A window start or end left without its partner gives no range.
    for (int k = 0; k < 3; ++k) {
        if (start_[k] >= 0)
            PRINT('w', "ppc1265", "%s without its end ignored in %s\n", kStartWords[k].name,
                  d.distrib_name.c_str());
        if (end_[k] >= 0)
            PRINT('w', "ppc1265", "%s without its start ignored in %s\n", kEndWords[k].name,
                  d.distrib_name.c_str());
        start_[k] = end_[k] = -1;
    }
    distrib_anchor.push_back(std::move(cur_));
    return Flow::next;
}

ProcessParser::Flow ProcessParser::open_block() {
    if (close_block() != Flow::next) return Flow::stop;
    cur_ = std::make_unique<distrib>();
    block_line_ = source_position().line;
    cur_->class_sw[0] = 1;
    cur_->state = 1;
    std::string name;
    int n = next_word(name);
    if (n < 0) return Flow::next;  // the statement reports the syntax error
    if (n == 0) {
        PRINT('e', "ppc0940", "No Process name supplied\n");
        failed_ = true;
        return Flow::stop;
    }
    if (name.size() > kMaxName) {
        PRINT('e', "ppc0945", "Process name exceeeds 24 characters\n");
        failed_ = true;
        return Flow::stop;
    }
    if (find_distributor(name)) {
        PRINT('e', "ppc0950", "Duplicate process name: %s\n", name.c_str());
        return Flow::quit;
    }
    cur_->distrib_name = name;
    return Flow::next;
}

ProcessParser::Flow ProcessParser::statement(StatementScan& scan) {
    scan_ = &scan;
    const Tokenizer& tok = scan.tok;
    stmt_failed_ = false;

    std::string word;
    for (;;) {
        int n = next_word(word);
        if (n == 0) break;
        if (n < 0 || tok.failed) {
            PRINT('e', "ppc0955", "Parsing failed : %s\n", tok.message.c_str());
            failed_ = true;
            return Flow::stop;
        }
        int code = distrib_key_word(word);
        if (first_) {
            first_ = false;
            if (code != kProcess) {
                PRINT('e', "ppc0890", "First word must be 'process'\n");
                failed_ = true;
                return Flow::stop;
            }
        }
        if (code == 0) {
            PRINT('e', "ppc0780", "Unknown keyword (%s)\n", word.c_str());
            failed_ = true;
            return Flow::stop;
        }
        Flow f = keyword(code, word);
        if (tok.failed) {
            PRINT('e', "ppc0955", "Parsing failed : %s\n", tok.message.c_str());
            failed_ = true;
            return Flow::stop;
        }
        if (f != Flow::next) return f;
        if (stmt_failed_) return Flow::next;  // the rest of the statement is dropped
    }
    if (tok.parens != 0) {
        PRINT('e', "ppc1180", "Parentheses do not balance\n");
        failed_ = true;
        return Flow::stop;
    }
    return Flow::next;
}

int ProcessParser::run() {
    // When no output file could be opened at start-up, try once more. A
    // late success simply sends this parse and everything after it to the
    // file; a failure leaves the output on the standard streams.
    if (!print_file_open()) u_openPRINTfile(nullptr);

    today_ = today_relative_date();
    del_distributor();

    dashes("ppc0740", 55);
    PRINT('i', "ppc0745", "-- Starting parse of PROCESS.CTL -- Time = %s\n", form_time().c_str());
    dashes("ppc0750", 56);

    const ReadEnd how = read_control_file("proc", {'i', "ppc0770"}, failed_,
                                          [this](StatementScan& scan) { return statement(scan); });
    if (how == ReadEnd::quit) return 1;
    const bool stopped = how == ReadEnd::stopped;
    if (!stopped && !end_seen_) {
        PRINT('e', "ppc1185", "Missing end statement\n");
        failed_ = true;
    }

    dashes("ppc1190", 41);
    PRINT('i', "ppc1205", "--  Process Parsing ended at %s\n", form_time().c_str());
    dashes("ppc1200", 41);

    if (failed_) {
        PRINT('e', "ppc1210", "Parsing ended with errors\n\n");
        return 1;
    }
    for (auto& d : distrib_anchor)
        for (auto& list : d->ranges)
            if (list.empty()) list.push_back(OpRange{0, 86400});
    collector_at = find_distributor("collector");
    if (!collector_at) {
        PRINT('e', "ppc1230", "Must have a process named 'collector'\n");
        return 1;
    }
    if (collector_at->time_offset != 0)
        PRINT('w', "ppc1210", "Caution! - collector has a time offset\n");
    long now = now_relative();
    for (auto& d : distrib_anchor) set_window(*d, now);
    return 0;
}

} // namespace

int parse_distributor() {
    ProcessParser parser;
    return parser.run();
}

} // namespace qvx
