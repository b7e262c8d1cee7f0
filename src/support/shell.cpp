// Output of a short shell command, bounded in lines and characters.
#include "support/shell.h"

#include "runtime/messages.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace qvx {

namespace {

constexpr size_t max_lines = 500;
constexpr size_t max_chars = 4094;
// Output beyond this is not looked at, however it goes on.
constexpr size_t max_bytes_read = 16 << 20;

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Collects lines into one text of lines joined with single blanks.
class LineJoiner {
public:
    // Returns false once no more output is wanted.
    bool add(const char* data, size_t size) {
        bytes_ += size;
        for (size_t i = 0; i < size; ++i) {
            const char c = data[i];
            if (c == '\n') {
                if (!end_line()) return false;
                continue;
            }
            if (line_.size() < max_chars) line_.push_back(c);
            // A visible character that fills the room left means the
            // result is complete.
            if (!is_space(c) && line_.size() >= room()) return false;
        }
        return bytes_ < max_bytes_read;
    }

    std::string finish() {
        if (!line_.empty()) end_line();
        if (result_.size() > max_chars) result_.resize(max_chars);
        return std::move(result_);
    }

private:
    bool end_line() {
        while (!line_.empty() && is_space(line_.back())) line_.pop_back();
        if (!line_.empty()) {
            if (!result_.empty()) result_.push_back(' ');
            result_.append(line_);
        }
        line_.clear();
        ++lines_;
        return lines_ < max_lines && result_.size() < max_chars;
    }

    size_t room() const { return max_chars - result_.size() - (result_.empty() ? 0 : 1); }

    std::string line_;
    std::string result_;
    size_t lines_ = 0;
    size_t bytes_ = 0;
};

} // namespace

std::string u_shell_output(const std::string& command) {
    std::fflush(nullptr);
    errno = 0;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe && errno == 0) {
        ::sleep(1);
        errno = 0;
        pipe = ::popen(command.c_str(), "r");
    }
    if (!pipe) {
        const int err = errno;
        PRINT('e', "uti2050", "popen error (%d %s), cmd=%.40s...\n", err, std::strerror(err),
              command.c_str());
        return {};
    }

    // Reading stops as soon as the bounds are reached; closing the pipe
    // then ends a command that would go on writing.
    LineJoiner joiner;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        if (!joiner.add(buf, n)) break;
    ::pclose(pipe);
    return joiner.finish();
}

} // namespace qvx
