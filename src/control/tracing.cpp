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
#include "control/keyword_case.h"
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

// What a keyword does.
enum class Action {
    name_cursors,  // sets its switch on the cursors named after it
    everything,    // traces everything, every cursor
    end,           // stops the reading
};

// A keyword, lower-case form; one that names cursors carries the switch
// it sets and its messages.
struct TraceKeyword {
    const char* word;
    Action action;
    int16_t curs::*sw = nullptr;
    const char* long_id = nullptr;
    const char* long_text = nullptr;
    const char* missing_id = nullptr;
    const char* missing_text = nullptr;
};

const TraceKeyword kKeywords[] = {
    {"trace", Action::name_cursors, &curs::trace, "ptc4645", "Trace cursor name too long : %s\n",
     "ptc4655", "Cursor to trace (%s) not found\n"},
    {"tracem", Action::name_cursors, &curs::tracem, "ptc4670", "Tracem cursor name too long : %s\n",
     "ptc4680", "Cursor on which to trace math (%s) not found\n"},
    {"traced", Action::name_cursors, &curs::traced, "ptc4685", "Traced cursor name too long : %s\n",
     "ptc4695", "Cursor on which to trace decodes (%s) not found\n"},
    {"show_row", Action::name_cursors, &curs::show_row, "ptc4700",
     "Show_row cursor name too long : %s\n", "ptc4705", "Cursor on which to show_row (%s) not found\n"},
    {"show_cursor", Action::name_cursors, &curs::show_cursor, "ptc4710",
     "Show_cursor cursor name too long : %s\n", "ptc4715",
     "Cursor on which to show_row (%s) not found\n"},
    {"traceall", Action::everything},
    {"trace_all", Action::everything},
    {"end", Action::end},
};

class TraceParser {
public:
    // Reads statements until the end of the file, "end" or a fatal error;
    // true when no error was found.
    bool run(FILE* file, const std::string& path);

private:
    using Flow = StatementFlow;

    Flow statement(StatementScan& scan);
    // Next word of the statement: its length, 0 when none is left, -1
    // after a syntax error (reported).
    int next_word(StatementScan& scan);
    Flow name_list(const TraceKeyword& k, StatementScan& scan);
    void trace_everything();

    bool errors_ = false;
};

int TraceParser::next_word(StatementScan& scan) {
    const int n = scan.next_word();
    if (n < 0) {
        PRINT('e', "ptc4635", "Parsing failed : %s\n", scan.tok.message.c_str());
        errors_ = true;
    }
    return n;
}

TraceParser::Flow TraceParser::name_list(const TraceKeyword& k, StatementScan& scan) {
    for (;;) {
        const int n = next_word(scan);
        if (n < 0) return Flow::stop;
        if (n == 0) return Flow::next;
        if (scan.tok.word.flags & WF_COMMA) continue;
        const std::string name(scan.tok.word.view());
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

TraceParser::Flow TraceParser::statement(StatementScan& scan) {
    const int n = next_word(scan);
    if (n < 0) return Flow::stop;
    if (n == 0) return Flow::next;
    const std::string keyword(scan.tok.word.view());

    const TraceKeyword* k = match_keyword(kKeywords, keyword);
    if (!k) {
        PRINT('e', "ptc4640", "Unknown keyword (%s)\n", keyword.c_str());
        errors_ = true;
        return Flow::stop;
    }
    switch (k->action) {
    case Action::name_cursors:
        return name_list(*k, scan);
    case Action::everything:
        trace_everything();
        return Flow::next;
    case Action::end:
        break;
    }
    return Flow::stop;
}

bool TraceParser::run(FILE* file, const std::string& path) {
    read_statements(file, path, {'t', "ptc4630"}, errors_,
                    [this](StatementScan& scan) { return statement(scan); });
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
