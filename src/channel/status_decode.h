// Reading the record images of the "C-STATUS" and "D-STATUS" replies back
// into named fields (the reverse of status_images), and printing them as
// labelled blocks for people.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvx {

// One row of a "C-STATUS" reply. Pointer fields of the image only tell
// whether the thing exists, so they come back as flags.
struct CursorStatus {
    std::string name;
    std::string last_time;               // 14 digits
    uint32_t window_start = 0;           // relative seconds
    uint32_t window_end = 0;
    uint32_t next_time = 0;
    uint32_t stale_until = 0;
    int32_t stale = 0;
    int16_t virtual_cur = 0, empty = 0, demand = 0, once = 0, no_sql = 0;
    int32_t interval = 0;
    int16_t bracket = 0;
    int16_t hv_count = 0;
    int16_t insert_col_count = 0;
    char held = 0;
    std::array<int16_t, 3> hold_reasons{};
    int16_t bypass = 0;
    int16_t has_col_funct = 0, has_minmax = 0;
    int32_t row_size = 0, row_limit = 0, row_no = 0, row_count = 0, time_limit = 0, length = 0;
    int16_t rows_changed = 0, history = 0, history_pending = 0;
    int32_t class_no = 0;
    int16_t sample_limit = 0;
    int32_t sample_no = 0;
    int32_t rpc_version = 0, objid = 0, set = 0;
    int16_t show_cursor = 0, show_row = 0, bound = 0;
    std::string age_to;
    int16_t start_after = 0, stop_after = 0;
    int16_t dummy_last_row = 0, conditional_dummy_last_row = 0;
    int16_t trace = 0, traced = 0, tracem = 0;

    // Present or not.
    bool next = false, select = false, table = false, host_table = false, insert_select = false,
         insert = false, where = false, columns = false, insert_columns = false, loads = false,
         fetch_exit = false, script = false, uuidpavc = false, uuidpcvc = false;
    std::array<bool, 3> ranges{};        // by DayKind
};

// One row of a "D-STATUS" reply.
struct DistribStatus {
    bool next = false;
    int16_t type = 0;
    std::string name, logonid, serverid;
    bool password = false;               // one is set; never shown
    std::array<bool, 3> ranges{};        // by DayKind
    int32_t time_offset = 0;
    std::vector<int32_t> holidays;       // day numbers up to the first 0
    int32_t interval = 0;
    char hold = 0;
    char continuous = 0;
    std::vector<int> classes;            // classes whose switch is on
    uint32_t window_start = 0, window_end = 0, next_time = 0;
    std::string last_status;             // "GOOD", "FAIL" or empty
    std::string last_time;               // 14 digits
    uint16_t state = 0;
    int16_t send_false = 0;
};

// Decodes one image; nothing when the row is not exactly an image's size.
std::optional<CursorStatus> decode_cursor_image(const unsigned char* row, size_t len);
std::optional<DistribStatus> decode_distrib_image(const unsigned char* row, size_t len);

// A labelled block, one field per line, ending with a line end.
std::string format_cursor_status(const CursorStatus& s);
std::string format_distrib_status(const DistribStatus& s);

// Relative seconds as "YYYY-MM-DD hh:mm:ss [n]", "-" for 0.
std::string format_relative(uint32_t secs);
// A 14-digit time text as "YYYY-MM-DD hh:mm:ss"; other texts as they are,
// "-" when empty.
std::string format_time14(const std::string& text);

} // namespace qvx
