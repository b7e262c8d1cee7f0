// PRINT and u_msg: format the text, build the prefix the level and the
// options ask for, and hand the line to the output routine.
#include "runtime/messages.h"

#include "runtime/message_state.h"
#include "runtime/trace.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstring>

namespace qvx {
namespace {

using msgout::Route;
using msgout::Writer;

// Longest formatted text; anything beyond is cut off.
constexpr size_t kMaxText = 4000;
constexpr const char* kFormatFailed = " *** vsprintf error **** ";

// What a level character means for a line.
struct LevelRule {
    char letter = 0;      // letter written after the id
    bool prefix = true;   // false: no prefix at all
    bool time = true;     // time-of-day stamp
    bool flush = false;
    bool to_stderr = false;
    int debug_gate = -1;  // written only when this debug level is on
};

char upper(int c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// level is already upper-cased; '@' is handled by the callers.
LevelRule level_rule(char level) {
    LevelRule r;
    switch (level) {
    case '-':
    case 0:
        r.prefix = false;
        r.time = false;
        break;
    case 'A':
        r.letter = 'I';
        r.to_stderr = true;
        break;
    case 'E':
    case 'S':
        r.letter = level;
        r.flush = true;
        r.to_stderr = true;
        break;
    case 'H':
        r.letter = 'T';
        r.flush = true;
        r.debug_gate = 0;
        break;
    case 'I':
    case 'W':
        r.letter = level;
        break;
    case 'T':
        r.letter = 'T';
        r.flush = true;
        break;
    default:
        r.letter = level;
        r.to_stderr = true;
        break;
    }
    return r;
}

std::string format_text(const char* format, va_list ap) {
    if (!format) return kFormatFailed;
    char buf[kMaxText + 1];
    int n = std::vsnprintf(buf, sizeof buf, format, ap);
    if (n <= 0) return kFormatFailed;
    return std::string(buf, std::min(static_cast<size_t>(n), kMaxText));
}

enum class IdKind { none, dotted, plain };

// Null, empty or blank-led ids give no prefix; a "."-led id is written
// as it stands without the dot.
IdKind id_kind(const char* msgid) {
    if (!msgid || !*msgid || *msgid == ' ') return IdKind::none;
    return *msgid == '.' ? IdKind::dotted : IdKind::plain;
}

void upper_case(std::string& s) {
    for (auto& c : s) c = upper(c);
}

std::string time_stamp() { return "(" + msgout::local_time("%H%M%S") + ") "; }

// Base name of a source file without directories and extension.
std::string source_base(const char* sourcefile) {
    std::string name = sourcefile;
    if (auto slash = name.find_last_of('/'); slash != std::string::npos) name.erase(0, slash + 1);
    if (auto dot = name.find_last_of('.'); dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

void set_stdout_prefix(const char* msgid) { msgout::state().stdout_prefix = msgid ? msgid : ""; }

std::string make_print_prefix(const LevelRule& rule, const char* msgid) {
    if (!rule.prefix) return {};
    switch (id_kind(msgid)) {
    case IdKind::none:
        return {};
    case IdKind::dotted:
        return msgid + 1;
    case IdKind::plain:
        break;
    }
    std::string prefix = msgid;
    prefix += rule.letter;
    prefix += ' ';
    if (rule.time) prefix += time_stamp();
    upper_case(prefix);
    return prefix;
}

// Option letters of a u_msg type string.
struct MsgOptions {
    bool prefix = true;
    bool time = false;
    bool flush = false;
    bool to_stderr = false;
    bool position = true;
    bool upper = true;
    bool suppress = false;
};

void apply_options(const char* opts, MsgOptions& o) {
    for (; *opts; ++opts) {
        switch (*opts) {
        case 'h': o.prefix = true; break;
        case 'H': o.prefix = false; break;
        case 't': o.time = true; break;
        case 'T': o.time = false; break;
        case 'f': o.flush = true; break;
        case 'F': o.flush = false; break;
        case 'l': o.to_stderr = true; break;
        case 'L': o.to_stderr = false; break;
        case 'p': o.position = true; break;
        case 'P': o.position = false; break;
        case 'u': o.upper = false; break;
        case '-': o.suppress = true; break;
        default: break;
        }
    }
}

// The id part of an "X"-level line: the first nine characters of the id
// stand for id, letter and blank; trailing blanks among them fold into the
// one blank that follows.
std::string nine_characters(const char* msgid) {
    std::string id(msgid, strnlen(msgid, 9));
    while (!id.empty() && id.back() == ' ') id.pop_back();
    return id + ' ';
}

} // namespace

namespace msgout {

std::string print_line(int level, const char* msgid, const std::string& text) {
    return make_print_prefix(level_rule(upper(level)), msgid) + text;
}

} // namespace msgout

void set_message_tap(MessageTap tap) { msgout::state().tap = tap; }

int PRINT(int level, const char* msgid, const char* format, ...) {
    const char lv = upper(level);
    if (lv == '@') {
        set_stdout_prefix(msgid);
        return 0;
    }
    const LevelRule rule = level_rule(lv);
    if (rule.debug_gate >= 0 && !debug_on(rule.debug_gate)) return 1;

    va_list ap;
    va_start(ap, format);
    std::string text = format_text(format, ap);
    va_end(ap);

    if (const MessageTap tap = msgout::state().tap) {
        tap(rule.letter ? rule.letter : lv, msgid, text);
        return static_cast<int>(text.size());
    }
    const bool to_stderr = rule.to_stderr && (lv != 'A' || msgout::state().milestones_to_stderr);
    return msgout::write_line(Writer::print, make_print_prefix(rule, msgid) + text, Route{rule.flush, to_stderr});
}

int u_msg(const char* program, const char* sourcefile, int line, const char* type,
          const char* msgid, const char* format, ...) {
    const char* t = (type && *type) ? type : "T";
    char lv = upper(*t++);
    if (lv == '@') {
        set_stdout_prefix(msgid);
        return 0;
    }

    // "H<n>": only when debug level n is on.
    int gate_override = -1;
    if (lv == 'H' && std::isdigit(static_cast<unsigned char>(*t))) {
        gate_override = 0;
        for (; std::isdigit(static_cast<unsigned char>(*t)); ++t)
            gate_override = std::min(gate_override * 10 + (*t - '0'), 1000);
    }
    // "X": the letter is the eighth character of the id.
    const bool nine = lv == 'X';
    if (nine) {
        lv = (msgid && strnlen(msgid, 8) == 8) ? upper(msgid[7]) : 'T';
        if (lv == '@' || lv == 'X') lv = 'T';
    }

    LevelRule rule = level_rule(lv);
    if (gate_override >= 0) rule.debug_gate = gate_override;

    MsgOptions o;
    o.time = rule.time;
    o.flush = rule.flush;
    o.to_stderr = rule.to_stderr;
    apply_options(t, o);
    if (o.suppress) return 1;
    if (rule.debug_gate >= 0 && !debug_on(rule.debug_gate)) return 1;

    va_list ap;
    va_start(ap, format);
    std::string text = format_text(format, ap);
    va_end(ap);
    if (text.back() != '\n') text += '\n';
    if (const MessageTap tap = msgout::state().tap) {
        tap(rule.letter ? rule.letter : lv, msgid, text);
        return static_cast<int>(text.size());
    }

    std::string prefix;
    const IdKind kind = id_kind(msgid);
    if (rule.prefix && o.prefix && kind == IdKind::dotted) {
        prefix = msgid + 1;
    } else if (rule.prefix && o.prefix && kind == IdKind::plain) {
        if (nine) {
            prefix = nine_characters(msgid);
        } else {
            prefix = msgid;
            prefix += rule.letter;
            prefix += ' ';
        }
        if (o.time) prefix += time_stamp();
        if (o.position && sourcefile && *sourcefile)
            prefix += source_base(sourcefile) + "(" + std::to_string(line) + ") ";
        if (o.upper) upper_case(prefix);
    }
    // One collector per process: the program name only helps when asked for.
    if (program && *program && debug_on(6)) {
        prefix += program;
        prefix += ' ';
    }

    return msgout::write_line(Writer::umsg, prefix + text, Route{o.flush, o.to_stderr});
}

} // namespace qvx
