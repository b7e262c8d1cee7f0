// The model INSERT of a cursor block:
//
//   insert INTO owner.table (COL_A, COL_B) VALUES (:A, :AVG!B);
//
// It names the table the rows are delivered as and the column names of
// the delivered rows; its host variables declare the cursor's columns.
// The stored statement is compacted: the VALUES list becomes "(?,?)".
#include <algorithm>
#include <climits>
#include <string>

#include "control/cursor_parse.h"
#include "control/interface_def.h"
#include "control/tokenizer.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr size_t kMaxColumnName = 49;

// A table name must be longer than 2 characters and may not begin or end
// with ".".
bool table_name_ok(std::string_view name) {
    if (name.size() <= 2) {
        PRINT('e', "pcc0715", "Invalid table name format\n");
        return false;
    }
    if (name.front() == '.' || name.back() == '.') {
        PRINT('e', "pcc0720", "Invalid table name format\n");
        return false;
    }
    return true;
}

// An interface definition: "INSERT" in upper case, then "!" after blanks.
bool is_interface_definition(std::string_view text) {
    const size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos || text.substr(start, 7) != "INSERT ") return false;
    const size_t next = text.find_first_not_of(' ', start + 7);
    return next != std::string_view::npos && text[next] == '!';
}

} // namespace

int compact_insert(curs& c, size_t length) {
    if (!c.insert) return 1;
    std::string& s = *c.insert;
    length = std::min(length, s.size());
    if (c.hv_count == 0) {
        PRINT('w', "cev1820", "No host variables in INSERT\n");
        return 1;
    }

    // The VALUES list: the "(" matching the last ")".
    const size_t close = length == 0 ? std::string::npos : s.rfind(')', length - 1);
    size_t open = std::string::npos;
    if (close != std::string::npos) {
        int depth = 0;
        for (size_t i = close + 1; i-- > 0;) {
            if (s[i] == ')') ++depth;
            else if (s[i] == '(' && --depth == 0) {
                open = i;
                break;
            }
        }
    }
    if (open == std::string::npos) {
        PRINT('w', "cev1825", "Insert parentheses dont match-up\n");
        return 1;
    }
    std::string marks = "(";
    for (int i = 0; i < c.hv_count; ++i) marks += "?,";
    marks.back() = ')';
    s.replace(open, close - open + 1, marks);

    // The column-name list: the first parenthesised list.
    const size_t first = s.find('(');
    const size_t last = s.find(')', first);
    c.insert_col_names.clear();
    int rc = 0;
    size_t i = first + 1;
    while (i < last) {
        if (s[i] == ' ' || s[i] == ',') {
            ++i;
            continue;
        }
        const size_t end = std::min(s.find_first_of(" ,)", i), last);
        std::string_view name(s.data() + i, end - i);
        if (name.size() > kMaxColumnName) {
            PRINT('e', "pcc0507", "Insert column name longer than 49 characters: %.*s\n",
                  static_cast<int>(name.size()), name.data());
            rc = 1;
        } else {
            c.insert_col_names.emplace_back(name);
        }
        i = end;
    }
    c.insert_col_count = static_cast<int16_t>(std::min<size_t>(c.insert_col_names.size(), INT16_MAX));
    if (rc == 0 && c.insert_col_count != c.hv_count) {
        PRINT('e', "pcc0470", "On INSERT, num of cols (%d) is not num HVs (%d)\n", c.insert_col_count,
              c.hv_count);
        for (size_t n = 0; n < c.insert_col_names.size(); ++n)
            PRINT('i', "pcc0475", "Col #%d = %s\n", static_cast<int>(n), c.insert_col_names[n].c_str());
        rc = 1;
    }
    return rc;
}

namespace coll {

bool insert_statement(curs& c, std::string_view text, const std::vector<Word>& words) {
    if (c.insert) {
        PRINT('e', "pcc0465", "Duplicate INSERT entry\n");
        return false;
    }
    if (is_interface_definition(text)) {
        // The statement and the columns come from the interface definition.
        std::string deduced;
        if (parse_upa(text.substr(text.find('!')), deduced, c) != 0) return false;
        c.insert.emplace(std::move(deduced));
        return compact_insert(c, c.insert->size()) == 0;
    }
    c.insert.emplace(text);

    bool ok = true;
    bool first_name = true;
    for (size_t n = 0; n < words.size(); ++n) {
        const Word& w = words[n];
        const bool dotted = (w.flags & WF_DOT) && !(w.flags & WF_HOSTVAR);
        if (n != 2 && !dotted) continue;
        if (!table_name_ok(w.text)) {
            ok = false;
            continue;
        }
        c.host_table_name.assign(w.text);
        if (first_name && c.table_name.empty()) c.table_name.assign(w.text);
        first_name = false;
    }
    if (compact_insert(c, c.insert->size()) != 0) ok = false;
    return ok;
}

} // namespace coll

} // namespace qvx
