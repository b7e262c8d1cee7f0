// COLLECT.CTL keywords that take words: numbers limited by their written
// length, names, and the HHMM words of the operating windows. Each word
// after the keyword is applied on its own, so a second word of a keyword
// that takes one value is reported as a duplicate.
#include <climits>
#include <string>

#include "control/parse_support.h"
#include "control/cursor_parse.h"
#include "runtime/clock.h"
#include "runtime/messages.h"
#include "runtime/run_requests.h"
#include "runtime/window.h"

// Text of the messages for a window word given twice before its pair is
// complete.

namespace qvx::coll {

namespace {

// A keyword whose word is a number of at most max_len characters.
struct NumberRule {
    int code;
    const char* name;      // for the "not a number" message
    size_t max_len;
    const char* len_id;
    const char* len_text;
    const char* dup_id;    // null: a later word replaces the value
    const char* dup_text;
};

constexpr NumberRule kNumbers[] = {
    {kInterval, "interval", 6, "pcc0565", "Invalid interval length (5)\n", "pcc0560",
     "Duplicate interval\n"},
    {kLimit, "limit", 5, "pcc0625", "Invalid Limit length (6)\n", "pcc0620", "Duplicate Limit\n"},
    {kTime, "time", 4, "pcc0685", "Invalid Time Limit length (5)\n", "pcc0680",
     "Duplicate Time Limit\n"},
    {kClass, "class", 4, "pcc0695", "Invalid Class length (5)\n", "pcc0690",
     "Duplicate Class Specified\n"},
    {kStale, "stale", 6, "pcc0645", "Invalid interval length (5)\n", "pcc0640",
     "Duplicate Stale time\n"},
    {kGoHome, "go_home", 4, "pcc0630", "Invalid Go_home length (5)\n", nullptr, nullptr},
    {kObjid, "objid", 6, "pcc0615", "Invalid set length (7)\n", "pcc0610", "Duplicate objid\n"},
    {kSet, "set", 4, "pcc0595", "Invalid Set length (5)\n", "pcc0590", "Duplicate set\n"},
    {kRpcVersion, "rpc_version", 4, "pcc0605", "Invalid Rpc_version length (5)\n", "pcc0600",
     "Duplicate rpc_version\n"},
    {kSamples, "samples", 4, "pcc0635", "Invalid Sample (5)\n", nullptr, nullptr},
    {kStartAfter, "start_after", 3, "pcc0575", "Invalid start_after (4)\n", "pcc0570",
     "Duplicate start_after\n"},
    {kStopAfter, "stop_after", 3, "pcc0585", "Invalid stop_after (4)\n", "pcc0580",
     "Duplicate stop_after\n"},
};

// A keyword whose word is a text of at most 36 characters.
struct UuidRule {
    int code;
    std::string curs::*field;
    const char* len_id;
    const char* len_text;
    const char* dup_id;
    const char* dup_text;
};

const UuidRule kUuids[] = {
    {kUuidbase, &curs::uuidbase, "pcc0655", "Invalid Uuidbase length (36)\n", "pcc0650",
     "Duplicate Uuidbase\n"},
    {kUuidpavc, &curs::uuidpavc, "pcc0665", "Invalid Uuidpavc length (36)\n", "pcc0660",
     "Duplicate Uuidpavc\n"},
    {kUuidpcvc, &curs::uuidpcvc, "pcc0675", "Invalid Uuidpcvc length (36)\n", "pcc0670",
     "Duplicate Uuidpcvc\n"},
};
constexpr size_t kMaxUuid = 36;


const WindowWord kStartWords[3] = {
    {"saturday_start", "pcc0555", "Incorrect length for saturday_start (4)\n", "pcc0550",
     DUP_TEXT("saturday_start")},
    {"sunday_start", "pcc0535", "Incorrect length for sunday_start (4)\n", "pcc0530",
     DUP_TEXT("sunday_start")},
    {"mon_fri_start", "pcc0515", "Incorrect length for mon_fri_start (4)\n", "pcc0510",
     DUP_TEXT("mon_fri_start")},
};
const WindowWord kEndWords[3] = {
    {"saturday_end", "pcc0565", "Incorrect length for saturday_end (4)\n", "pcc0560",
     DUP_TEXT("saturday_end")},
    {"sunday_end", "pcc0545", "Incorrect length for sunday_end (4)\n", "pcc0540",
     DUP_TEXT("sunday_end")},
    {"mon_fri_end", "pcc0525", "Incorrect length for mon_fri_end (4)\n", "pcc0520",
     DUP_TEXT("mon_fri_end")},
};

constexpr size_t kMaxAgeTo = 8;
constexpr long kMaxClass = 50;


int16_t to16(long v) { return static_cast<int16_t>(v > INT16_MAX ? INT16_MAX : v); }
int32_t to32(long v) { return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : v); }

bool number_word(const NumberRule& rule, std::string_view value, curs& c, BlockState& block) {
    if (value.size() > rule.max_len) {
        PRINT('e', rule.len_id, "%s", rule.len_text);
        return false;
    }
    if (!all_digits(value)) {
        PRINT('e', "pcc0511", "Value for %s is not a number: %.*s\n", rule.name,
              static_cast<int>(value.size()), value.data());
        return false;
    }
    if (rule.dup_id && block.seen[static_cast<size_t>(rule.code)]) {
        PRINT('e', rule.dup_id, "%s", rule.dup_text);
        return false;
    }
    const long v = digits_value(value);
    if (rule.code == kClass && v > kMaxClass) {
        PRINT('e', "pcc0700", "Excessive Class value\n");
        return false;
    }
    block.seen.set(static_cast<size_t>(rule.code));
    switch (rule.code) {
    case kInterval: c.interval = to32(v); break;
    case kLimit: c.row_limit = to32(v); break;
    case kTime: c.time_limit = to32(v); break;
    case kClass: c.class_no = to32(v); break;
    case kStale: c.stale = to32(v); break;
    case kGoHome: go_home_time = now_relative() + v; break;
    case kObjid: c.objid = to32(v); break;
    case kSet: c.set = to32(v); break;
    case kRpcVersion: c.rpc_version = to32(v); break;
    case kSamples: c.sample_limit = to16(v); break;
    case kStartAfter: c.start_after = to16(v); break;
    case kStopAfter: c.stop_after = to16(v); break;
    default: break;
    }
    return true;
}

bool window_word(int code, std::string_view value, curs& c, BlockState& block) {
    const bool is_start = code == kSatStart || code == kSunStart || code == kMonStart;
    const int kind = (code - (is_start ? kSatStart : kSatEnd)) / 2;
    const WindowWord& w = is_start ? kStartWords[kind] : kEndWords[kind];
    long* mine = is_start ? block.start : block.end;
    if (value.size() != 4) {
        PRINT('e', w.length_id, "%s", w.length_text);
        return false;
    }
    const long secs = hhmm_seconds(value);
    if (secs < 0) {
        PRINT('e', "pcc0509", "Invalid time of day (HHMM) for %s\n", w.name);
        return false;
    }
    if (mine[kind] >= 0) {
        PRINT('e', w.dup_id, "%s", w.dup_text);
        return false;
    }
    mine[kind] = secs;
    if (block.start[kind] >= 0 && block.end[kind] >= 0) {
        set_operate(c.ranges[static_cast<size_t>(kind)], block.start[kind], block.end[kind]);
        block.start[kind] = block.end[kind] = -1;
    }
    return true;
}

} // namespace

bool word_argument(int code, std::string_view value, curs& c, BlockState& block) {
    for (const NumberRule& rule : kNumbers)
        if (rule.code == code) return number_word(rule, value, c, block);
    for (const UuidRule& rule : kUuids) {
        if (rule.code != code) continue;
        if (value.size() > kMaxUuid) {
            PRINT('e', rule.len_id, "%s", rule.len_text);
            return false;
        }
        if (block.seen[static_cast<size_t>(code)]) {
            PRINT('e', rule.dup_id, "%s", rule.dup_text);
            return false;
        }
        block.seen.set(static_cast<size_t>(code));
        (c.*rule.field).assign(value);
        return true;
    }
    switch (code) {
    case kSatStart: case kSatEnd: case kSunStart: case kSunEnd: case kMonStart: case kMonEnd:
        return window_word(code, value, c, block);
    case kTableName:
        c.table_name.assign(value);
        return true;
    case kAgeTo:
        if (value.size() > kMaxAgeTo) {
            PRINT('e', "pcc0710", "Excessive length on age_to name\n");
            return false;
        }
        if (block.seen[kAgeTo]) {
            PRINT('e', "pcc0705", "Duplicate age_to entry\n");
            return false;
        }
        block.seen.set(kAgeTo);
        c.age_to.assign(value);
        return true;
    default:
        return true;
    }
}

void unpaired_windows(const curs& c, const BlockState& block) {
    for (int k = 0; k < 3; ++k) {
        if (block.start[k] >= 0)
            PRINT('w', "pcc0512", "%s without its end ignored in %s\n", kStartWords[k].name,
                  c.cur_name.c_str());
        if (block.end[k] >= 0)
            PRINT('w', "pcc0512", "%s without its start ignored in %s\n", kEndWords[k].name,
                  c.cur_name.c_str());
    }
}

} // namespace qvx::coll
