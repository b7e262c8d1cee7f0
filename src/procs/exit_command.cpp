// Building a fetch exit's command line and turning it into what is run.
#include "procs/exit_command.h"

#include <cctype>
#include <cstring>

#include "control/cursor_lists_clause.h"
#include "model/cursor_list.h"
#include "pipeline/column_ref.h"
#include "pipeline/percent_cursor.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "runtime/trace.h"

namespace qvx {

namespace {

constexpr size_t kMaxHostName = 49;
constexpr const char* kShellChars = ";|<>&";

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool host_name_char(char ch) {
    return std::isalnum(static_cast<unsigned char>(ch)) || std::strchr("._%$", ch) != nullptr;
}

// The name of a host variable at line[at] ("[" name "]"), or empty.
std::string host_name_at(const std::string& line, size_t at) {
    size_t end = at + 1;
    while (end < line.size() && host_name_char(line[end]) && end - at - 1 < kMaxHostName) ++end;
    if (end == at + 1 || end >= line.size() || line[end] != ']') return {};
    return line.substr(at + 1, end - at - 1);
}

bool has_column(curs& c, const std::string& name) {
    for (const columns& col : c.cols)
        if (col.name == name) return true;
    return false;
}

// A name find_col resolves: a column of the cursor, a percent variable or
// cursor.column; looked at first so that find_col reports nothing for an
// in-list name.
bool names_column(curs& c, const std::string& name) {
    if (has_column(c, name)) return true;
    if (!name.empty() && name[0] == '%') return find_pcnt_col(name) != nullptr;
    const size_t dot = name.find('.');
    if (dot == std::string::npos) return false;
    curs* other = find_cursor(std::string_view(name).substr(0, dot));
    return other && has_column(*other, name.substr(dot + 1));
}

const InList* in_list_named(const std::string& name) {
    const size_t dot = name.find('.');
    if (dot == std::string::npos) return nullptr;
    const curs* other = find_cursor(std::string_view(name).substr(0, dot));
    if (!other || !other->in_list) return nullptr;
    for (const InList& list : other->in_list->lists)
        if (list.name == std::string_view(name).substr(dot + 1)) return &list;
    return nullptr;
}

// The value of a column in its cursor's current row, trailing blanks and
// non-printing characters removed, at least one character kept.
std::string column_value(const curs& owner, const columns& col) {
    const row_data& row = *owner.current_row();
    const size_t at = static_cast<size_t>(std::max(col.buf_offset, 0));
    const size_t len = at < row.size ? std::min(static_cast<size_t>(std::max(col.length, 0)), row.size - at) : 0;
    std::string v(row.text() + at, len);
    while (v.size() > 1 && (v.back() == ' ' || !std::isprint(static_cast<unsigned char>(v.back())))) v.pop_back();
    return v;
}

// The values of an in-list text "( 'A' , 'B' )": without the parentheses,
// each without its blanks and apostrophes.
std::vector<std::string> list_items(std::string_view text) {
    auto trim = [](std::string_view s) {
        while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
        while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
        return s;
    };
    text = trim(text);
    if (text.size() >= 2 && text.front() == '(' && text.back() == ')') text = text.substr(1, text.size() - 2);
    std::vector<std::string> items;
    for (size_t at = 0; at <= text.size();) {
        const size_t comma = std::min(text.find(',', at), text.size());
        std::string_view item = trim(text.substr(at, comma - at));
        if (item.size() >= 2 && item.front() == '\'' && item.back() == '\'') item = item.substr(1, item.size() - 2);
        if (!item.empty()) items.emplace_back(item);
        at = comma + 1;
    }
    return items;
}

// Resolves one host variable into a piece; false after reporting.
bool resolve(curs& c, const std::string& name, const std::string& script, CommandPiece& piece) {
    if (names_column(c, name)) {
        columns* col = nullptr;
        curs* owner = nullptr;
        if (find_col(c, name, col, owner) != 0 || !col || !owner) return false;
        if (!owner->current_row()) {
            PRINT('e', "fxr4020", "No data in cursor (%s) for hv (%s) in script (%s)\n", owner->cur_name.c_str(),
                  name.c_str(), script.c_str());
            return false;
        }
        piece.kind = CommandPiece::value;
        piece.chars = column_value(*owner, *col);
        if (debug_on(6))
            PRINT('t', "fxr4022", "Host variable '%s' replaced with '%.*s'\n", name.c_str(),
                  static_cast<int>(piece.chars.size()), piece.chars.c_str());
        return true;
    }
    if (const InList* list = in_list_named(name)) {
        PRINT('t', "fxr4014", "Host variable '%s' is an inlist\n", name.c_str());
        piece.kind = CommandPiece::list;
        piece.chars = in_list_words(list->text);
        piece.items = list_items(list->text);
        return true;
    }
    PRINT('e', "fxr4015", "Script host variable (%s) not found in script %s\n", name.c_str(), script.c_str());
    return false;
}

} // namespace

std::string exit_program_name(const std::string& first_word) {
    std::string name = first_word;
    const std::string code = db_type_code();
    const std::string& version = env_vars.db_version;
    if (const size_t at = name.find("zep##sql"); at != std::string::npos && starts_with(code, "zep"))
        name.replace(at + 3, 2, starts_with(version, "11.") || starts_with(version, "12.") ? "12" : "15");
    if (const size_t at = name.find("###"); at != std::string::npos) {
        std::string put = code.substr(0, 3);
        if (code == "zeb") put = starts_with(version, "8") ? "zeg" : starts_with(version, "9") ? "zeh" : "zeb";
        name.replace(at, 3, put);
    }
    return name;
}

int formatCommand(curs& c, CommandLine& line) {
    line = CommandLine{};
    const std::string script = c.script.value_or("");
    const size_t blank = std::min(script.find(' '), script.size());
    line.program = exit_program_name(script.substr(0, blank));
    size_t at = script.find_first_not_of(' ', blank);
    if (at == std::string::npos) at = script.size();
    std::string literal;
    auto flush = [&] {
        if (literal.empty()) return;
        line.pieces.push_back({CommandPiece::text, literal, {}});
        literal.clear();
    };
    while (at < script.size()) {
        const std::string name = script[at] == '[' ? host_name_at(script, at) : std::string();
        if (name.empty()) {
            literal += script[at];
            line.parameters += script[at++];
            continue;
        }
        flush();
        CommandPiece piece;
        if (!resolve(c, name, script, piece)) return 1;
        line.parameters += piece.chars;
        line.pieces.push_back(std::move(piece));
        at += name.size() + 2;
    }
    flush();
    return 0;
}

std::string in_list_words(const std::string& text) {
    std::string t = text;
    const size_t open = t.find('('), close = t.rfind(')');
    if (open != std::string::npos && close != std::string::npos && close > open) t = t.substr(open + 1, close - open - 1);
    for (char& ch : t)
        if (ch == ',') ch = ' ';
    return t;
}

std::string shell_quoted(const std::string& text) {
    std::string q = "'";
    for (const char ch : text) {
        if (ch == '\'')
            q += "'\\''";
        else
            q += ch;
    }
    return q + "'";
}

bool CommandLine::needs_shell() const {
    if (program.find_first_of(kShellChars) != std::string::npos) return true;
    for (const CommandPiece& p : pieces)
        if (p.kind == CommandPiece::text && p.chars.find_first_of(kShellChars) != std::string::npos) return true;
    return false;
}

} // namespace qvx
