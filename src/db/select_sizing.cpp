// Fetch buffer sizes by database type code.
#include "db/fetch.h"

#include <algorithm>
#include <cstdlib>

namespace qvx {

namespace {
constexpr int32_t kMaxCharBuffer = 384;
constexpr int32_t kDateBuffer = 9;
constexpr int32_t kZeroPrecision = 14;
}

const char* db_type_name(int type) {
    switch (type) {
    case kDbChar:
    case kDbCharFixed: return "O_CHAR";
    case kDbNumber: return "O_NUMBER";
    case kDbDate: return "O_DATE";
    case kDbRaw: return "O_RAWD";
    case kDbLong: return "O_LONG";
    case kDbLongRaw: return "O_LONGRAW";
    case kDbRowid: return "O_ROWID";
    default: return "default";
    }
}

bool size_select_item(SelectItem& item) {
    int32_t len;
    switch (item.type) {
    case kDbChar:
    case kDbCharFixed:
        len = std::min(std::max(item.size_chars, 0) * 3, kMaxCharBuffer);
        break;
    case kDbNumber:
        len = (item.precision == 0 ? kZeroPrecision : item.precision) + 2;
        if (item.scale < 0) len += -item.scale;
        break;
    case kDbDate:
        // The database's own date form; a backend that delivers a longer
        // text form (date and time) says so in size_bytes.
        len = std::max(kDateBuffer, item.size_bytes);
        break;
    case kDbRaw:
        len = std::max(item.size_chars, 0) * 2;
        break;
    default:
        return false;
    }
    if (item.fetch_len >= 0) {
        // A set_len length: the item is fetched at that length, so the
        // values may be as long.
        len = item.fetch_len;
        item.size_bytes = std::max(item.size_bytes, len);
        if (item.type == kDbChar || item.type == kDbCharFixed)
            item.size_chars = std::max(item.size_chars, len);
    }
    item.buf_len = len;
    item.orig_type = (item.type == kDbChar || item.type == kDbRaw || item.type == kDbCharFixed)
                         ? static_cast<int16_t>(kDbChar)
                         : item.type;
    return true;
}

} // namespace qvx
