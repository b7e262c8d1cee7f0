// The field tables of the status images and the encoding of one field.
//
// A table entry names the record member that fills the field (`from`) and
// the member of the decoded row it fills (`into`). Pointer fields only
// tell the agent whether the thing exists; they come back as flags.
#include "channel/status_layout.h"
#include "model/clause_slot.h"

#include <algorithm>
#include <array>
#include <concepts>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channel/status_decode.h"
#include "control/distributor.h"
#include "model/cursor.h"
#include "model/cursor_list.h"

namespace qvx {

namespace {

using enum FieldKind;

// ------------------------------------------------------------ record side

// What a member puts into a field: its number, or its text and the
// address of its data (null when there is none) for a text or a pointer
// field to take.
FieldValue at_address(const void* p) { return {0, {}, p}; }
FieldValue of(std::integral auto v) { return {static_cast<int64_t>(v), {}, nullptr}; }
FieldValue of(const std::string& s) { return {0, s, s.empty() ? nullptr : s.data()}; }
template <typename T>
FieldValue of(const std::vector<T>& v) {
    return at_address(v.empty() ? nullptr : v.data());
}
template <typename T>
FieldValue of(const ClauseSlot<T>& slot) {
    return at_address(slot.get());
}
template <typename T>
FieldValue of(const std::optional<T>& o) {
    return o ? of(*o) : FieldValue{};
}

// What a field puts into a member of the decoded row. A flag tells
// whether the field holds anything.
void store(std::string& to, const FieldValue& v) { to.assign(v.text); }
void store(bool& to, const FieldValue& v) { to = v.number != 0 || !v.text.empty(); }
template <std::integral T>
void store(T& to, const FieldValue& v) {
    to = static_cast<T>(v.number);
}

template <typename>
struct MemberOf;
template <typename C, typename T>
struct MemberOf<T C::*> {
    using Owner = C;
    using Type = T;
};
template <auto M>
using OwnerOf = typename MemberOf<decltype(M)>::Owner;

template <typename>
constexpr bool kIsArray = false;
template <typename T, size_t N>
constexpr bool kIsArray<std::array<T, N>> = true;

// A member, or element `i` of a member that is an array, as field values.
// The record may be of a class derived from the member's owner.
template <auto M, typename R>
FieldValue from(const R& record, size_t i) {
    const auto& member = record.*M;
    if constexpr (kIsArray<typename MemberOf<decltype(M)>::Type>) return of(member[i]);
    else return of(member);
}
template <auto M>
void into(OwnerOf<M>& row, const FieldValue& v, size_t i) {
    auto& member = row.*M;
    if constexpr (kIsArray<typename MemberOf<decltype(M)>::Type>) store(member[i], v);
    else store(member, v);
}

// The record after r in a list of owned records, null for the last one
// or one that is not in the list.
template <typename T>
const T* next_in(const std::vector<std::unique_ptr<T>>& list, const T& r) {
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].get() == &r) return i + 1 < list.size() ? list[i + 1].get() : nullptr;
    return nullptr;
}
FieldValue next_cursor(const curs& c, size_t) { return at_address(next_in(cur_anchor, c)); }
FieldValue next_distrib(const distrib& d, size_t) { return at_address(next_in(distrib_anchor, d)); }
FieldValue stored_rows(const curs& c, size_t) { return {c.rows.size(), {}, nullptr}; }
FieldValue fetch_exit_copy(const curs& c, size_t) { return at_address(c.fetch_exit ? &*c.fetch_exit : nullptr); }

// Holidays are day numbers up to the first 0.
void holiday(DistribStatus& row, const FieldValue& v, size_t i) {
    if (v.number != 0 && row.holidays.size() == i) row.holidays.push_back(static_cast<int32_t>(v.number));
}
// Classes are listed when their switch is on.
void class_on(DistribStatus& row, const FieldValue& v, size_t i) {
    if (v.number != 0) row.classes.push_back(static_cast<int>(i));
}

// ------------------------------------------------------------ the tables

using C = curs;
using CS = CursorStatus;

// 456 bytes. (*) marks internal fields put in bytes the agent does not
// read.
constexpr CursorField kCursorFields[] = {
    {"next cursor", 0, 4, kPointer, next_cursor, into<&CS::next>},
    {"cur_name", 4, 9, kText, from<&C::cur_name>, into<&CS::name>},
    {"last_time", 13, 15, kText, from<&C::last_time>, into<&CS::last_time>},  // 14 digits
    {"window_start", 28, 4, kUint, from<&C::window_start>, into<&CS::window_start>},
    {"window_end", 32, 4, kUint, from<&C::window_end>, into<&CS::window_end>},
    {"next_time", 36, 4, kUint, from<&C::next_time>, into<&CS::next_time>},
    {"stale_until", 40, 4, kUint, from<&C::stale_until>, into<&CS::stale_until>},
    {"stale", 44, 4, kInt, from<&C::stale>, into<&CS::stale>},
    {"virtual_cur", 48, 2, kInt, from<&C::virtual_cur>, into<&CS::virtual_cur>},
    {"empty", 50, 2, kInt, from<&C::empty>, into<&CS::empty>},
    {"demand", 52, 2, kInt, from<&C::demand>, into<&CS::demand>},
    {"once", 54, 2, kInt, from<&C::once>, into<&CS::once>},
    {"no_sql", 56, 2, kInt, from<&C::no_sql>, into<&CS::no_sql>},
    {"interval", 60, 4, kInt, from<&C::interval>, into<&CS::interval>},
    {"sel_piece", 84, 4, kPointer, from<&C::sel_piece>, into<&CS::select>},
    {"table_name", 88, 4, kPointer, from<&C::table_name>, into<&CS::table>},
    {"host table name", 92, 4, kPointer, from<&C::host_table_name>, into<&CS::host_table>},
    {"bracket", 96, 2, kInt, from<&C::bracket>, into<&CS::bracket>},
    {"raw_insert_select", 100, 4, kPointer, from<&C::raw_insert_select>, into<&CS::insert_select>},
    {"insert", 104, 4, kPointer, from<&C::insert>, into<&CS::insert>},
    {"host-variable count", 112, 2, kInt, from<&C::hv_count>, into<&CS::hv_count>},
    {"insert_where", 116, 4, kPointer, from<&C::insert_where>, into<&CS::where>},
    {"column list", 120, 4, kPointer, from<&C::cols>, into<&CS::columns>},
    {"insert column count", 124, 2, kInt, from<&C::insert_col_count>, into<&CS::insert_col_count>},
    {"insert column-name list", 128, 4, kPointer, from<&C::insert_col_names>, into<&CS::insert_columns>},
    {"held", 132, 1, kChar, from<&C::held>, into<&CS::held>},
    {"hold_reasons", 134, 2, kInt, from<&C::hold_reasons>, into<&CS::hold_reasons>, 3},  // (*)
    {"bypass marker", 140, 2, kInt, from<&C::bypass>, into<&CS::bypass>},                // (*)
    {"has_col_funct", 142, 2, kInt, from<&C::has_col_funct>, into<&CS::has_col_funct>},
    {"has_minmax", 144, 2, kInt, from<&C::has_minmax>, into<&CS::has_minmax>},  // (*)
    // 152 column_data, 156 first_row, 160 last_row: pointers, none kept yet.
    {"row_size", 164, 4, kInt, from<&C::row_size>, into<&CS::row_size>},
    {"row_limit", 168, 4, kInt, from<&C::row_limit>, into<&CS::row_limit>},
    {"row_no", 176, 4, kInt, from<&C::row_no>, into<&CS::row_no>},
    {"row_count", 180, 4, kInt, stored_rows, into<&CS::row_count>},
    {"time_limit", 188, 4, kInt, from<&C::time_limit>, into<&CS::time_limit>},
    {"length", 192, 4, kInt, from<&C::length>, into<&CS::length>},
    {"rows_changed", 200, 2, kInt, from<&C::rows_changed>, into<&CS::rows_changed>},
    {"history", 202, 2, kInt, from<&C::history>, into<&CS::history>},
    {"history_pending", 204, 2, kInt, from<&C::history_pending>, into<&CS::history_pending>},
    {"class", 208, 4, kInt, from<&C::class_no>, into<&CS::class_no>},
    {"sample_limit", 212, 2, kInt, from<&C::sample_limit>, into<&CS::sample_limit>},
    {"sample_no", 216, 4, kInt, from<&C::sample_no>, into<&CS::sample_no>},
    // 220 IF chain: a pointer, none kept yet.
    {"uuidpavc", 224, 4, kPointer, from<&C::uuidpavc>, into<&CS::uuidpavc>},
    {"uuidpcvc", 228, 4, kPointer, from<&C::uuidpcvc>, into<&CS::uuidpcvc>},
    {"rpc_version", 232, 4, kInt, from<&C::rpc_version>, into<&CS::rpc_version>},
    {"objid", 236, 4, kInt, from<&C::objid>, into<&CS::objid>},
    {"set", 240, 4, kInt, from<&C::set>, into<&CS::set>},
    {"show_cursor", 244, 2, kInt, from<&C::show_cursor>, into<&CS::show_cursor>},
    {"show_row", 246, 2, kInt, from<&C::show_row>, into<&CS::show_row>},
    {"bound", 248, 2, kInt, from<&C::bound>, into<&CS::bound>},
    {"load list", 256, 4, kPointer, from<&C::load_list>, into<&CS::loads>},
    {"age_to", 288, 9, kText, from<&C::age_to>, into<&CS::age_to>},
    {"fetch-exit copy", 320, 4, kPointer, fetch_exit_copy, into<&CS::fetch_exit>},
    {"start_after", 326, 2, kInt, from<&C::start_after>, into<&CS::start_after>},
    {"stop_after", 328, 2, kInt, from<&C::stop_after>, into<&CS::stop_after>},
    {"script", 332, 4, kPointer, from<&C::script>, into<&CS::script>},
    {"dummy_last_row", 368, 2, kInt, from<&C::dummy_last_row>, into<&CS::dummy_last_row>},
    {"conditional_dummy_last_row", 370, 2, kInt, from<&C::conditional_dummy_last_row>,
     into<&CS::conditional_dummy_last_row>},
    {"trace", 382, 2, kInt, from<&C::trace>, into<&CS::trace>},
    {"traced", 384, 2, kInt, from<&C::traced>, into<&CS::traced>},
    {"tracem", 386, 2, kInt, from<&C::tracem>, into<&CS::tracem>},
    // 420 ring of versions, 440 evaluation list: pointers, none kept yet.
    // Saturday, Sunday, Monday-to-Friday (by DayKind).
    {"operating ranges", 444, 4, kPointer, from<&C::ranges>, into<&CS::ranges>, 3},
};

using D = distrib;
using DS = DistribStatus;

// 784 bytes.
constexpr DistribField kDistribFields[] = {
    {"next distributor", 0, 4, kPointer, next_distrib, into<&DS::next>},
    {"type", 4, 2, kInt, from<&D::type>, into<&DS::type>},
    {"distrib_name", 6, 25, kText, from<&D::distrib_name>, into<&DS::name>},
    {"logon id", 31, 33, kText, from<&D::logonid>, into<&DS::logonid>},
    {"password", 64, 100, kText, from<&D::password>, into<&DS::password>},  // read back: set or not
    {"server id", 164, 34, kText, from<&D::serverid>, into<&DS::serverid>},
    // Saturday, Sunday, Monday-to-Friday (by DayKind).
    {"operating ranges", 208, 4, kPointer, from<&D::ranges>, into<&DS::ranges>, 3},
    {"time offset", 220, 4, kInt, from<&D::time_offset>, into<&DS::time_offset>},
    {"holidays", 224, 4, kInt, from<&D::holidays>, holiday, 100},
    {"interval", 624, 4, kInt, from<&D::interval>, into<&DS::interval>},
    {"hold flag", 628, 1, kChar, from<&D::hold>, into<&DS::hold>},
    {"continuous flag", 629, 1, kChar, from<&D::continuous>, into<&DS::continuous>},
    {"class switches", 630, 2, kInt, from<&D::class_sw>, class_on, 51},  // classes 0..50
    {"window_start", 732, 4, kUint, from<&D::window_start>, into<&DS::window_start>},
    {"window_end", 736, 4, kUint, from<&D::window_end>, into<&DS::window_end>},
    {"next_time", 740, 4, kUint, from<&D::next_time>, into<&DS::next_time>},
    {"last status", 744, 5, kText, from<&D::last_status>, into<&DS::last_status>},
    {"last run time", 749, 15, kText, from<&D::last_time>, into<&DS::last_time>},
    {"state", 764, 2, kUint, from<&D::state>, into<&DS::state>},
    {"send-false switch", 766, 2, kInt, from<&D::send_false>, into<&DS::send_false>},
};

// The widths a kind of field can have.
constexpr bool width_fits(FieldKind kind, size_t width) {
    switch (kind) {
        case kText: return width > 0;
        case kChar: return width == 1;
        case kPointer: return width == 4;
        case kInt:
        case kUint: return width == 2 || width == 4;
    }
    return false;
}

// Fields in offset order, apart, inside the image, each of a width its
// kind can have.
template <typename Field>
constexpr bool well_placed(std::span<const Field> fields, size_t image_size) {
    size_t at = 0;
    for (const Field& f : fields) {
        if (!width_fits(f.kind, f.width) || f.count == 0 || f.offset < at || f.end() > image_size) return false;
        at = f.end();
    }
    return true;
}
static_assert(well_placed(std::span<const CursorField>(kCursorFields), kCursorImageSize));
static_assert(well_placed(std::span<const DistribField>(kDistribFields), kDistribImageSize));

// ------------------------------------------------------------ one element

template <typename T>
void put_as(unsigned char* at, uint64_t bits) {
    const T v = static_cast<T>(bits);
    std::memcpy(at, &v, sizeof v);
}

template <typename T>
T load(const unsigned char* at) {
    T v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

// The low `width` bytes of a value, as an integer of that width holds them.
void put_bits(unsigned char* at, size_t width, uint64_t bits) {
    if (width == 1) put_as<uint8_t>(at, bits);
    else if (width == 2) put_as<uint16_t>(at, bits);
    else put_as<uint32_t>(at, bits);
}

} // namespace

std::span<const CursorField> cursor_layout() { return kCursorFields; }
std::span<const DistribField> distrib_layout() { return kDistribFields; }

void put_element(unsigned char* at, FieldKind kind, size_t width, const FieldValue& value) {
    switch (kind) {
        case kText:
            if (!value.text.empty()) std::memcpy(at, value.text.data(), std::min(value.text.size(), width));
            return;
        case kPointer:
            put_bits(at, width, reinterpret_cast<uintptr_t>(value.address));
            return;
        case kInt:
        case kUint:
        case kChar:
            put_bits(at, width, static_cast<uint64_t>(value.number));
            return;
    }
}

FieldValue get_element(const unsigned char* at, FieldKind kind, size_t width) {
    FieldValue v;
    switch (kind) {
        case kInt:
            v.number = width == 2 ? int64_t{load<int16_t>(at)} : int64_t{load<int32_t>(at)};
            break;
        case kUint:
            v.number = width == 2 ? int64_t{load<uint16_t>(at)} : int64_t{load<uint32_t>(at)};
            break;
        case kPointer:
            v.number = load<uint32_t>(at);
            break;
        case kChar:
            v.number = load<char>(at);
            break;
        case kText: {
            const char* s = reinterpret_cast<const char*>(at);
            v.text = std::string_view(s, strnlen(s, width));
            break;
        }
    }
    return v;
}

} // namespace qvx
