// Argument-file expansion: "-filein NAME" and "@NAME" are replaced by the
// words of the named file, and "-ddd..." arguments go to the debug-level
// setter.
#include "collector/cmdline.h"

#include "runtime/messages.h"
#include "runtime/trace.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qvx {

namespace {

constexpr int max_argument_files = 10;
constexpr int status_too_many_files = 15;
constexpr int status_unreadable_file = 95;

// An argument file is a short list of options; anything larger is refused
// rather than read into memory ten times over.
constexpr size_t max_argument_file_size = 1 << 20;

// Reads the whole file; on failure returns false with errno set.
bool read_whole_file(const std::string& name, std::string& content) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        errno = err;
        return false;
    }
    content.clear();
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            errno = err;
            return false;
        }
        if (content.size() + static_cast<size_t>(n) > max_argument_file_size) {
            ::close(fd);
            errno = EFBIG;
            return false;
        }
        content.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

bool is_separator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Splits the text of an argument file into words. A word that begins with
// a double or single quote runs to the matching quote (or the end of the
// text) and keeps its separators; the quotes are dropped.
std::vector<std::string> split_words(const std::string& text) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        if (is_separator(text[i])) {
            ++i;
            continue;
        }
        if (text[i] == '"' || text[i] == '\'') {
            const char quote = text[i++];
            const size_t end = text.find(quote, i);
            const size_t stop = end == std::string::npos ? text.size() : end;
            words.push_back(text.substr(i, stop - i));
            i = end == std::string::npos ? text.size() : end + 1;
            continue;
        }
        const size_t start = i;
        while (i < text.size() && !is_separator(text[i])) ++i;
        words.push_back(text.substr(start, i - start));
    }
    return words;
}

int report_unreadable(const std::string& name, int err) {
    PRINT('e', "utf0010", "Include file \"%s\" errno=%i %s\n", name.c_str(), err, std::strerror(err));
    return status_unreadable_file;
}

} // namespace

int parseCmdline(std::vector<std::string>& args) {
    int files_read = 0;
    // args[0] is the program name; every other position is scanned, and
    // so are the words a file puts in place of its reference.
    size_t i = 1;
    while (i < args.size()) {
        const std::string& arg = args[i];

        if (arg.size() >= 4 && strncasecmp(arg.c_str(), "-ddd", 4) == 0) {
            set_debug_levels(arg);
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }

        std::string name;
        size_t consumed = 0;
        if (strcasecmp(arg.c_str(), "-filein") == 0) {
            if (i + 1 >= args.size()) return report_unreadable("<unknown>", EINVAL);
            name = args[i + 1];
            consumed = 2;
        } else if (!arg.empty() && arg[0] == '@') {
            name = arg.substr(1);
            consumed = 1;
        } else {
            ++i;
            continue;
        }

        if (++files_read > max_argument_files) {
            PRINT('e', "utf0015", "Nested file %s exceded max of 10 files\n", name.c_str());
            return status_too_many_files;
        }
        std::string content;
        if (!read_whole_file(name, content)) return report_unreadable(name, errno);

        std::vector<std::string> words = split_words(content);
        const auto at = args.begin() + static_cast<std::ptrdiff_t>(i);
        args.erase(at, at + static_cast<std::ptrdiff_t>(consumed));
        args.insert(args.begin() + static_cast<std::ptrdiff_t>(i), words.begin(), words.end());
        // Position i now holds the file's first word: scan it again.
    }
    return 0;
}

} // namespace qvx
