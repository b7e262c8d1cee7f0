#include "fuzz_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "runtime/messages.h"
#include "support/state.h"

namespace qvxfuzz {

namespace {

// Standard error as it was when the program started: libFuzzer may close
// the real one to keep the collector's messages out of its output, and a
// failed check must still be seen.
const int report_fd = ::dup(2);

std::string make_scratch_dir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/qvxfuzz-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        std::perror("qvxfuzz: mkdtemp");
        std::abort();
    }
    return pattern;
}

void remove_scratch_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(scratch_dir(), ignored);
}

} // namespace

const std::string& scratch_dir() {
    // Never destroyed: the exit handler that removes the directory runs
    // after the destructors of function statics.
    static const std::string* dir = [] {
        auto* d = new std::string(make_scratch_dir());
        std::atexit(remove_scratch_dir);
        return d;
    }();
    return *dir;
}

void fresh_state() {
    qvxtest::reset_collector_state_in(scratch_dir());
    if (FILE* sink = std::fopen("/dev/null", "w")) qvx::use_message_sink(sink, false);
}

std::string write_scratch(const std::string& name, std::string_view bytes) {
    const std::string path = scratch_dir() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "qvxfuzz: cannot write %s\n", path.c_str());
        std::abort();
    }
    return path;
}

std::string_view as_text(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

void check_failed(const char* what, const char* file, int line) {
    char text[512];
    const int n = std::snprintf(text, sizeof text, "qvxfuzz: %s:%d: check failed: %s\n", file, line, what);
    if (n > 0) [[maybe_unused]] const ssize_t w = ::write(report_fd >= 0 ? report_fd : 2, text, std::min<size_t>(n, sizeof text - 1));
    std::abort();
}

} // namespace qvxfuzz
