// COLLECT.CTL: the cursor blocks.
//
//   cursor CPU1;
//   insert INTO sys.cpu (NAME, BUSY) VALUES (:NAME, :AVG!BUSY);
//   insert_where busy > 0;
//   interval 60;
//   mon_fri_start 0800;
//   mon_fri_end 1800;
//   cursor ...
//   end;
//
// Every statement begins with a keyword (any case). Every host variable
// of every statement declares a column of the open cursor. Errors in a
// keyword's argument mark the file as failed and reading goes on, so one
// run reports as many of them as it can; errors that leave the file's
// shape in doubt (an unknown keyword, a syntax error, unbalanced
// parentheses, a bad cursor name, a block that fails its checks) stop the
// reading. Either way the result is 1.
#include <memory>
#include <string>
#include <string_view>
#include <bitset>
#include <unordered_map>
#include <vector>

#include "control/base_clause.h"
#include "control/column_exit_clause.h"
#include "control/cursor_lists_clause.h"
#include "control/decode_clause.h"
#include "control/load_clause.h"
#include "control/math_clause.h"
#include "control/unapplied_clauses.h"
#include "control/parse_support.h"
#include "control/cursor_parse.h"
#include "control/reader.h"
#include "control/source_position.h"
#include "control/tokenizer.h"
#include "control/versions.h"
#include "runtime/clock.h"
#include "runtime/messages.h"
#include "runtime/run_requests.h"
#include "runtime/window.h"
#include "control/distributor.h"
#include "runtime/trace.h"

namespace qvx {

namespace {

using namespace coll;

constexpr size_t kMaxKeyword = 59;
constexpr size_t kMaxCursorName = 8;

// How a keyword takes its argument.
enum class Arg {
    none,   // a switch: words after it are ignored
    words,  // each word on its own (word_argument)
    rest,   // the rest of the statement as one text
    other,  // read by its own handler
};

struct Keyword {
    std::string_view name;
    int code;
    Arg arg;
};

constexpr Keyword kKeywords[] = {
    {"cursor", kCursor, Arg::other},
    {"end", kEnd, Arg::other},
    {"insert", kInsert, Arg::other},
    {"insert_select", kInsertSelect, Arg::rest},
    {"insert_where", kInsertWhere, Arg::rest},
    {"table_name", kTableName, Arg::words},
    {"saturday_start", kSatStart, Arg::words},
    {"saturday_end", kSatEnd, Arg::words},
    {"sunday_start", kSunStart, Arg::words},
    {"sunday_end", kSunEnd, Arg::words},
    {"mon_fri_start", kMonStart, Arg::words},
    {"mon_fri_end", kMonEnd, Arg::words},
    {"interval", kInterval, Arg::words},
    {"limit", kLimit, Arg::words},
    {"time", kTime, Arg::words},
    {"class", kClass, Arg::words},
    {"stale", kStale, Arg::words},
    {"go_home", kGoHome, Arg::words},
    {"objid", kObjid, Arg::words},
    {"set", kSet, Arg::words},
    {"uuidbase", kUuidbase, Arg::words},
    {"uuidpavc", kUuidpavc, Arg::words},
    {"uuidpcvc", kUuidpcvc, Arg::words},
    {"rpc_version", kRpcVersion, Arg::words},
    {"samples", kSamples, Arg::words},
    {"start_after", kStartAfter, Arg::words},
    {"stop_after", kStopAfter, Arg::words},
    {"age_to", kAgeTo, Arg::words},
    {"history", kHistory, Arg::none},
    {"hold", kHold, Arg::none},
    {"demand", kDemand, Arg::none},
    {"virtual", kVirtual, Arg::none},
    {"empty", kEmpty, Arg::none},
    {"once", kOnce, Arg::none},
    {"no_sql", kNoSql, Arg::none},
    {"dummy_last_row", kDummyLastRow, Arg::none},
    {"conditional_dummy_last_row", kConditionalDummyLastRow, Arg::none},
    {"show_cursor", kShowCursor, Arg::none},
    {"show_row", kShowRow, Arg::none},
    {"trace", kTrace, Arg::none},
    {"traced", kTraced, Arg::none},
    {"tracem", kTracem, Arg::none},
    {"trace_all", kTraceAll, Arg::none},
    {"load", kLoad, Arg::rest},
    {"pre_cursor", kPreCursor, Arg::rest},
    {"iterate", kIterate, Arg::rest},
    {"in_list", kInList, Arg::rest},
    {"base", kBase, Arg::rest},
    {"iterate_where", kIterateWhere, Arg::rest},
    {"math", kMath, Arg::rest},
    {"decode", kDecode, Arg::rest},
    {"column_exit", kColumnExit, Arg::rest},
    {"set_len", kSetLen, Arg::rest},
    {"fetch_exit", kFetchExit, Arg::words},
    {"script", kScript, Arg::rest},
    {"if", kIf, Arg::other},
    {"else", kElse, Arg::other},
    {"endif", kEndif, Arg::other},
};

const std::unordered_map<std::string_view, const Keyword*>& keyword_index() {
    static const auto index = [] {
        std::unordered_map<std::string_view, const Keyword*> m;
        for (const Keyword& k : kKeywords) m.emplace(k.name, &k);
        return m;
    }();
    return index;
}

const Keyword* find_keyword(std::string_view word) {
    if (word.empty() || word.size() > kMaxKeyword) return nullptr;
    char lower[kMaxKeyword];
    for (size_t i = 0; i < word.size(); ++i) {
        const char c = word[i];
        lower[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    auto it = keyword_index().find(std::string_view(lower, word.size()));
    return it == keyword_index().end() ? nullptr : it->second;
}

std::string_view trim(std::string_view s) {
    const size_t a = s.find_first_not_of(' ');
    if (a == std::string_view::npos) return {};
    return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

// The blank-separated words of a text. Argument words are taken as
// written, so values that the scanner would split ("a1b2-c3d4" of a uuid,
// "sys.v$x") stay whole.
std::vector<std::string_view> blank_words(std::string_view s) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < s.size()) {
        if (s[i] == ' ') {
            ++i;
            continue;
        }
        const size_t end = std::min(s.find(' ', i), s.size());
        out.push_back(s.substr(i, end - i));
        i = end;
    }
    return out;
}


class CollectParser {
public:
    int run();

private:
    using Flow = StatementFlow;  // quit: return 1 at once

    Flow statement(StatementScan& scan);
    Flow keyword(const Keyword& k, std::string_view whole, std::string_view rest,
                 const std::vector<Word>& words);
    void rest_clause(int code, std::string_view rest);
    void fetch_exit(std::string_view rest);
    Flow close_block();
    Flow open_block(std::string_view rest);
    void add_host_variables(const std::vector<Word>& words);
    void version_clause(int code, std::string_view rest);
    bool check_versions(curs& c);

    std::unique_ptr<curs> cur_;
    curs* rec_ = nullptr;  // the record receiving clauses: the cursor or one of its branches
    // What each record of the block has seen, while branches are open.
    std::unordered_map<const curs*, std::bitset<kCodeLimit>> seen_of_;
    BlockState block_;
    bool failed_ = false;  // the file has errors
    bool end_seen_ = false;
    bool first_ = true;
};

void CollectParser::add_host_variables(const std::vector<Word>& words) {
    if (!rec_) return;
    for (const Word& w : words)
        if ((w.flags & WF_HOSTVAR) && add_column(w.text, *rec_) != 0) failed_ = true;
}

CollectParser::Flow CollectParser::statement(StatementScan& scan) {
    const std::string& buf = scan.text();
    const Tokenizer& tok = scan.tok;
    std::vector<Word> words;
    for (;;) {
        const int before = scan.pos;
        const int n = scan.next_word();
        if (n < 0) {
            PRINT('e', words.empty() ? "pcc0310" : "pcc0460", "Parsing failed : %s\n",
                  tok.message.c_str());
            failed_ = true;
            return Flow::stop;
        }
        if (n == 0 || scan.pos <= before) break;
        words.push_back(Word{tok.word.view(), tok.word.position, tok.word.flags});
    }
    if (words.empty()) return Flow::next;

    const std::string_view key = words[0].text;
    const Keyword* k = find_keyword(key);
    if (first_) {
        first_ = false;
        if (!k || k->code != kCursor) {
            PRINT('e', k ? "pcc0325" : "pcc0320", "First word must be 'cursor'\n");
            failed_ = true;
            return Flow::stop;
        }
    }
    if (!k) {
        PRINT('e', "pcc0315", "Unknown keyword (%.*s)\n", static_cast<int>(key.size()), key.data());
        failed_ = true;
        return Flow::stop;
    }

    const std::string_view whole = trim(buf);
    const size_t after_key = static_cast<size_t>(words[0].position) + key.size();
    const std::string_view rest = trim(std::string_view(buf).substr(after_key));
    // The host variables of a "cursor" statement belong to the block it opens.
    if (k->code != kCursor) add_host_variables(words);
    const Flow f = keyword(*k, whole, rest, words);
    if (f == Flow::quit) return f;
    if (f == Flow::next && k->code == kCursor) add_host_variables(words);
    if (tok.parens != 0) {
        PRINT('e', "pcc0725", "Parentheses do not balance\n");
        failed_ = true;
        return Flow::stop;
    }
    return f;
}

CollectParser::Flow CollectParser::keyword(const Keyword& k, std::string_view whole,
                                           std::string_view rest, const std::vector<Word>& words) {
    if (k.code == kCursor) return open_block(rest);
    if (k.code == kEnd) {
        end_seen_ = true;
        close_block();
        return Flow::stop;
    }
    if (!rec_) return Flow::stop;  // no block to work on
    if (k.code == kIf || k.code == kElse || k.code == kEndif) {
        version_clause(k.code, rest);
        return Flow::next;
    }
    curs& c = *rec_;

    if ((k.arg == Arg::words || k.arg == Arg::rest) && rest.empty()) {
        PRINT('e', "pcc0508", "Missing value for %.*s\n", static_cast<int>(k.name.size()),
              k.name.data());
        failed_ = true;
        return Flow::next;
    }
    if (k.code == kFetchExit) {
        fetch_exit(rest);
        return Flow::next;
    }
    switch (k.arg) {
    case Arg::words:
        for (std::string_view w : blank_words(rest))
            if (!word_argument(k.code, w, c, block_)) failed_ = true;
        return Flow::next;
    case Arg::rest:
        rest_clause(k.code, rest);
        return Flow::next;
    case Arg::none:
    case Arg::other:
        break;
    }

    switch (k.code) {
    case kInsert:
        if (!insert_statement(c, whole, words)) failed_ = true;
        break;
    case kHistory: c.history = 1; break;
    case kHold: c.held = 'Y'; break;
    case kDemand: c.demand = 1; break;
    case kVirtual: c.virtual_cur = 1; break;
    case kEmpty: c.empty = 1; break;
    case kOnce: c.once = 1; break;
    case kNoSql: c.no_sql = 1; break;
    case kDummyLastRow: c.dummy_last_row = 1; break;
    case kConditionalDummyLastRow: c.conditional_dummy_last_row = 1; break;
    case kShowCursor: c.show_cursor = 1; break;
    case kShowRow: c.show_row = 1; break;
    case kTrace: c.trace = trace_something = 1; break;
    case kTraced: c.traced = trace_something = 1; break;
    case kTracem: c.tracem = trace_something = 1; break;
    case kTraceAll: trace_all = trace_something = 1; break;
    default:
        PRINT('e', "pcc0505", "Collector Parsing error\n");
        failed_ = true;
        break;
    }
    return Flow::next;
}

void CollectParser::rest_clause(int code, std::string_view rest) {
    curs& c = *rec_;
    const std::string text(rest);
    switch (code) {
    case kInsertSelect:
        if (c.raw_insert_select) {
            PRINT('e', "pcc0500", "Duplicate insert_select entry\n");
            failed_ = true;
        } else {
            c.raw_insert_select = text;
            c.bracket = text.find('[') != std::string::npos ? 1 : 0;
        }
        break;
    case kInsertWhere:
        if (c.insert_where) {
            PRINT('e', "pcc0495", "Duplicate insert_where entry\n");
            failed_ = true;
        } else {
            c.insert_where = text;
        }
        break;
    case kScript:
        if (c.script) {
            PRINT('e', "pcc0490", "Duplicate script entry\n");
            failed_ = true;
        } else {
            c.script = text;
        }
        break;
    case kLoad: c.load_list.ensure().texts.push_back(text); break;
    case kPreCursor:
        if (parse_pre_cursor(c, text) != 0) failed_ = true;
        break;
    case kIterate:
        if (parse_iterate(c, text) != 0) failed_ = true;
        break;
    case kInList:
        if (parse_in_list(c, text) != 0) failed_ = true;
        break;
    case kBase:
        if (parse_base(c, text) != 0) failed_ = true;
        break;
    case kIterateWhere:
        if (parse_iterate_where(c, text) != 0) failed_ = true;
        break;
    case kMath:
        if (parse_math(c, rest) != 0) failed_ = true;
        break;
    case kDecode:
        if (parse_decode(c, text) != 0) failed_ = true;
        break;
    case kColumnExit:
        if (parse_col_ex(c, text) != 0) failed_ = true;
        break;
    case kSetLen:
        if (parse_set_len(c, text) != 0) failed_ = true;
        break;
    default: break;
    }
}

void CollectParser::fetch_exit(std::string_view rest) {
    if (block_.seen[kFetchExit]) {
        PRINT('e', "pcc0480", "Duplicate fetch_exit entry\n");
        failed_ = true;
        return;
    }
    block_.seen.set(kFetchExit);
    const auto words = blank_words(rest);
    auto chosen = match_fetch_exit(words[0], words.size() > 1 ? words[1] : std::string_view{});
    if (!chosen) {
        PRINT('e', "pcc0485", "Fetch exit routine not known\n");
        failed_ = true;
        return;
    }
    rec_->fetch_exit = std::move(chosen);
}

void CollectParser::version_clause(int code, std::string_view rest) {
    curs* const before = rec_;
    int rc = 0;
    if (code == kIf) {
        const std::string condition(rest);
        const char* pos = condition.c_str();
        rc = parse_if(rec_, pos);
    } else if (code == kElse) {
        rc = parse_else(rec_);
    } else {
        rc = parse_endif(rec_);
    }
    if (rc != 0) failed_ = true;
    if (rec_ == before) return;
    // A new branch starts from what the record it copies had seen.
    seen_of_[before] = block_.seen;
    const curs* from = rec_->parent_if && code == kElse ? rec_->parent_if->parent_curs : before;
    const auto known = seen_of_.find(rec_);
    block_.seen = known != seen_of_.end() ? known->second : seen_of_[from];
}

// The block checks and the SELECT text of every version.
bool CollectParser::check_versions(curs& c) {
    const std::vector<curs*> versions = cursor_versions(c);
    bool good = true;
    for (curs* v : versions)
        if (edit_cursor_block(*v) != 0) good = false;
    if (good && c.vers_root && c.virtual_cur) {
        PRINT('e', "pcc0443", "A virtual cursor (%s) can't be conditional\n", c.cur_name.c_str());
        good = false;
    }
    if (!good) return false;
    for (curs* v : versions)
        if (set_selects(*v) != 0) good = false;
    return good;
}

CollectParser::Flow CollectParser::close_block() {
    if (!cur_) return Flow::next;
    const SourceLineScope at(cur_->def_line);  // the block's checks belong to its first line
    unpaired_windows(*cur_, block_);
    // The versions' checks and SELECT texts decide whether the cursor
    // joins the list.
    const bool built = edit_curs_version_set(*rec_) == 0;
    rec_ = nullptr;
    seen_of_.clear();
    if (!built || !check_versions(*cur_)) {
        failed_ = true;
        cur_.reset();
        return Flow::stop;
    }
    for (curs* v : cursor_versions(*cur_)) report_unapplied_clauses(*v);
    add_cursor(std::move(cur_));
    block_ = BlockState{};
    return Flow::next;
}

CollectParser::Flow CollectParser::open_block(std::string_view rest) {
    if (close_block() != Flow::next) return Flow::stop;
    cur_ = std::make_unique<curs>();
    rec_ = cur_.get();
    reset_version_parse();
    cur_->def_line = source_position().line;
    block_ = BlockState{};
    const std::string_view name = rest.substr(0, rest.find(' '));
    if (name.empty()) {
        PRINT('e', "pcc0445", "No Cursor name supplied\n");
        failed_ = true;
        return Flow::stop;
    }
    if (name.size() > kMaxCursorName) {
        PRINT('e', "pcc0450", "Cursor name exceeeds 8 characters\n");
        failed_ = true;
        return Flow::stop;
    }
    if (find_cursor(name)) {
        PRINT('e', "pcc0455", "Duplicate cursor name %.*s\n", static_cast<int>(name.size()),
              name.data());
        return Flow::quit;
    }
    cur_->cur_name.assign(name);
    return Flow::next;
}

int CollectParser::run() {
    // When no output file could be opened at start-up, try once more; a
    // failure leaves the output on the standard streams.
    if (!print_file_open()) u_openPRINTfile(nullptr);
    delete_cursors();

    dashes("pcc0275", 51);
    PRINT('i', "pcc0280", "-- Starting parse of COLLECT.CTL -- Time = %s\n", form_time().c_str());
    dashes("pcc0285", 51);

    const ReadEnd how = read_control_file("coll", {'i', "pcc0305"}, failed_,
                                          [this](StatementScan& scan) { return statement(scan); });
    if (how == ReadEnd::quit) return 1;
    const bool stopped = how == ReadEnd::stopped;
    if (!stopped && !end_seen_) {
        PRINT('e', "pcc0730", "Missing end statement\n");
        failed_ = true;
    }

    dashes("pcc0735", 42);
    PRINT('i', "pcc0740", "--  Collector Parsing ended at %s\n", form_time().c_str());
    dashes("pcc0745", 42);

    if (trace_all)
        for (auto& c : cur_anchor)
            for (curs* v : cursor_versions(*c)) v->trace = 1;
    if (failed_) {
        PRINT('e', "pcc0755", "Parsing ended with errors\n");
        return 1;
    }
    const long now = now_relative();
    for (auto& c : cur_anchor) {
        for (curs* v : cursor_versions(*c)) v->collector = collector_at;
        set_window_c(*c, now);
    }
    return 0;
}

} // namespace

int test_word(const char* word, size_t length) {
    if (!word) return 0;
    const Keyword* k = find_keyword(std::string_view(word, length));
    return k ? k->code : 0;
}

int parse_curs() {
    CollectParser parser;
    return parser.run();
}

} // namespace qvx
