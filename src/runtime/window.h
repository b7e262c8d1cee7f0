// Daily windows of distributors and cursors.
//
// A window is found by walking the days from today: holidays are skipped,
// each day kind (Saturday, Sunday, Monday to Friday) has its own list of
// operating ranges, and the first range whose end lies after now gives the
// window. The same search serves distributors (with holidays) and cursors
// (without).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "model/cursor.h"
#include "model/distributor.h"

namespace qvx {

// Upper bound of days tried by one search; past it there is no window.
constexpr long kWindowSearchDays = 400;

// The operating ranges by day kind (index DayKind).
using RangeLists = std::array<std::span<const OpRange>, 3>;

// The search position kept from one search to the next: the day kind
// whose list holds the range last tried (-1: none yet) and its index.
struct WindowCursor {
    int& kind;
    size_t& index;
};

struct WindowResult {
    bool found = false;
    long start = 0;  // relative seconds
    long end = 0;
};

// Searches the current or next window from now (relative seconds).
// holidays: day numbers, ended by the first 0 (empty for cursors). When
// no window turns up within kWindowSearchDays days, found is false and
// start and end both hold the first second after the days searched.
WindowResult search_window(const RangeLists& ranges, std::span<const int32_t> holidays,
                           WindowCursor pos, long now);

inline RangeLists range_lists(const std::array<std::vector<OpRange>, 3>& r) {
    return {std::span<const OpRange>(r[0]), std::span<const OpRange>(r[1]),
            std::span<const OpRange>(r[2])};
}

// The distributor's current or next window from now (relative seconds):
// window_start and window_end.
void set_window(distrib& d, long now);

// The cursor's current or next window (skipped for demand, held and
// once-with-rows cursors).
void set_window_c(curs& cursor, long now);

} // namespace qvx
