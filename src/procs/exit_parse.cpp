// Parsing a fetch exit's output: message-form lines, the lines to skip and
// the rows to take, and the four parsing styles.
#include <cctype>
#include <cstring>

#include "procs/convert_data.h"
#include "procs/exit_result.h"
#include "runtime/messages.h"
#include "runtime/trace.h"

namespace qvx {

namespace {

constexpr int kCopyFlags = kConvPad | kConvNoRight;      // 5
constexpr int kWholeLineFlags = kConvNoRight | kConvTrim; // 20

bool upper_at(std::string_view s, size_t from, size_t n) {
    for (size_t i = from; i < from + n; ++i)
        if (!std::isupper(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

bool digits_at(std::string_view s, size_t from, size_t n) {
    for (size_t i = from; i < from + n; ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

bool level_at(std::string_view s, size_t at) {
    return std::strchr("EWIST", s[at]) != nullptr && s[at] != '\0' && s[at + 1] == ' ';
}

// Position of the level letter of a message-form line (7 or 8).
size_t message_level_at(std::string_view s) {
    if (s.size() <= 9 || !digits_at(s, 4, 3)) return 0;
    if (upper_at(s, 0, 3) && std::isdigit(static_cast<unsigned char>(s[3])) && level_at(s, 7)) return 7;
    if (upper_at(s, 0, 4) && digits_at(s, 4, 4) && level_at(s, 8)) return 8;
    return 0;
}

// Copies text into column i of the row being filled.
void put(ResultSet& rs, size_t i, std::string_view text, int flags) {
    const ResultColumn& col = rs.cols[i];
    char* dst = rs.last_row() + col.offset;
    // The terminator lands on the next column's first byte (or the row's
    // last), which the next value overwrites.
    const int n = convertData(col.length, dst, kConvChar, static_cast<int>(text.size()), text.data(), kConvChar,
                              flags);
    rs.last_len()[i] = n;
}

} // namespace

bool is_message_line(std::string_view line) { return message_level_at(line) != 0; }

int simpleParsing(const curs&, ResultSet& rs, std::string_view line) {
    size_t at = 0, filled = 0;
    while (filled < rs.cols.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == ',')) ++at;
        if (at >= line.size()) break;
        std::string_view word;
        if (line[at] == '\'' || line[at] == '"') {
            const size_t close = line.find(line[at], at + 1);
            const size_t end = close == std::string_view::npos ? line.size() : close;
            word = line.substr(at + 1, end - at - 1);
            at = end + 1;
        } else {
            size_t end = at;
            while (end < line.size() && line[end] != ' ' && line[end] != ',') ++end;
            word = line.substr(at, end - at);
            at = end;
        }
        put(rs, filled++, word, kCopyFlags);
    }
    return static_cast<int>(filled);
}

int syntaxParsing(const curs& c, ResultSet& rs, std::string_view line) {
    size_t at = 0, filled = 0;
    for (; filled < rs.cols.size() && at < line.size(); ++filled) {
        const ResultColumn& col = rs.cols[filled];
        const size_t width = static_cast<size_t>(col.type == kExitNumber ? col.alt_length : col.length);
        const std::string_view field = line.substr(at, width);
        at += width;
        if (col.type == kExitNumber && field.find_first_not_of("+-.0123456789 ") != std::string_view::npos)
            PRINT('w', "fxr4030", "Placing non-number into number for %s.%s. Value:%.20s.\n", c.cur_name.c_str(),
                  col.name.c_str(), std::string(field).c_str());
        put(rs, filled, field, kCopyFlags);
    }
    return static_cast<int>(filled);
}

int tabbedParsing(const curs&, ResultSet& rs, std::string_view line) {
    size_t at = 0, filled = 0;
    while (filled < rs.cols.size()) {
        const size_t tab = line.find('\t', at);
        const size_t end = tab == std::string_view::npos ? line.size() : tab;
        put(rs, filled++, line.substr(at, end - at), kCopyFlags);
        if (tab == std::string_view::npos) break;
        at = tab + 1;
    }
    return static_cast<int>(filled);
}

int cformatParsing(const curs&, ResultSet& rs, std::string_view line) {
    for (size_t i = 0; i < rs.cols.size(); ++i)
        put(rs, i, line.substr(0, static_cast<size_t>(rs.cols[i].length)), kWholeLineFlags);
    return static_cast<int>(rs.cols.size());
}

bool parse_exit_line(FetchExitWork& w, std::string_view line) {
    const curs& c = *w.cursor;
    if (line.size() >= 2 && line[0] == '-' && line[1] == '>') {
        line.remove_prefix(2);
    } else if (const size_t at = message_level_at(line); at != 0) {
        const std::string id(line.substr(0, at));
        const std::string text(line.substr(at + 2));
        PRINT(std::tolower(static_cast<unsigned char>(line[at])), id.c_str(), "%s\n", text.c_str());
        return true;
    }
    if (c.trace || debug_on(5))
        PRINT('t', "fxr4026", "Exit returned:\"%.200s\"\n", std::string(line).c_str());
    if (w.skip > 0) {
        --w.skip;
        return true;
    }
    ResultSet& rs = *w.result;
    rs.add_row();
    int filled = 0;
    switch (w.kind) {
    case 1: case 4: filled = syntaxParsing(c, rs, line); break;
    case 2: filled = simpleParsing(c, rs, line); break;
    case 3: filled = tabbedParsing(c, rs, line); break;
    case 5: filled = cformatParsing(c, rs, line); break;
    default: break;
    }
    if (filled == 0) {
        rs.drop_last_row();
        return true;
    }
    return !(w.taking_limited && --w.take <= 0);
}

int parseCmdResults(FetchExitWork& w, const std::vector<std::string>& lines) {
    for (const std::string& line : lines)
        if (!parse_exit_line(w, line)) break;
    const int rows = static_cast<int>(w.result->rows);
    if (debug_on(3)) PRINT('t', "fxr4028", "Exit returned %d rows\n", rows);
    return rows;
}

} // namespace qvx
