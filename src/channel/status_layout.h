// The layouts of the status images: a cursor as one "C-STATUS" row and a
// distributor as one "D-STATUS" row. The agent reads these rows by fixed
// offsets, so each image is a list of fields at fixed places in a
// zero-filled block, not a copy of the in-memory record.
//
// Each image has one field table (status_layout.cpp). The table says where
// a field lies, how its bytes hold the value, which member of the record
// fills it and which member of the decoded row it fills; the writer
// (status_images) and the decoder (status_decode) both walk it, so an
// offset is written down once. Every byte no field covers is zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace qvx {

struct curs;
struct distrib;
struct CursorStatus;
struct DistribStatus;

constexpr size_t kCursorImageSize = 456;
constexpr size_t kDistribImageSize = 784;

// How the bytes of a field hold its value. Integers are in host byte order.
enum class FieldKind : uint8_t {
    kInt,      // signed integer, 2 or 4 bytes
    kUint,     // unsigned integer, 2 or 4 bytes
    kChar,     // one character as it is ('Y', 'N', or 0 when unset)
    kText,     // the text cut to the width; zero bytes after a shorter one, no
               // terminator after a full-width one
    kPointer,  // 4 bytes: 0 when the thing is absent or empty, otherwise the
               // low 32 bits of the address of its data
};

// A field's value on its way into or out of an image.
struct FieldValue {
    int64_t number = 0;             // integers and characters; a pointer read back: its 32 bits
    std::string_view text;          // texts; read back up to the first zero byte
    const void* address = nullptr;  // a pointer being written
};

// One field of an image: `count` elements of `width` bytes side by side
// from `offset`, filled from element `element` of a record member by
// `get` and read back into the decoded row by `set`.
template <typename Record, typename Status>
struct ImageField {
    const char* name;
    uint16_t offset;
    uint16_t width;
    FieldKind kind;
    FieldValue (*get)(const Record& record, size_t element);
    void (*set)(Status& row, const FieldValue& value, size_t element);
    uint16_t count = 1;

    constexpr size_t end() const { return offset + size_t{width} * count; }
};

using CursorField = ImageField<curs, CursorStatus>;
using DistribField = ImageField<distrib, DistribStatus>;

// The field tables, in offset order.
std::span<const CursorField> cursor_layout();
std::span<const DistribField> distrib_layout();

// One element of a field: written into the `width` bytes at `at`, which
// are zero before, or read back from them.
void put_element(unsigned char* at, FieldKind kind, size_t width, const FieldValue& value);
FieldValue get_element(const unsigned char* at, FieldKind kind, size_t width);

} // namespace qvx
