// Where in the control files the collector is reading: the file and the
// line of the statement at hand. Messages of the parsers do not carry it;
// whoever needs a finding's place (the check of the control files) asks
// here while the message is written.
#pragma once

#include <string>

namespace qvx {

struct SourcePosition {
    std::string file;  // path of the control file, or the name looked for
    int line = 0;      // first line of the statement; 0 when no statement is at hand
};

const SourcePosition& source_position();

// A new file: its line is 0 until a statement is read.
void set_source_file(std::string file);
void set_source_line(int line);

// Puts the line back to what it was when the object goes; a check that
// belongs to an earlier statement (a cursor block's checks) points there
// while it runs.
class SourceLineScope {
public:
    explicit SourceLineScope(int line);
    ~SourceLineScope();
    SourceLineScope(const SourceLineScope&) = delete;
    SourceLineScope& operator=(const SourceLineScope&) = delete;

private:
    int saved_;
};

// Forgets the position (tests).
void reset_source_position();

} // namespace qvx
