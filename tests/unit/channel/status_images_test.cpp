#include "channel/status_images.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/state.h"
#include "control/load_clause.h"

using namespace qvx;

namespace {

static_assert(sizeof(CursorImage) == 456 && sizeof(DistribImage) == 784);

uint32_t low32(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

template <typename T, size_t N>
T read_at(const std::array<unsigned char, N>& img, size_t off) {
    T v{};
    std::memcpy(&v, img.data() + off, sizeof v);
    return v;
}

struct Int { size_t off; int width; long value; };             // width 1, 2 or 4
struct Text { size_t off; size_t width; std::string value; };  // zero-padded to width
struct Ptr { size_t off; const void* target; };

// Sets an integer member to a value of its own (derived from its offset)
// and returns what its image field must hold (the member may be one of
// a base of the record).
template <typename R, typename B, typename T>
Int set(R& r, T B::*member, size_t off) {
    const long v = sizeof(T) == 1 ? 'A' + static_cast<long>(off % 26) : static_cast<long>(off / 2 + 1);
    r.*member = static_cast<T>(v);
    return {off, static_cast<int>(sizeof(T)), v};
}

// The same for the row count, which the stored rows give.
Int rows_of(curs& c, size_t off) {
    const long v = static_cast<long>(off / 2 + 1);
    qvxtest::give_rows(c, static_cast<int>(v));
    return {off, 4, v};
}

// Checks every listed field, then that no other byte was written.
template <size_t N>
void check_image(const std::array<unsigned char, N>& img, const std::vector<Int>& ints,
                 const std::vector<Text>& texts, const std::vector<Ptr>& ptrs) {
    std::vector<bool> used(N, false);
    for (const auto& f : ints) {
        const long got = f.width == 1 ? read_at<char>(img, f.off)
                       : f.width == 2 ? read_at<int16_t>(img, f.off) : read_at<int32_t>(img, f.off);
        EXPECT_EQ(got, f.value) << "integer at " << f.off;
        std::fill_n(used.begin() + f.off, f.width, true);
    }
    for (const auto& f : texts) {
        const std::string field(reinterpret_cast<const char*>(img.data() + f.off), f.width);
        EXPECT_EQ(field, f.value + std::string(f.width - f.value.size(), '\0')) << "text at " << f.off;
        std::fill_n(used.begin() + f.off, f.width, true);
    }
    for (const auto& f : ptrs) {
        EXPECT_EQ(read_at<uint32_t>(img, f.off), low32(f.target)) << "pointer at " << f.off;
        std::fill_n(used.begin() + f.off, 4, true);
    }
    for (size_t i = 0; i < N; ++i)
        if (!used[i]) {
            EXPECT_EQ(img[i], 0) << "stray byte at " << i;
        }
}

class StatusImageTest : public ::testing::Test {
protected:
    void SetUp() override { qvxtest::reset_collector_state(); delete_cursors(); }
    void TearDown() override { delete_cursors(); qvxtest::reset_collector_state(); }

    curs& add_cursor(const std::string& name) {
        cur_anchor.push_back(std::make_unique<curs>());
        cur_anchor.back()->cur_name = name;
        return *cur_anchor.back();
    }
};

TEST_F(StatusImageTest, FullyFilledCursorFieldByField) {
    curs& c = add_cursor("CURS01");
    using C = curs;
    std::vector<Int> ints = {
        set(c, &C::window_start, 28), set(c, &C::window_end, 32), set(c, &C::next_time, 36),
        set(c, &C::stale_until, 40), set(c, &C::stale, 44), set(c, &C::virtual_cur, 48),
        set(c, &C::empty, 50), set(c, &C::demand, 52), set(c, &C::once, 54), set(c, &C::no_sql, 56),
        set(c, &C::interval, 60), set(c, &C::bracket, 96), set(c, &C::hv_count, 112),
        set(c, &C::insert_col_count, 124), set(c, &C::held, 132), set(c, &C::bypass, 140),
        set(c, &C::has_col_funct, 142), set(c, &C::has_minmax, 144), set(c, &C::row_size, 164),
        set(c, &C::row_limit, 168), set(c, &C::row_no, 176), rows_of(c, 180),
        set(c, &C::time_limit, 188), set(c, &C::length, 192), set(c, &C::rows_changed, 200),
        set(c, &C::history, 202), set(c, &C::history_pending, 204), set(c, &C::class_no, 208),
        set(c, &C::sample_limit, 212), set(c, &C::sample_no, 216), set(c, &C::rpc_version, 232),
        set(c, &C::objid, 236), set(c, &C::set, 240), set(c, &C::show_cursor, 244),
        set(c, &C::show_row, 246), set(c, &C::bound, 248), set(c, &C::start_after, 326),
        set(c, &C::stop_after, 328), set(c, &C::dummy_last_row, 368),
        set(c, &C::conditional_dummy_last_row, 370), set(c, &C::trace, 382),
        set(c, &C::traced, 384), set(c, &C::tracem, 386)};
    c.hold_reasons = {-11, 12, 13};
    ints.insert(ints.end(), {{134, 2, -11}, {136, 2, 12}, {138, 2, 13}});
    c.last_time = "20240315123456";
    c.sel_piece = "SELECT A FROM T"; c.table_name = "TBL"; c.host_table_name = "OWNER.TBL";
    c.raw_insert_select = "SELECT A FROM [T]"; c.insert = "INSERT ..."; c.insert_where = "A > 0";
    c.cols.resize(2); c.insert_col_names = {"A"}; c.load_list.ensure().texts = {"load"}; c.script = "echo";
    c.uuidpavc = "pavc"; c.uuidpcvc = "pcvc"; c.age_to = "AGECUR";
    c.fetch_exit = FetchExitSpec{"exitprog", 1, 30};
    c.ranges[kSaturday] = {{0, 3600}}; c.ranges[kSunday] = {{1, 2}}; c.ranges[kMonFri] = {{3, 4}};
    curs& next = add_cursor("NEXT");

    check_image(cursor_image(c), ints,
                {{4, 9, "CURS01"}, {13, 15, "20240315123456"}, {288, 9, "AGECUR"}},
                {{0, &next}, {84, c.sel_piece.data()}, {88, c.table_name.data()},
                 {92, c.host_table_name.data()}, {100, c.raw_insert_select->data()},
                 {104, c.insert->data()}, {116, c.insert_where->data()}, {120, c.cols.data()},
                 {128, c.insert_col_names.data()}, {224, c.uuidpavc.data()},
                 {228, c.uuidpcvc.data()}, {256, c.load_list.get()}, {320, &*c.fetch_exit},
                 {332, c.script->data()}, {444, c.ranges[kSaturday].data()},
                 {448, c.ranges[kSunday].data()}, {452, c.ranges[kMonFri].data()}});
}

TEST_F(StatusImageTest, CursorWithNothingPresentHasNoPointersAndCutTexts) {
    add_cursor("FIRST");
    curs& c = add_cursor("ABCDEFGHIJKL");  // the last one; the name is cut to 9 bytes
    c.raw_insert_select = ""; c.script = "";  // present but empty counts as absent
    c.age_to = "AGE_TO_TOO_LONG";
    check_image(cursor_image(c), {},
                {{4, 9, "ABCDEFGHI"}, {13, 15, "19900101010101"}, {288, 9, "AGE_TO_TO"}}, {});
    curs lone;  // not in the list: no next either
    EXPECT_EQ(read_at<uint32_t>(cursor_image(lone), 0), 0u);
}

TEST_F(StatusImageTest, FullyFilledDistributorFieldByField) {
    distrib_anchor.push_back(std::make_unique<distrib>());
    distrib& d = *distrib_anchor.back();
    using D = distrib;
    std::vector<Int> ints = {
        set(d, &D::type, 4), set(d, &D::time_offset, 220), set(d, &D::interval, 624),
        set(d, &D::hold, 628), set(d, &D::continuous, 629), set(d, &D::window_start, 732),
        set(d, &D::window_end, 736), set(d, &D::next_time, 740), set(d, &D::state, 764),
        set(d, &D::send_false, 766)};
    for (size_t i = 0; i < 100; ++i) {
        d.holidays[i] = static_cast<int32_t>(i == 0 ? -1 : 11000 + i);
        ints.push_back({224 + 4 * i, 4, d.holidays[i]});
    }
    for (size_t i = 0; i < 51; ++i) {
        d.class_sw[i] = static_cast<int16_t>(100 + i);
        ints.push_back({630 + 2 * i, 2, d.class_sw[i]});
    }
    // Texts shorter than, as long as and longer than their fields.
    d.distrib_name = std::string(30, 'n'); d.logonid = std::string(33, 'L'); d.password = "tiger";
    d.serverid = std::string(40, 'S'); d.last_status = "GOOD"; d.last_time = "20240315010203";
    d.ranges[kSaturday] = {{0, 100}}; d.ranges[kMonFri] = {{400, 500}};  // no Sunday ranges
    distrib_anchor.push_back(std::make_unique<distrib>());

    check_image(distrib_image(d), ints,
                {{6, 25, std::string(25, 'n')}, {31, 33, std::string(33, 'L')}, {64, 100, "tiger"},
                 {164, 34, std::string(34, 'S')}, {744, 5, "GOOD"}, {749, 15, "20240315010203"}},
                {{0, distrib_anchor.back().get()}, {208, d.ranges[kSaturday].data()},
                 {216, d.ranges[kMonFri].data()}});
    EXPECT_EQ(read_at<uint32_t>(distrib_image(*distrib_anchor.back()), 0), 0u);  // the last
}

} // namespace
