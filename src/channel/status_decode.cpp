// The status record images read back by walking the field tables of
// status_layout, the ones the writer walks.
#include "channel/status_decode.h"

#include <cstdio>
#include <span>

#include "channel/status_layout.h"
#include "control/distributor.h"
#include "runtime/clock.h"

namespace qvx {

namespace {

// Every field of the table, element by element, from the image into a
// row; nothing when the image is not exactly its size.
template <typename Status, typename Field>
std::optional<Status> read_image(std::span<const Field> layout, size_t size, const unsigned char* row,
                                 size_t len) {
    if (!row || len != size) return std::nullopt;
    Status s;
    for (const Field& f : layout) {
        for (size_t i = 0; i < f.count; ++i)
            f.set(s, get_element(row + f.offset + i * f.width, f.kind, f.width), i);
    }
    return s;
}

std::string yes_no(int v) { return v ? "yes" : "no"; }

// A flag character as written, "-" when unset.
std::string flag_char(char c) {
    if (c == 0) return "-";
    if (c >= 0x20 && c < 0x7f) return std::string(1, c);
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned char>(c));
    return buf;
}

// Lines "  label  value" with the labels padded to one column.
class Block {
public:
    explicit Block(std::string head) : out_(std::move(head) + "\n") {}
    void line(const char* label, const std::string& value) {
        char pad[32];
        std::snprintf(pad, sizeof pad, "  %-18s ", label);
        out_ += pad + value + "\n";
    }
    void line(const char* label, long value) { line(label, std::to_string(value)); }
    std::string done() { return std::move(out_); }

private:
    std::string out_;
};

// Names of the set flags, "-" when none is.
std::string flag_list(std::initializer_list<std::pair<const char*, bool>> flags) {
    std::string out;
    for (const auto& [name, on] : flags) {
        if (!on) continue;
        if (!out.empty()) out += ' ';
        out += name;
    }
    return out.empty() ? "-" : out;
}

std::string day_ranges(const std::array<bool, 3>& r) {
    return flag_list({{"saturday", r[kSaturday]}, {"sunday", r[kSunday]}, {"mon-fri", r[kMonFri]}});
}

} // namespace

std::string format_time14(const std::string& t) {
    if (t.empty()) return "-";
    if (t.size() != 14 || t.find_first_not_of("0123456789") != std::string::npos) return t;
    return t.substr(0, 4) + "-" + t.substr(4, 2) + "-" + t.substr(6, 2) + " " + t.substr(8, 2) + ":" +
           t.substr(10, 2) + ":" + t.substr(12, 2);
}

std::string format_relative(uint32_t secs) {
    if (secs == 0) return "-";
    return format_time14(secs_to_date(static_cast<long>(secs))) + " [" + std::to_string(secs) + "]";
}

std::optional<CursorStatus> decode_cursor_image(const unsigned char* row, size_t len) {
    return read_image<CursorStatus>(cursor_layout(), kCursorImageSize, row, len);
}

std::optional<DistribStatus> decode_distrib_image(const unsigned char* row, size_t len) {
    return read_image<DistribStatus>(distrib_layout(), kDistribImageSize, row, len);
}

std::string format_cursor_status(const CursorStatus& s) {
    Block b("cursor " + (s.name.empty() ? std::string("(no name)") : s.name));
    b.line("kind", flag_list({{"demand", s.demand != 0}, {"virtual", s.virtual_cur != 0},
                              {"once", s.once != 0}, {"empty", s.empty != 0}, {"no_sql", s.no_sql != 0},
                              {"history", s.history != 0}, {"scheduled", !s.demand && !s.virtual_cur}}));
    b.line("held", flag_char(s.held) + (s.hold_reasons[0] || s.hold_reasons[1] || s.hold_reasons[2]
                                             ? "  (decode holds " + std::to_string(s.hold_reasons[0]) + "," +
                                                   std::to_string(s.hold_reasons[1]) + "," +
                                                   std::to_string(s.hold_reasons[2]) + ")"
                                             : ""));
    b.line("window start", format_relative(s.window_start));
    b.line("window end", format_relative(s.window_end));
    b.line("next time", format_relative(s.next_time));
    b.line("last time", format_time14(s.last_time));
    b.line("interval", s.interval);
    b.line("stale", s.stale);
    b.line("stale until", format_relative(s.stale_until));
    b.line("rows", s.row_count);
    b.line("row number", s.row_no);
    b.line("sample", s.sample_no);
    b.line("samples kept", s.sample_limit);
    b.line("rows changed", yes_no(s.rows_changed));
    b.line("row limit", s.row_limit);
    b.line("time limit", s.time_limit);
    b.line("row text length", s.length);
    b.line("send row size", s.row_size);
    b.line("host variables", s.hv_count);
    b.line("insert columns", s.insert_col_count);
    b.line("class", s.class_no);
    b.line("history pending", yes_no(s.history_pending));
    b.line("age_to", s.age_to.empty() ? "-" : s.age_to);
    b.line("start/stop after", std::to_string(s.start_after) + " / " + std::to_string(s.stop_after));
    b.line("objid/set/rpc", std::to_string(s.objid) + " / " + std::to_string(s.set) + " / " +
                                std::to_string(s.rpc_version));
    b.line("has", flag_list({{"select", s.select}, {"table", s.table}, {"host_table", s.host_table},
                             {"insert", s.insert}, {"insert_select", s.insert_select}, {"where", s.where},
                             {"columns", s.columns}, {"loads", s.loads}, {"fetch_exit", s.fetch_exit},
                             {"script", s.script}, {"column_functions", s.has_col_funct != 0},
                             {"min_max", s.has_minmax != 0}, {"uuidpavc", s.uuidpavc},
                             {"uuidpcvc", s.uuidpcvc}, {"brackets", s.bracket != 0}}));
    b.line("dummy last row", s.dummy_last_row ? "yes" : s.conditional_dummy_last_row ? "conditional" : "no");
    b.line("operating ranges", day_ranges(s.ranges));
    b.line("switches", flag_list({{"trace", s.trace != 0}, {"traced", s.traced != 0},
                                  {"tracem", s.tracem != 0}, {"show_cursor", s.show_cursor != 0},
                                  {"show_row", s.show_row != 0}, {"bound", s.bound != 0}}));
    return b.done();
}

std::string format_distrib_status(const DistribStatus& s) {
    Block b("distributor " + (s.name.empty() ? std::string("(no name)") : s.name));
    static const char* const kTypes[] = {"-", "local", "sql*net", "dial", "ctlib"};
    const std::string type = s.type >= 1 && s.type <= 4 ? kTypes[s.type] : std::to_string(s.type);
    b.line("type", type);
    std::string state = std::to_string(s.state);
    if (s.state & 1) state += " (enabled)";
    else state += " (disabled)";
    b.line("state", state);
    b.line("hold", flag_char(s.hold));
    b.line("continuous", flag_char(s.continuous));
    b.line("window start", format_relative(s.window_start));
    b.line("window end", format_relative(s.window_end));
    b.line("next time", format_relative(s.next_time));
    b.line("last status", s.last_status.empty() ? "-" : s.last_status);
    b.line("last time", format_time14(s.last_time));
    b.line("interval", s.interval);
    b.line("time offset", s.time_offset);
    b.line("logon id", s.logonid.empty() ? "-" : s.logonid);
    b.line("password", s.password ? "(set)" : "-");
    b.line("server id", s.serverid.empty() ? "-" : "'" + s.serverid + "'");
    b.line("operating ranges", day_ranges(s.ranges));
    std::string classes;
    for (int c : s.classes) classes += (classes.empty() ? "" : " ") + std::to_string(c);
    b.line("classes", classes.empty() ? "-" : classes);
    std::string days;
    for (int32_t d : s.holidays)
        days += (days.empty() ? "" : " ") + format_time14(secs_to_date(86400L * d)).substr(0, 10);
    b.line("holidays", days.empty() ? "-" : days);
    b.line("send false", yes_no(s.send_false));
    return b.done();
}

} // namespace qvx
