// The status record images read back field by field. The offsets are the
// ones status_images.cpp writes; the table there is the reference.
#include "channel/status_decode.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "channel/status_images.h"
#include "control/distributor.h"
#include "runtime/clock.h"

namespace qvx {

namespace {

class ImageReader {
public:
    explicit ImageReader(const unsigned char* p) : p_(p) {}

    template <typename T>
    T get(size_t offset) const {
        static_assert(std::is_trivially_copyable_v<T>);
        T v;
        std::memcpy(&v, p_ + offset, sizeof(T));
        return v;
    }
    int16_t i16(size_t offset) const { return get<int16_t>(offset); }
    uint16_t u16(size_t offset) const { return get<uint16_t>(offset); }
    int32_t i32(size_t offset) const { return get<int32_t>(offset); }
    uint32_t u32(size_t offset) const { return get<uint32_t>(offset); }
    char chr(size_t offset) const { return get<char>(offset); }
    bool pointer(size_t offset) const { return u32(offset) != 0; }

    // Up to the first zero byte or the end of the field.
    std::string text(size_t offset, size_t width) const {
        const char* s = reinterpret_cast<const char*>(p_ + offset);
        return std::string(s, strnlen(s, width));
    }

private:
    const unsigned char* p_;
};

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
    if (!row || len != kCursorImageSize) return std::nullopt;
    const ImageReader r(row);
    CursorStatus s;
    s.next = r.pointer(0);
    s.name = r.text(4, 9);
    s.last_time = r.text(13, 15);
    s.window_start = r.u32(28);
    s.window_end = r.u32(32);
    s.next_time = r.u32(36);
    s.stale_until = r.u32(40);
    s.stale = r.i32(44);
    s.virtual_cur = r.i16(48);
    s.empty = r.i16(50);
    s.demand = r.i16(52);
    s.once = r.i16(54);
    s.no_sql = r.i16(56);
    s.interval = r.i32(60);
    s.select = r.pointer(84);
    s.table = r.pointer(88);
    s.host_table = r.pointer(92);
    s.bracket = r.i16(96);
    s.insert_select = r.pointer(100);
    s.insert = r.pointer(104);
    s.hv_count = r.i16(112);
    s.where = r.pointer(116);
    s.columns = r.pointer(120);
    s.insert_col_count = r.i16(124);
    s.insert_columns = r.pointer(128);
    s.held = r.chr(132);
    s.hold_reasons = {r.i16(134), r.i16(136), r.i16(138)};
    s.bypass = r.i16(140);
    s.has_col_funct = r.i16(142);
    s.has_minmax = r.i16(144);
    s.row_size = r.i32(164);
    s.row_limit = r.i32(168);
    s.row_no = r.i32(176);
    s.row_count = r.i32(180);
    s.time_limit = r.i32(188);
    s.length = r.i32(192);
    s.rows_changed = r.i16(200);
    s.history = r.i16(202);
    s.history_pending = r.i16(204);
    s.class_no = r.i32(208);
    s.sample_limit = r.i16(212);
    s.sample_no = r.i32(216);
    s.uuidpavc = r.pointer(224);
    s.uuidpcvc = r.pointer(228);
    s.rpc_version = r.i32(232);
    s.objid = r.i32(236);
    s.set = r.i32(240);
    s.show_cursor = r.i16(244);
    s.show_row = r.i16(246);
    s.bound = r.i16(248);
    s.loads = r.pointer(256);
    s.age_to = r.text(288, 9);
    s.fetch_exit = r.pointer(320);
    s.start_after = r.i16(326);
    s.stop_after = r.i16(328);
    s.script = r.pointer(332);
    s.dummy_last_row = r.i16(368);
    s.conditional_dummy_last_row = r.i16(370);
    s.trace = r.i16(382);
    s.traced = r.i16(384);
    s.tracem = r.i16(386);
    s.ranges = {r.pointer(444), r.pointer(448), r.pointer(452)};
    return s;
}

std::optional<DistribStatus> decode_distrib_image(const unsigned char* row, size_t len) {
    if (!row || len != kDistribImageSize) return std::nullopt;
    const ImageReader r(row);
    DistribStatus s;
    s.next = r.pointer(0);
    s.type = r.i16(4);
    s.name = r.text(6, 25);
    s.logonid = r.text(31, 33);
    s.password = r.chr(64) != 0;
    s.serverid = r.text(164, 34);
    s.ranges = {r.pointer(208), r.pointer(212), r.pointer(216)};
    s.time_offset = r.i32(220);
    for (size_t i = 0; i < 100; ++i) {
        const int32_t day = r.i32(224 + 4 * i);
        if (day == 0) break;
        s.holidays.push_back(day);
    }
    s.interval = r.i32(624);
    s.hold = r.chr(628);
    s.continuous = r.chr(629);
    for (int i = 0; i <= 50; ++i)
        if (r.i16(630 + 2 * static_cast<size_t>(i))) s.classes.push_back(i);
    s.window_start = r.u32(732);
    s.window_end = r.u32(736);
    s.next_time = r.u32(740);
    s.last_status = r.text(744, 5);
    s.last_time = r.text(749, 15);
    s.state = r.u16(764);
    s.send_false = r.i16(766);
    return s;
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
