// Control-file search and statement building, shared by every parser.
//
// Files are named by the database-type code, a base name and ".ctl"
// (zebdict.ctl) and searched in the collector home (per server id) and the
// control home. Statements end with ";", lines beginning with ";" are
// comments and a statement may span lines; a line end counts as one blank.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "control/tokenizer.h"

namespace qvx {

// Statement buffer size, including the four blanks appended to every
// statement.
constexpr size_t kStatementBufferSize = 16000;

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using InputFile = std::unique_ptr<FILE, FileCloser>;

// The search levels of a database-type code (level 0 the code itself,
// then the fallback codes).
std::vector<std::string> control_file_levels(const std::string& code);

// Searches and opens a control file by base name ("dict", "coll", "proc",
// "eval", "trac"); null when no level has it. path (optional) receives
// the name of the file that was opened.
InputFile u_openInputFile(const char* base, std::string* path = nullptr);

// Reads statements from an open control file.
class StatementReader {
public:
    enum class Result {
        statement,    // buffer() holds a statement followed by four blanks
        too_long,     // a statement did not fit the buffer; it was skipped
        end_of_file,  // nothing more; pending() tells about an unended statement
    };

    // echo is called with every non-comment line (at most 255 characters
    // of it, with a line end) when the trace switch is on; the parsers pass
    // their own message id. name is the file name used in messages.
    StatementReader(FILE* file, std::function<void(const std::string&)> echo,
                    std::string name = {});

    Result next();

    const std::string& buffer() const { return buffer_; }
    // Line number where the last statement (or the skipped one) ended.
    int line() const { return line_; }
    // Line number of its first word.
    int start_line() const { return start_line_; }
    // Text of a statement that was still open at the end of the file.
    const std::string& pending() const { return pending_; }

    // Statement text limit: the buffer less the four appended blanks.
    static constexpr size_t kMaxText = kStatementBufferSize - 4;

private:
    FILE* file_;
    std::function<void(const std::string&)> echo_;
    std::string name_;
    std::string buffer_;
    std::string pending_;
    int line_ = 0;
    int start_line_ = 0;
};

// What a parser answers for one statement: read on, stop reading (the end
// of the file is then not checked), or give up at once.
enum class StatementFlow { next, stop, quit };

// How reading a control file ended.
enum class ReadEnd {
    end_of_file,  // every statement was read
    stopped,      // a statement stopped the reading, or the file is missing
    quit,         // a statement gave up at once
};

// The message under which each line of a control file is echoed when
// tracing is on: its level letter and id.
struct LineEcho {
    char level;
    const char* id;
};

using StatementHandler = std::function<StatementFlow(StatementScan&)>;

// The statement loop of every control-file parser: hands each statement
// of the open file to handle, ready to be read word by word, until the end
// of the file or until handle stops. An over-long statement is reported,
// sets failed and is skipped; reading goes on after it. path names the
// file in messages.
ReadEnd read_statements(FILE* file, const std::string& path, LineEcho echo, bool& failed,
                        const StatementHandler& handle);

// Searches the control file by base name and reads it with
// read_statements. A missing file sets failed and counts as stopped.
ReadEnd read_control_file(const char* base, LineEcho echo, bool& failed,
                          const StatementHandler& handle);

} // namespace qvx
