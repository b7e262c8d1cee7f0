// One value conversion: the first four bytes are the destination length
// (0 to 23), the destination type, the source type (low bit: 1 text, 2
// binary) and the flags; the rest is the source. The destination is a
// buffer of exactly the bytes the conversion may write, so that a write
// past it is caught.
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "procs/convert_data.h"

using namespace qvx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    qvxfuzz::fresh_state();
    const int dst_type = (data[1] & 1) ? kConvBinary : kConvChar;
    const int src_type = (data[2] & 1) ? kConvBinary : kConvChar;
    const int flags = data[3] & 63;
    int dst_len = data[0] % 24;
    const std::string src(reinterpret_cast<const char*>(data + 4), size - 4);
    int src_len = static_cast<int>(src.size());
    if (src_type == kConvBinary) {
        src_len = src.size() >= 8 ? 8 : src.size() >= 4 ? 4 : src.size() >= 2 ? 2 : 0;
        if (src_len == 0) return 0;
    } else if (data[2] & 2) {
        src_len = -1;  // the text's own length: up to its first zero byte
    }
    const size_t room = dst_type == kConvBinary ? 4 : static_cast<size_t>(dst_len) + ((flags & kConvNoTerminator) ? 0 : 1);
    auto dst = std::make_unique<char[]>(room == 0 ? 1 : room);
    std::memset(dst.get(), 'Z', room);
    const int n = convertData(dst_len, dst.get(), dst_type, src_len, src.c_str(), src_type, flags);
    if (dst_type == kConvBinary) {
        FUZZ_CHECK(n == 0 || n == 1 || n == 2 || n == 4);
        FUZZ_CHECK(src_type == kConvChar || n == 0);
    } else {
        FUZZ_CHECK(n >= 0 && n <= dst_len);
        if (!(flags & kConvNoTerminator)) FUZZ_CHECK(dst[static_cast<size_t>(n)] == '\0');
        if ((flags & (kConvPad | kConvRight)) && src_type == kConvChar) FUZZ_CHECK(n == dst_len);
    }
    qvxfuzz::fresh_state();
    return 0;
}
