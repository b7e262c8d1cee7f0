// The columns a script's output lines fill, read from the cursor's
// insert_select text. Each name is a dictionary element, which gives the
// column's width and whether it is a number; the descriptor has the
// layout of a fetch's select list, so rows are built the same way.
#include <string>
#include <string_view>

#include "control/dictionary.h"
#include "procs/script_exit.h"
#include "runtime/messages.h"

namespace qvx {

namespace {

constexpr size_t kDictCompare = 32;

bool starts(std::string_view s, size_t at, std::string_view word) { return s.substr(at, word.size()) == word; }

size_t skip_blanks(std::string_view s, size_t at) {
    while (at < s.size() && s[at] == ' ') ++at;
    return at;
}

const dict_element* dict_entry(std::string_view name) {
    const std::string_view key = name.substr(0, kDictCompare);
    for (const auto& e : dict_anchor)
        if (std::string_view(e->name).substr(0, kDictCompare) == key) return e.get();
    return nullptr;
}

// The select list between "SELECT" and "FROM", parentheses made blanks;
// false when there is no FROM.
bool select_list(std::string_view text, std::string& list) {
    size_t at = skip_blanks(text, 0) + 7;
    at = skip_blanks(text, at);
    if (at < text.size() && text[at] == '(') ++at;
    for (; at < text.size(); ++at) {
        if (starts(text, at, "FROM ") || starts(text, at, "from ")) return true;
        const char ch = text[at];
        list += ch == '(' || ch == ')' ? ' ' : ch;
    }
    return false;
}

void add_column(SelectDescriptor& d, const dict_element& e, std::string_view name) {
    const int16_t type = e.data_type == 2 || e.data_type == 4 ? kDbNumber : kDbChar;
    SelectItem item;
    item.name = std::string(name);
    item.type = type;
    item.orig_type = type;
    item.buf_len = e.length;
    item.size_chars = e.length;
    item.size_bytes = e.length;
    d.offset.push_back(static_cast<int32_t>(d.buffer.size()));
    d.value_len.push_back(e.length);
    d.indicator.push_back(1);
    d.items.push_back(std::move(item));
    d.buffer.resize(d.buffer.size() + static_cast<size_t>(e.length), ' ');
}

} // namespace

int parse_script_exit(curs& c) {
    const std::string_view text = c.raw_insert_select ? std::string_view(*c.raw_insert_select) : std::string_view();
    const size_t first = skip_blanks(text, 0);
    if (!starts(text, first, "SELECT ") && !starts(text, first, "select ")) {
        PRINT('e', "pcc3990", "Invalid insert_select\n");
        return 1;
    }
    std::string list;
    if (!select_list(text, list)) {
        PRINT('e', "pcc4000", "Bad insert_select text\n");
        return 1;
    }
    size_t count = 1;
    for (char ch : list) count += ch == ',';

    SelectDescriptor d;
    size_t at = skip_blanks(list, 0);
    for (size_t i = 0; i < count; ++i) {
        size_t end = at;
        while (end < list.size() && list[end] != ' ' && list[end] != ',') ++end;
        const std::string name = list.substr(at, end - at);
        const dict_element* e = dict_entry(name);
        if (!e) {
            PRINT('e', "pcc4005", "No dictionary entry found for %s\n", name.c_str());
            PRINT('e', "pcc4010", "Script parsing failed\n");
            return 1;
        }
        add_column(d, *e, name);
        // Whatever follows the name up to the comma (an argument list) is
        // not part of it.
        at = list.find(',', end);
        at = at == std::string::npos ? list.size() : skip_blanks(list, at + 1);
    }
    c.script_columns.ensure() = std::move(d);
    return 0;
}

} // namespace qvx
