// Record images of the "C-STATUS" and "D-STATUS" replies.
//
// The agent reads these rows by fixed offsets, so each image is written
// field by field into a zero-filled block rather than copied from the
// in-memory records (whose layout is the compiler's business).
//
// Cursor image, 456 bytes (4-byte integers and pointers unless a width is
// given; P marks a pointer field):
//
//   off  width  field                      off  width  field
//     0   4 P   next cursor                  176   4    row_no
//     4   9     cur_name                     180   4    row_count
//    13  15     last_time (14 digits)        188   4    time_limit
//    28   4     window_start                 192   4    length
//    32   4     window_end                   200   2    rows_changed
//    36   4     next_time                    202   2    history
//    40   4     stale_until                  204   2    history_pending
//    44   4     stale                        208   4    class
//    48   2     virtual_cur                  212   2    sample_limit
//    50   2     empty                        216   4    sample_no
//    52   2     demand                       220   4 P  IF chain
//    54   2     once                         224   4 P  uuidpavc
//    56   2     no_sql                       228   4 P  uuidpcvc
//    60   4     interval                     232   4    rpc_version
//    84   4 P   sel_piece                    236   4    objid
//    88   4 P   table_name                   240   4    set
//    92   4 P   host table name              244   2    show_cursor
//    96   2     bracket                      246   2    show_row
//   100   4 P   raw_insert_select            248   2    bound
//   104   4 P   insert                       256   4 P  load list
//   112   2     host-variable count          288   9    age_to
//   116   4 P   insert_where                 320   4 P  fetch-exit copy
//   120   4 P   column list                  326   2    start_after
//   124   2     insert column count          328   2    stop_after
//   128   4 P   insert column-name list      332   4 P  script
//   132   1     held                         368   2    dummy_last_row
//   134   2     hold_reasons[0]  (*)         370   2    conditional_dummy_last_row
//   136   2     hold_reasons[1]  (*)         382   2    trace
//   138   2     hold_reasons[2]  (*)         384   2    traced
//   140   2     bypass marker    (*)         386   2    tracem
//   142   2     has_col_funct                420   4 P  ring of versions
//   144   2     has_minmax       (*)         440   4 P  evaluation list
//   152   4 P   column_data                  444   4 P  Saturday ranges
//   156   4 P   first_row                    448   4 P  Sunday ranges
//   160   4 P   last_row                     452   4 P  Monday-to-Friday ranges
//   164   4     row_size
//   168   4     row_limit
//
// (*) internal fields placed in otherwise unused bytes; the agent does not
// read them. Every byte not named here is zero.
//
// Distributor image, 784 bytes:
//
//   off  width  field                      off  width  field
//     0   4 P   next distributor             624   4    interval
//     4   2     type                         628   1    hold flag
//     6  25     distrib_name                 629   1    continuous flag
//    31  33     logon id                     630 102    class switches 0..50
//    64 100     password                     732   4    window_start
//   164  34     server id                    736   4    window_end
//   198  10     zero                         740   4    next_time
//   208   4 P   Saturday ranges              744   5    last status
//   212   4 P   Sunday ranges                749  15    last run time
//   216   4 P   Monday-to-Friday ranges      764   2    state
//   220   4     time offset (signed)         766   2    send-false switch
//   224 400     holidays, 100 day numbers    768  16    zero
//
// Character fields hold their text, zero-terminated when shorter than the
// field and cut to its width (a full-width text has no terminator).
// Pointer fields hold 0 when the thing is absent or empty and otherwise
// the low 32 bits of the address of its data.
#include "channel/status_images.h"

#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace qvx {

namespace {

// Writes fields at fixed offsets of a zero-filled image. A field that
// would not fit is dropped; the layouts above keep every field inside.
template <size_t N>
class ImageWriter {
public:
    explicit ImageWriter(std::array<unsigned char, N>& image) : image_(image) { image_.fill(0); }

    template <typename T>
    void put(size_t offset, T value) {
        static_assert(std::is_trivially_copyable_v<T>);
        if (offset + sizeof(T) > N) return;
        std::memcpy(image_.data() + offset, &value, sizeof(T));
    }
    void i16(size_t offset, int16_t v) { put(offset, v); }
    void u16(size_t offset, uint16_t v) { put(offset, v); }
    void i32(size_t offset, int32_t v) { put(offset, v); }
    void u32(size_t offset, uint32_t v) { put(offset, v); }
    void chr(size_t offset, char v) { put(offset, v); }

    void text(size_t offset, size_t width, std::string_view s) {
        if (offset + width > N) return;
        std::memcpy(image_.data() + offset, s.data(), s.size() < width ? s.size() : width);
    }

    void pointer(size_t offset, const void* p) {
        u32(offset, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)));
    }

private:
    std::array<unsigned char, N>& image_;
};

// Address of the data a field refers to, null when there is none.
const void* data_of(const std::string& s) { return s.empty() ? nullptr : s.data(); }
const void* data_of(const std::optional<std::string>& s) {
    return s ? data_of(*s) : nullptr;
}
template <typename T>
const void* data_of(const std::vector<T>& v) {
    return v.empty() ? nullptr : v.data();
}

// The record after r in a list of owned records, null for the last one
// or one that is not in the list.
template <typename T>
const T* next_in(const std::vector<std::unique_ptr<T>>& list, const T& r) {
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].get() == &r) return i + 1 < list.size() ? list[i + 1].get() : nullptr;
    return nullptr;
}

} // namespace

CursorImage cursor_image(const curs& c) {
    CursorImage image;
    ImageWriter w(image);

    w.pointer(0, next_in(cur_anchor, c));
    w.text(4, 9, c.cur_name);
    w.text(13, 15, c.last_time);
    w.u32(28, c.window_start);
    w.u32(32, c.window_end);
    w.u32(36, c.next_time);
    w.u32(40, c.stale_until);
    w.i32(44, c.stale);
    w.i16(48, c.virtual_cur);
    w.i16(50, c.empty);
    w.i16(52, c.demand);
    w.i16(54, c.once);
    w.i16(56, c.no_sql);
    w.i32(60, c.interval);
    w.pointer(84, data_of(c.sel_piece));
    w.pointer(88, data_of(c.table_name));
    w.pointer(92, data_of(c.host_table_name));
    w.i16(96, c.bracket);
    w.pointer(100, data_of(c.raw_insert_select));
    w.pointer(104, data_of(c.insert));
    w.i16(112, c.hv_count);
    w.pointer(116, data_of(c.insert_where));
    w.pointer(120, data_of(c.cols));
    w.i16(124, c.insert_col_count);
    w.pointer(128, data_of(c.insert_col_names));
    w.chr(132, c.held);
    w.i16(134, c.hold_reasons[0]);
    w.i16(136, c.hold_reasons[1]);
    w.i16(138, c.hold_reasons[2]);
    w.i16(140, c.bypass);
    w.i16(142, c.has_col_funct);
    w.i16(144, c.has_minmax);
    // 152 column_data, 156 first_row, 160 last_row: none kept yet.
    w.i32(164, c.row_size);
    w.i32(168, c.row_limit);
    w.i32(176, c.row_no);
    w.i32(180, c.rows.size());
    w.i32(188, c.time_limit);
    w.i32(192, c.length);
    w.i16(200, c.rows_changed);
    w.i16(202, c.history);
    w.i16(204, c.history_pending);
    w.i32(208, c.class_no);
    w.i16(212, c.sample_limit);
    w.i32(216, c.sample_no);
    // 220 IF chain: none kept yet.
    w.pointer(224, data_of(c.uuidpavc));
    w.pointer(228, data_of(c.uuidpcvc));
    w.i32(232, c.rpc_version);
    w.i32(236, c.objid);
    w.i32(240, c.set);
    w.i16(244, c.show_cursor);
    w.i16(246, c.show_row);
    w.i16(248, c.bound);
    w.pointer(256, data_of(c.load_list));
    w.text(288, 9, c.age_to);
    w.pointer(320, c.fetch_exit ? &*c.fetch_exit : nullptr);
    w.i16(326, c.start_after);
    w.i16(328, c.stop_after);
    w.pointer(332, data_of(c.script));
    w.i16(368, c.dummy_last_row);
    w.i16(370, c.conditional_dummy_last_row);
    w.i16(382, c.trace);
    w.i16(384, c.traced);
    w.i16(386, c.tracem);
    // 420 ring of versions, 440 evaluation list: none kept yet.
    w.pointer(444, data_of(c.ranges[kSaturday]));
    w.pointer(448, data_of(c.ranges[kSunday]));
    w.pointer(452, data_of(c.ranges[kMonFri]));
    return image;
}

DistribImage distrib_image(const distrib& d) {
    DistribImage image;
    ImageWriter w(image);

    w.pointer(0, next_in(distrib_anchor, d));
    w.i16(4, d.type);
    w.text(6, 25, d.distrib_name);
    w.text(31, 33, d.logonid);
    w.text(64, 100, d.password);
    w.text(164, 34, d.serverid);
    w.pointer(208, data_of(d.ranges[kSaturday]));
    w.pointer(212, data_of(d.ranges[kSunday]));
    w.pointer(216, data_of(d.ranges[kMonFri]));
    w.i32(220, d.time_offset);
    for (size_t i = 0; i < d.holidays.size(); ++i) w.i32(224 + 4 * i, d.holidays[i]);
    w.i32(624, d.interval);
    w.chr(628, d.hold);
    w.chr(629, d.continuous);
    for (size_t i = 0; i < d.class_sw.size(); ++i) w.i16(630 + 2 * i, d.class_sw[i]);
    w.u32(732, d.window_start);
    w.u32(736, d.window_end);
    w.u32(740, d.next_time);
    w.text(744, 5, d.last_status);
    w.text(749, 15, d.last_time);
    w.u16(764, d.state);
    w.i16(766, d.send_false);
    return image;
}

} // namespace qvx
