// Record images of the "C-STATUS" and "D-STATUS" replies, written by
// walking the field tables of status_layout.
#include "channel/status_images.h"

#include <span>

namespace qvx {

namespace {

// Every field of the table, element by element, from the record into a
// zero-filled image.
template <size_t N, typename Field, typename Record>
std::array<unsigned char, N> write_image(std::span<const Field> layout, const Record& record) {
    std::array<unsigned char, N> image{};
    for (const Field& f : layout) {
        for (size_t i = 0; i < f.count; ++i)
            put_element(image.data() + f.offset + i * f.width, f.kind, f.width, f.get(record, i));
    }
    return image;
}

} // namespace

CursorImage cursor_image(const curs& c) { return write_image<kCursorImageSize>(cursor_layout(), c); }

DistribImage distrib_image(const distrib& d) { return write_image<kDistribImageSize>(distrib_layout(), d); }

} // namespace qvx
