// Window search of distributors (and, through search_window, of cursors).
//
// Several ranges for one day kind: one search position (day kind and
// index of the range last tried) is kept from day to day and from one
// search to the next. Each day tried starts with the range after the one
// last tried -- also when that range belongs to another day kind's list --
// or, when there is none, with the first range of the day's own kind.
// When that range has already ended, the following ranges of the same list
// are tried on the same day before the search moves to the next day; so a
// day's ranges are used in list order, and once the last one has ended the
// next day starts again with its own kind's first range. With one range per
// day kind this is simply "today's range, or else the next day's".
//
// A Saturday or Sunday whose own first range starts where it ends has no
// window at all. The search gives up after kWindowSearchDays days (all
// days holidays, or lists without ranges).
#include "runtime/window.h"

#include "runtime/trace.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr long kSecsPerDay = 86400;

bool is_holiday(std::span<const int32_t> holidays, long day) {
    for (int32_t h : holidays) {
        if (h == 0) break;
        if (h == day) return true;
    }
    return false;
}

int kind_of(long day) {
    long k = day % 7;
    if (k < 0) k += 7;
    return static_cast<int>(k > 2 ? 2 : k);
}

bool position_valid(const RangeLists& ranges, const WindowCursor& pos) {
    return pos.kind >= 0 && pos.kind < 3 && pos.index < ranges[pos.kind].size();
}

} // namespace

WindowResult search_window(const RangeLists& ranges, std::span<const int32_t> holidays,
                           WindowCursor pos, long now) {
    long day = now / kSecsPerDay;
    if (now < 0) day = 0;
    for (long tried = 0; tried < kWindowSearchDays; ++tried, ++day) {
        if (is_holiday(holidays, day)) continue;
        int kind = kind_of(day);
        const auto& own = ranges[kind];
        if (own.empty()) continue;
        if (kind != kMonFri && own.front().start == own.front().end) continue;

        // The day's first range: the one after the range last tried, or
        // the first of the day's own kind.
        if (position_valid(ranges, pos) && pos.index + 1 < ranges[pos.kind].size()) {
            ++pos.index;
        } else {
            pos.kind = kind;
            pos.index = 0;
        }
        long base = day * kSecsPerDay;
        for (;;) {
            const OpRange& r = ranges[pos.kind][pos.index];
            if (base + r.end > now) return {true, base + r.start, base + r.end};
            if (pos.index + 1 >= ranges[pos.kind].size()) break;
            ++pos.index;
        }
    }
    return {false, day * kSecsPerDay, day * kSecsPerDay};
}

void set_window_c(curs& cursor, long now) {
    if (cursor.demand || cursor.held == 'Y' || (cursor.once && cursor.rows.size() > 0)) return;
    WindowCursor pos{cursor.range_kind, cursor.range_index};
    const WindowResult w = search_window(range_lists(cursor.ranges), {}, pos, now);
    cursor.window_start = static_cast<uint32_t>(w.start);
    cursor.window_end = static_cast<uint32_t>(w.end);
}

void set_window(distrib& d, long now) {
    WindowResult w = search_window(range_lists(d.ranges), std::span<const int32_t>(d.holidays),
                                   WindowCursor{d.range_kind, d.range_index}, now);
    d.window_start = static_cast<uint32_t>(w.start < 0 ? 0 : w.start);
    d.window_end = static_cast<uint32_t>(w.end < 0 ? 0 : w.end);
    if (!w.found)
        PRINT('w', "cir1630", "No window found for %s within %ld days\n", d.distrib_name.c_str(),
              kWindowSearchDays);
    if (debug_on(8))
        PRINT('t', "cir1631", "Window of %s: start = %u, end = %u, now = %ld\n",
              d.distrib_name.c_str(), d.window_start, d.window_end, now);
}

} // namespace qvx
