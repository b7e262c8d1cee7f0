// Reading an interface definition. The statements are looked for in a
// fixed order, one per line; a line that is not the statement looked for
// is skipped:
//
//   [ uuidbase(...)          identifiers of the interface
//   uuidpavc(...)
//   uuidpcvc(...) ... (n)    n is the rpc version
//   INTERFACE name           the delivered table
//   OBJID(n)
//   SET(n)
//   COLUMN name, type        one per column: Int/Unsigned/Long, Float, Char
#include "control/interface_def.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "control/keyword_case.h"
#include "control/tokenizer.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr size_t kLineBytes = 300;

enum class Stage { base, pavc, pcvc, table, objid, set, columns };

enum class ColType { integer, floating, character };

struct InterfaceColumn {
    std::string name;
    ColType type;
};

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string_view skip_blanks(std::string_view text) {
    const size_t at = text.find_first_not_of(' ');
    return at == std::string_view::npos ? std::string_view{} : text.substr(at);
}

// The parenthesised value of a statement; false (reported by the
// parenthesis reader, or as empty) when there is none.
bool paren_value(std::string_view text, std::string& value, size_t longest = std::string::npos) {
    if (w_o_parens(text, value) <= 0) return false;
    if (value.size() > longest) value.resize(longest);
    return true;
}

constexpr size_t kLongestUuid = 36;

// The value name an (upper-cased) column is filled from.
std::string value_name(const std::string& column) {
    if (column == "SYSTEMNAME") return "%machine";
    if (column == "TIMESTAMP") return "%now_time";
    if (column == "SAMPLENO") return "%sampleno";
    if (column == "ROWNO") return "%rowno";
    return column;
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

// The lines of the file as read in pieces of at most 299 bytes.
bool read_piece(FILE* f, std::string& line) {
    char buf[kLineBytes];
    if (!std::fgets(buf, sizeof buf, f)) return false;
    line = buf;
    return true;
}

} // namespace

int parse_upa(std::string_view word, std::string& out, curs& c) {
    std::string file;
    for (char ch : word) {
        if (ch == ' ') break;
        if (ch != '!') file += ch;
    }
    file += ".UPA";
    std::unique_ptr<FILE, FileCloser> f(std::fopen(file.c_str(), "r"));
    if (!f) {
        PRINT('e', "cat1935", "Can NOT open %s\n", file.c_str());
        return 1;
    }

    Stage stage = Stage::base;
    std::string table;
    std::vector<InterfaceColumn> cols;
    std::string line;
    while (read_piece(f.get(), line)) {
        PRINT('i', "cat1940", "%s", line.c_str());
        std::string_view text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
        text = skip_blanks(text);

        switch (stage) {
        case Stage::base: {
            if (text.empty() || text[0] != '[') break;
            const std::string_view rest = skip_blanks(text.substr(1));
            if (!keyword_prefix_matches(rest, "uuidbase")) break;
            if (!paren_value(rest, c.uuidbase, kLongestUuid)) return 1;
            stage = Stage::pavc;
            break;
        }
        case Stage::pavc:
            if (!keyword_prefix_matches(text, "uuidpavc")) break;
            if (!paren_value(text, c.uuidpavc, kLongestUuid)) return 1;
            stage = Stage::pcvc;
            break;
        case Stage::pcvc: {
            if (!keyword_prefix_matches(text, "uuidpcvc")) break;
            if (!paren_value(text, c.uuidpcvc, kLongestUuid)) return 1;
            const size_t close = text.find(')');
            const size_t open = text.find('(', close);
            if (open == std::string_view::npos) {
                PRINT('e', "cat1940", "No rpc_version\n");
                return 1;
            }
            std::string version;
            if (!paren_value(text.substr(open), version)) {
                PRINT('e', "cat1945", "No rpc_version\n");
                return 1;
            }
            c.rpc_version = std::atoi(version.c_str());
            stage = Stage::table;
            break;
        }
        case Stage::table: {
            if (!keyword_prefix_matches(text, "interface ")) break;
            const std::string_view name = skip_blanks(text.substr(10));
            table.assign(name.substr(0, name.find(' ')));
            stage = Stage::objid;
            break;
        }
        case Stage::objid:
        case Stage::set: {
            const bool objid = stage == Stage::objid;
            if (!keyword_prefix_matches(text, objid ? "objid" : "set")) break;
            std::string number;
            if (!paren_value(text, number)) return 1;
            (objid ? c.objid : c.set) = std::atoi(number.c_str());
            stage = objid ? Stage::set : Stage::columns;
            break;
        }
        case Stage::columns: {
            if (!keyword_prefix_matches(text, "column ")) break;
            std::string_view rest = text.substr(7);
            const size_t from = rest.find_first_not_of(" (");
            if (from == std::string_view::npos) break;
            rest = rest.substr(from);
            const size_t end = rest.find_first_of(" ,");
            InterfaceColumn col{std::string(rest.substr(0, end)), ColType::character};
            rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
            const size_t type_at = rest.find_first_not_of(" ,");
            const char type = type_at == std::string_view::npos
                                  ? '\0'
                                  : static_cast<char>(std::toupper(static_cast<unsigned char>(rest[type_at])));
            switch (type) {
            case 'I': case 'U': case 'L': col.type = ColType::integer; break;
            case 'F': col.type = ColType::floating; break;
            case 'C': col.type = ColType::character; break;
            default:
                PRINT('e', "cat1950", "Unknown column type for %s\n", col.name.c_str());
                return 1;
            }
            cols.push_back(std::move(col));
            break;
        }
        }
    }
    f.reset();

    if (table.empty()) {
        PRINT('e', "cat1955", "Did not find DS table name\n");
        return 1;
    }
    if (cols.empty()) {
        PRINT('e', "cat1960", "Did not find DS column(s)\n");
        return 1;
    }

    table = upper(table);
    out = "INSERT INTO " + table + " (";
    for (size_t i = 0; i < cols.size(); ++i) out += upper(cols[i].name) + (i + 1 < cols.size() ? " , " : " ");
    out += ") VALUES (";
    for (size_t i = 0; i < cols.size(); ++i) {
        const char* prefix = cols[i].type == ColType::integer ? "INT!" : cols[i].type == ColType::floating ? "FLOAT!" : "";
        const std::string value = prefix + value_name(upper(cols[i].name));
        out += ":" + value + (i + 1 < cols.size() ? " , " : " ");
        if (add_column(value, c) != 0) return 1;
    }
    out += ") ";

    PRINT('i', "cat1970", "Deduced insert: %s\n", out.c_str());
    c.insert_col_count = static_cast<int16_t>(cols.size());
    c.table_name = table;
    if (c.host_table_name.empty()) c.host_table_name = table;
    if (c.trace) {
        PRINT('t', "cat1975", "Objid = %d, set = %d, rpc_version = %d\n", c.objid, c.set, c.rpc_version);
        if (!c.uuidbase.empty()) PRINT('t', "cat1980", "Uuidbase = %s\n", c.uuidbase.c_str());
        if (!c.uuidpavc.empty()) PRINT('t', "cat1985", "Uuidpavc = %s\n", c.uuidpavc.c_str());
        if (!c.uuidpcvc.empty()) PRINT('t', "cat1990", "Uuidpcvc = %s\n", c.uuidpcvc.c_str());
    }
    return 0;
}

} // namespace qvx
