// The date normaliser of time-stamp columns, with the length given and
// zero-terminated, writing into exactly the 16 bytes it promises to fill.
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "support/date_normalize.h"

using namespace qvx;

namespace {

void check_stamp(int rc, const char* out) {
    if (rc == 0) {
        for (int i = 0; i < 16; ++i) FUZZ_CHECK(out[i] >= '0' && out[i] <= '9');
    } else {
        // The error form: the code after "DateFmtErr=", blank-padded.
        std::string want = "DateFmtErr=" + std::to_string(rc);
        want.resize(16, ' ');
        FUZZ_CHECK(std::memcmp(out, want.data(), 16) == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvxfuzz::fresh_state();
    // Own heap copies, so that a read past the text or a write past the
    // stamp is caught.
    const auto text = std::make_unique<char[]>(size ? size : 1);
    std::memcpy(text.get(), data, size);
    const auto out = std::make_unique<char[]>(16);
    if (size > 0 && size <= 0x7fffffff) {
        const int rc = us_normalizeDateTime(text.get(), static_cast<int>(size), out.get());
        check_stamp(rc, out.get());
    }

    const std::string terminated(qvxfuzz::as_text(data, size));
    const auto copy = std::make_unique<char[]>(terminated.size() + 1);
    std::memcpy(copy.get(), terminated.c_str(), terminated.size() + 1);
    const int rc = us_normalizeDateTime(copy.get(), 0, out.get());
    check_stamp(rc, out.get());
    qvxfuzz::fresh_state();
    return 0;
}
