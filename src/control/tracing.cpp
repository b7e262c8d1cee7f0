// TRACE.CTL: statements that switch tracing on for named cursors.
//
//   trace    NAME1, NAME2;     trace switch
//   tracem   NAME;             math tracing
//   traced   NAME;             decode tracing
//   show_row NAME;  show_cursor NAME;
//   traceall;                  everything, every cursor
//   end;                       stop reading
//
// Keywords are written all lower-case or all upper-case. The file is
// optional; its errors are reported and never stop the collector.
#include "control/parse_support.h"
#include "control/tracing.h"

#include <string>
#include <string_view>

#include "control/cursor.h"
#include "control/reader.h"
#include "control/tokenizer.h"
#include "runtime/clock.h"
#include "runtime/messages.h"
#include "runtime/trace.h"

namespace qvx {

namespace {

// Longest name accepted after a keyword; longer ones are refused before
// any look-up.
constexpr size_t kMaxTraceName = 9;

// A keyword that names cursors: which switch it sets and its messages.
struct NamingKeyword {
    const char* word;  // lower-case form
    int16_t curs::*sw;
    const char* long_id;
    const char* long_text;
    const char* missing_id;
    const char* missing_text;
};

const NamingKeyword kNamingKeywords[] = {
    {"trace", &curs::trace, "ptc4645", "Trace cursor name too long : %s\n", "ptc4655",
     "Cursor to trace (%s) not found\n"},
    {"tracem", &curs::tracem, "ptc4670", "Tracem cursor name too long : %s\n", "ptc4680",
     "Cursor on which to trace math (%s) not found\n"},
    {"traced", &curs::traced, "ptc4685", "Traced cursor name too long : %s\n", "ptc4695",
     "Cursor on which to trace decodes (%s) not found\n"},
    {"show_row", &curs::show_row, "ptc4700", "Show_row cursor name too long : %s\n", "ptc4705",
     "Cursor on which to show_row (%s) not found\n"},
    {"show_cursor", &curs::show_cursor, "ptc4710", "Show_cursor cursor name too long : %s\n",
     "ptc4715", "Cursor on which to show_row (%s) not found\n"},
};

// Exact length, all lower-case or all upper-case.
bool keyword_is(std::string_view word, std::string_view lower) {
    if (word.size() != lower.size()) return false;
    bool all_lower = true;
    bool all_upper = true;
    for (size_t i = 0; i < word.size(); ++i) {
        const char l = lower[i];
        const char u = (l >= 'a' && l <= 'z') ? static_cast<char>(l - 'a' + 'A') : l;
        all_lower = all_lower && word[i] == l;
        all_upper = all_upper && word[i] == u;
    }
    return all_lower || all_upper;
}


class TraceParser {
public:
    // Reads statements until the end of the file, "end" or a fatal error;
    // true when no error was found.
    bool run(FILE* file, const std::string& path);

private:
    enum class Flow { next, stop };

    Flow statement(const std::string& buffer);
    // Next word of the statement: its length, 0 when none is left, -1
    // after a syntax error (reported).
    int next_word(Tokenizer& tok, int& pos, int end);
    Flow name_list(const NamingKeyword& k, Tokenizer& tok, int pos, int end);
    void trace_everything();

    bool errors_ = false;
};

int TraceParser::next_word(Tokenizer& tok, int& pos, int end) {
    const int n = tok.get_word(pos, end);
    if (n < 0) {
        PRINT('e', "ptc4635", "Parsing failed : %s\n", tok.message.c_str());
        errors_ = true;
        return -1;
    }
    pos = tok.next_pos();
    return n;
}

TraceParser::Flow TraceParser::name_list(const NamingKeyword& k, Tokenizer& tok, int pos,
                                         int end) {
    for (;;) {
        const int n = next_word(tok, pos, end);
        if (n < 0) return Flow::stop;
        if (n == 0) return Flow::next;
        if (tok.word.flags & WF_COMMA) continue;
        const std::string name(tok.word.view());
        if (name.size() > kMaxTraceName) {
            PRINT('e', k.long_id, k.long_text, name.c_str());
            errors_ = true;
            return Flow::next;  // the rest of this statement is dropped
        }
        curs* c = find_cursor(name);
        if (!c) {
            PRINT('e', k.missing_id, k.missing_text, name.c_str());
            errors_ = true;
            continue;
        }
        c->*k.sw = 1;
        trace_something = 1;
    }
}

void TraceParser::trace_everything() {
    for (auto& c : cur_anchor) {
        c->trace = 1;
        c->show_row = 1;
        c->show_cursor = 1;
    }
    trace_all = 1;
}

TraceParser::Flow TraceParser::statement(const std::string& buffer) {
    Tokenizer tok(buffer);
    tok.reset();
    int pos = 0;
    const int end = static_cast<int>(buffer.size());

    const int n = next_word(tok, pos, end);
    if (n < 0) return Flow::stop;
    if (n == 0) return Flow::next;
    const std::string keyword(tok.word.view());

    for (const auto& k : kNamingKeywords)
        if (keyword_is(keyword, k.word)) return name_list(k, tok, pos, end);
    if (keyword_is(keyword, "traceall") || keyword_is(keyword, "trace_all")) {
        trace_everything();
        return Flow::next;
    }
    if (keyword_is(keyword, "end")) return Flow::stop;

    PRINT('e', "ptc4640", "Unknown keyword (%s)\n", keyword.c_str());
    errors_ = true;
    return Flow::stop;
}

bool TraceParser::run(FILE* file, const std::string& path) {
    StatementReader reader(
        file, [](const std::string& line) { PRINT('t', "ptc4630", "%s", line.c_str()); }, path);
    for (;;) {
        const StatementReader::Result r = reader.next();
        // Text after the last ";" is no statement and is left alone.
        if (r == StatementReader::Result::end_of_file) break;
        if (r == StatementReader::Result::too_long) {  // reported by the reader
            errors_ = true;
            continue;
        }
        if (statement(reader.buffer()) == Flow::stop) break;
    }
    return !errors_;
}

} // namespace

int parse_trace() {
    std::string path;
    InputFile file = u_openInputFile("trac", &path);
    if (!file) return 0;

    dashes("ptc4615", 52);
    PRINT('i', "ptc4620", "-- Starting parse of TRACE.CTL --- Time = %s\n", form_time().c_str());
    dashes("ptc4625", 52);

    TraceParser parser;
    const bool ok = parser.run(file.get(), path);

    dashes("ptc4725", 46);
    PRINT('i', "ptc4740", "--  Trace Control Parsing ended at %s\n", form_time().c_str());
    dashes("ptc4735", 46);
    if (!ok) {
        PRINT('e', "ptc4755", "Trace Parsing ended with errors\n");
        return 1;
    }
    PRINT('i', "ptc4760", "Trace Parsing ended ok\n");
    return 0;
}

void reset_tracing() {
    for (auto& c : cur_anchor) {
        c->trace = 0;
        c->traced = 0;
        c->tracem = 0;
    }
    trace_all = 0;
    trace_something = 0;
    parse_trace();
}

} // namespace qvx
