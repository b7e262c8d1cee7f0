#include "control/reader.h"

#include <sys/stat.h>

#include "control/source_position.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"

namespace qvx {

std::vector<std::string> control_file_levels(const std::string& code) {
    std::vector<std::string> levels{code};
    if (code == "zeg" || code == "zej" || code == "zeh") {
        levels.push_back("zeb");
    } else if (code == "zek") {
        levels.push_back("rdx");
    } else if (code == "zem") {
        levels.insert(levels.end(), {"xxx", "yyy", "zzz"});
    }
    return levels;
}

namespace {

// Opens a plain file for reading; directories and other kinds do not count.
FILE* open_regular(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return nullptr;
    struct stat st{};
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(f);
        return nullptr;
    }
    return f;
}

std::string join_dir(const std::string& dir, const std::string& rest) {
    return dir.empty() ? rest : dir + "/" + rest;
}

bool silent_fallback(const std::string& code, int level, const std::string& base) {
    if (level != 0 || (code != "zeg" && code != "zeh")) return false;
    return base == "dict" || base == "coll" || base == "trac" || base == "proc";
}

} // namespace

InputFile u_openInputFile(const char* base, std::string* opened) {
    const std::string code = db_type_code();
    const auto levels = control_file_levels(code);
    const std::string& home = env_vars.coll_home;
    const std::string& server = env_vars.serverid;
    for (size_t level = 0; level < levels.size(); ++level) {
        const std::string file = levels[level] + base + ".ctl";
        const std::string candidates[4] = {
            join_dir(home, join_dir(server, file)),
            join_dir(home, server.empty() ? file : server + "_" + file),
            join_dir(home, file),
            join_dir(env_vars.ctl_home, file),
        };
        for (const auto& path : candidates) {
            if (FILE* f = open_regular(path)) {
                PRINT('i', "uoi0025", "File %s opened\n", path.c_str());
                if (opened) *opened = path;
                return InputFile(f);
            }
            if (trace_all) PRINT('t', "uoi0030", "Could not open %s\n", path.c_str());
        }
        if (!silent_fallback(code, static_cast<int>(level), base))
            PRINT('e', "uoi0055", "Could not find a %s file\n", file.c_str());
    }
    return nullptr;
}

StatementReader::StatementReader(FILE* file, std::function<void(const std::string&)> echo,
                                 std::string name)
    : file_(file), echo_(std::move(echo)), name_(std::move(name)) {
    buffer_.reserve(kStatementBufferSize);
}

// Reads physical lines and builds the next statement. Lines may be of any
// length: a long line simply continues the statement. Only the statement
// itself is limited; a longer one is skipped up to its ";" and reported,
// so memory stays bounded whatever the file holds.
StatementReader::Result StatementReader::next() {
    buffer_.clear();
    pending_.clear();
    start_line_ = 0;
    bool overflow = false;
    size_t dropped = 0;
    auto refuse = [&] {
        set_source_line(start_line_);
        PRINT('e', "rdr0100",
              "Statement ending at line %d of %s is longer than %zu characters (%zu more); "
              "statement ignored\n",
              line_, name_.empty() ? "control file" : name_.c_str(), kMaxText, dropped);
        buffer_.clear();
        return Result::too_long;
    };

    for (;;) {
        int c = std::getc(file_);
        if (c == EOF) break;
        ++line_;

        if (c == ';') {  // a comment line: skip it whole
            while (c != EOF && c != '\n') c = std::getc(file_);
            if (c == EOF) break;
            continue;
        }

        std::string echo_text;
        const bool echo = trace_something && echo_;
        bool leading = true;
        bool ended = false;
        for (; c != EOF && c != '\n'; c = std::getc(file_)) {
            if (echo && echo_text.size() < 255) echo_text += static_cast<char>(c);
            if (ended) continue;  // text after the ";" is ignored
            if (leading && (c == ' ' || c == '\t')) continue;
            leading = false;
            if (start_line_ == 0 && c != ';' && c != '\r') start_line_ = line_;
            if (c == ';') {
                ended = true;
                continue;
            }
            if (c == '\r') {  // a DOS line end
                int n = std::getc(file_);
                if (n == '\n' || n == EOF) {
                    c = n;
                    break;
                }
                std::ungetc(n, file_);
            }
            if (overflow || buffer_.size() >= kMaxText) {
                overflow = true;
                ++dropped;
                continue;
            }
            buffer_ += static_cast<char>(c);
        }
        if (echo) echo_(echo_text + "\n");
        if (!ended) {
            // The line end counts as one blank; the statement goes on.
            if (!overflow && buffer_.size() < kMaxText) buffer_ += ' ';
            if (c == EOF) break;
            continue;
        }

        if (overflow) return refuse();
        if (buffer_.find_first_not_of(' ') == std::string::npos) {  // empty statement
            buffer_.clear();
            start_line_ = 0;
            continue;
        }
        buffer_.append(4, ' ');
        return Result::statement;
    }

    if (overflow) return refuse();
    if (buffer_.find_first_not_of(' ') != std::string::npos) pending_ = buffer_;
    buffer_.clear();
    return Result::end_of_file;
}

ReadEnd read_statements(FILE* file, const std::string& path, LineEcho echo, bool& failed,
                        const StatementHandler& handle) {
    StatementReader reader(
        file, [echo](const std::string& line) { PRINT(echo.level, echo.id, "%s", line.c_str()); },
        path);
    set_source_file(path);
    // Messages after the last statement (a missing "end", the parse
    // summary) belong to the file, not to a line of it.
    struct AtEnd {
        ~AtEnd() { set_source_line(0); }
    } at_end;
    for (;;) {
        const StatementReader::Result r = reader.next();
        // Text after the last ";" is no statement and is left alone.
        if (r == StatementReader::Result::end_of_file) return ReadEnd::end_of_file;
        if (r == StatementReader::Result::too_long) {  // reported by the reader
            failed = true;
            continue;
        }
        set_source_line(reader.start_line());
        StatementScan scan(reader.buffer());
        switch (handle(scan)) {
        case StatementFlow::next:
            break;
        case StatementFlow::stop:
            return ReadEnd::stopped;
        case StatementFlow::quit:
            return ReadEnd::quit;
        }
    }
}

ReadEnd read_control_file(const char* base, LineEcho echo, bool& failed,
                          const StatementHandler& handle) {
    std::string path;
    InputFile file = u_openInputFile(base, &path);
    if (!file) {
        failed = true;
        return ReadEnd::stopped;
    }
    return read_statements(file.get(), path, echo, failed, handle);
}

} // namespace qvx
