// Distributor records: the named schedule blocks of PROCESS.CTL. The one
// named "collector" drives cursor collection and carries the logon data.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qvx {

// A daily operating range in seconds after midnight; an end before its
// start has 86400 added.
struct OpRange {
    int32_t start = 0;
    int32_t end = 0;
};

enum DayKind { kSaturday = 0, kSunday = 1, kMonFri = 2 };

struct distrib {
    int16_t type = 0;               // 1 local, 2 sql*net, 3 dial, 4 ctlib
    std::string distrib_name;       // up to 24 characters
    std::string logonid;            // up to 33
    std::string password;           // up to 100
    std::string serverid;           // up to 33, blank-filled to 8 when shorter
    std::array<std::vector<OpRange>, 3> ranges;  // by DayKind
    int32_t time_offset = 0;        // signed seconds
    bool time_offset_given = false;
    std::array<int32_t, 100> holidays{};  // day numbers, ended by the first 0
    int32_t interval = 0;           // seconds
    char hold = 0;                  // 'Y' or 'N'
    char continuous = 0;            // 'Y' or 'N' (collector only)
    std::array<int16_t, 51> class_sw{};  // classes 0..50
    uint32_t window_start = 0;      // relative seconds
    uint32_t window_end = 0;
    uint32_t next_time = 0;
    std::string last_status;        // "GOOD" or "FAIL"
    std::string last_time;          // 14-digit local time
    uint16_t state = 1;             // bit 1 enabled; bits 2 and 4 see the loop
    int16_t send_false = 0;         // evaluator only
    // Window search position, kept from day to day (see set_window).
    int range_kind = -1;
    size_t range_index = 0;
};

} // namespace qvx
