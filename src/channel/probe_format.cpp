// How the probe prints a reply: the row layout taken from a cursor's
// definition, the aligned table, escaped text, the hex dump and the
// status blocks.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "channel/probe.h"
#include "channel/status_decode.h"
#include "channel/status_images.h"
#include "control/column_exit_clause.h"
#include "pipeline/percent_cursor.h"
#include "pipeline/send_layout.h"

namespace qvx {

namespace {

constexpr int kMaxReferenceDepth = 8;

// The fetch length a set_len clause gives the select item of this name,
// 0 when none does (the last clause for a name wins, as in the fetch).
int32_t set_len_for(const curs& c, const std::string& name) {
    int32_t found = 0;
    if (!c.set_len) return found;
    for (const SetLenEntry& e : c.set_len->entries)
        if (e.name == name) found = e.len;
    return found;
}

// The column's width in the stored row text, as far as the definitions
// tell it: a percent variable's width, the referenced column's, or a
// set_len fetch length.
bool is_request_parm(const columns& pc) {
    return pc.name.size() > 5 && (pc.name.compare(0, 5, "%parm") == 0 || pc.name.compare(0, 5, "%PARM") == 0);
}

int32_t row_text_length(const curs& c, const columns& col, int depth) {
    if (!col.name.empty() && col.name[0] == '%') {
        const columns* pc = percent_cursor ? find_pcnt_col(col.name) : nullptr;
        if (!pc) return 0;
        // A demand cursor sends a request parameter at the length of the
        // request it was collected for, which may be an earlier one while
        // its rows are fresh: only the reply tells.
        if (c.demand && is_request_parm(*pc)) return 0;
        return pc->db_len;
    }
    if (col.qualified) {
        const size_t dot = col.name.find('.');
        const curs* src = find_cursor(std::string_view(col.name).substr(0, dot));
        if (!src || depth >= kMaxReferenceDepth) return 0;
        const std::string src_name = col.name.substr(dot + 1);
        for (const columns& sc : src->cols)
            if (sc.name == src_name) return row_text_length(*src, sc, depth + 1);
        return 0;
    }
    return set_len_for(c, col.name);
}

// One sent unit of the layout before offsets are known; width 0 for a
// text column whose width is not known.
struct Unit {
    std::string name;
    SendType send_type;
    int32_t width;
    bool merged = false;
};

// Offsets of the units, by the collector's own layout rule.
RowLayout place(const std::vector<Unit>& units) {
    curs scratch;
    scratch.cols.resize(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        scratch.cols[i].send_type = units[i].send_type;
        scratch.cols[i].length = units[i].width;
        scratch.cols[i].set_length = 0;
    }
    RowLayout layout;
    layout.size = get_row_size(scratch);
    for (size_t i = 0; i < units.size(); ++i) {
        ProbeColumn pc;
        pc.name = units[i].name;
        pc.send_type = units[i].send_type;
        pc.offset = scratch.cols[i].row_offset;
        pc.width = units[i].send_type == SendType::integer ? 4 : units[i].send_type == SendType::floating ? 8 : units[i].width;
        pc.merged = units[i].merged;
        layout.cols.push_back(std::move(pc));
    }
    return layout;
}

std::string trim_text(const unsigned char* p, size_t n) {
    while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == 0)) --n;
    return escape_bytes(p, n);
}

std::string cell(const ProbeColumn& c, const unsigned char* row) {
    const unsigned char* p = row + c.offset;
    char buf[512];
    switch (c.send_type) {
        case SendType::integer: {
            int32_t v;
            std::memcpy(&v, p, sizeof v);
            std::snprintf(buf, sizeof buf, "%d", v);
            return buf;
        }
        case SendType::floating: {
            double v;
            std::memcpy(&v, p, sizeof v);
            std::snprintf(buf, sizeof buf, "%f", v);
            return buf;
        }
        default:
            return trim_text(p, static_cast<size_t>(c.width));
    }
}

bool right_aligned(const ProbeColumn& c) { return c.send_type == SendType::integer || c.send_type == SendType::floating; }

void pad_cell(std::string& line, const std::string& text, size_t width, bool right, bool last) {
    const size_t fill = width > text.size() ? width - text.size() : 0;
    if (right) line.append(fill, ' ');
    line += text;
    if (!right && !last) line.append(fill, ' ');
}

std::string status_blocks(const std::string& name, int32_t rows, int32_t len, const unsigned char* data) {
    std::string out;
    for (int32_t r = 0; r < rows; ++r) {
        const unsigned char* row = data + static_cast<size_t>(r) * static_cast<size_t>(len);
        if (r > 0) out += "\n";
        if (is_cursor_status(name)) out += format_cursor_status(*decode_cursor_image(row, static_cast<size_t>(len)));
        else out += format_distrib_status(*decode_distrib_image(row, static_cast<size_t>(len)));
    }
    return out;
}

} // namespace

int32_t known_send_width(const curs& c, const columns& col) {
    switch (send_type_of(col.decl_type)) {
        case SendType::integer: return 4;
        case SendType::floating: return 8;
        case SendType::none: return 0;
        default: break;
    }
    if (col.forced_len > 0) return col.forced_len;
    return row_text_length(c, col, 0);
}

std::optional<RowLayout> layout_for(const curs& c, int32_t len, std::string& note) {
    std::vector<Unit> units;
    for (const columns& col : c.cols) {
        const SendType type = send_type_of(col.decl_type);
        if (type == SendType::none) continue;
        units.push_back(Unit{col.name, type, known_send_width(c, col)});
    }
    auto unknown = [](const Unit& u) {
        return (u.send_type == SendType::text || u.send_type == SendType::timestamp) && u.width <= 0;
    };
    const auto first = std::find_if(units.begin(), units.end(), unknown);
    if (first == units.end()) {
        RowLayout layout = place(units);
        if (layout.size == len) return layout;
        note = "the definition of " + c.cur_name + " gives rows of " + std::to_string(layout.size) +
               " bytes, the reply has " + std::to_string(len);
        return std::nullopt;
    }

    // Everything from the first to the last column of unknown width
    // becomes one text unit; its width is what the row length leaves.
    const auto last = std::find_if(units.rbegin(), units.rend(), unknown).base() - 1;
    Unit span{first->name, SendType::text, 0, last != first};
    for (auto u = first + 1; u <= last; ++u) span.name += "+" + u->name;
    const size_t at = static_cast<size_t>(first - units.begin());
    units.erase(first, last + 1);
    units.insert(units.begin() + static_cast<long>(at), span);

    const int32_t base = place(units).size;
    const int32_t room = len - base;
    // Alignment padding after the span is up to 7 bytes with any width
    // and may shrink as the span grows, so the fitting widths lie within
    // 8 bytes of what the rest leaves; several may fit, and the widest
    // keeps every byte of the row in a cell.
    for (int32_t w = room + 8; w >= 0 && w >= room - 8; --w) {
        units[at].width = w;
        RowLayout layout = place(units);
        if (layout.size == len) return layout;
    }
    note = "no width of " + span.name + " gives the reply's rows of " + std::to_string(len) + " bytes in " +
           c.cur_name + "'s definition";
    return std::nullopt;
}

std::string escape_bytes(const unsigned char* p, size_t n) {
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n;) {
        const unsigned char b = p[i];
        if (b == 0) {
            size_t run = 1;
            while (i + run < n && p[i + run] == 0) ++run;
            out += run == 1 ? std::string("\\0") : "\\0{" + std::to_string(run) + "}";
            i += run;
            continue;
        }
        if (b == '\\') {
            out += "\\\\";
        } else if (b >= 0x20 && b < 0x7f) {
            out += static_cast<char>(b);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", b);
            out += hex;
        }
        ++i;
    }
    return out;
}

std::string format_table(const RowLayout& layout, const unsigned char* data, int32_t rows) {
    const size_t ncols = layout.cols.size();
    std::vector<std::vector<std::string>> cells(static_cast<size_t>(std::max(rows, 0)));
    std::vector<size_t> widths(ncols);
    for (size_t k = 0; k < ncols; ++k) widths[k] = layout.cols[k].name.size();
    for (int32_t r = 0; r < rows; ++r) {
        const unsigned char* row = data + static_cast<size_t>(r) * static_cast<size_t>(layout.size);
        auto& line = cells[static_cast<size_t>(r)];
        for (size_t k = 0; k < ncols; ++k) {
            line.push_back(cell(layout.cols[k], row));
            widths[k] = std::max(widths[k], line.back().size());
        }
    }
    auto emit = [&](const std::vector<std::string>& texts) {
        std::string line;
        for (size_t k = 0; k < ncols; ++k) {
            if (k > 0) line += "  ";
            pad_cell(line, texts[k], widths[k], right_aligned(layout.cols[k]), k + 1 == ncols);
        }
        return line + "\n";
    };
    std::vector<std::string> names;
    for (const auto& c : layout.cols) names.push_back(c.name);
    std::string out = emit(names);
    for (const auto& line : cells) out += emit(line);
    return out;
}

std::string format_plain(const unsigned char* data, int32_t rows, int32_t len) {
    std::string out;
    for (int32_t r = 0; r < rows; ++r)
        out += escape_bytes(data + static_cast<size_t>(r) * static_cast<size_t>(len), static_cast<size_t>(len)) + "\n";
    return out;
}

std::string format_hex(const unsigned char* data, int32_t rows, int32_t len) {
    std::string out;
    for (int32_t r = 0; r < rows; ++r) {
        const unsigned char* row = data + static_cast<size_t>(r) * static_cast<size_t>(len);
        out += "row " + std::to_string(r + 1) + "\n";
        for (int32_t off = 0; off < len; off += 16) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "  %04x ", static_cast<unsigned>(off));
            std::string line = buf;
            std::string chars;
            for (int32_t i = off; i < off + 16; ++i) {
                if (i < len) {
                    std::snprintf(buf, sizeof buf, " %02x", row[i]);
                    line += buf;
                    chars += row[i] >= 0x20 && row[i] < 0x7f ? static_cast<char>(row[i]) : '.';
                } else {
                    line += "   ";
                }
            }
            out += line + "  |" + chars + "|\n";
        }
    }
    return out;
}

std::string reply_heading(const std::string& name, int32_t rows, int32_t len) {
    if (rows == 0) return name + ": 0 rows\n";
    return name + ": " + std::to_string(rows) + (rows == 1 ? " row" : " rows") + " of " + std::to_string(len) +
           " bytes\n";
}

std::string format_reply(const std::string& name, int32_t rows, int32_t len, const unsigned char* data,
                         const curs* cursor, bool raw, std::string& err) {
    std::string out = reply_heading(name, rows, len);
    // Rows of no bytes have nothing to show, however many are announced.
    if (rows <= 0 || len <= 0) return out;
    if (raw) return out + format_hex(data, rows, len);

    if (is_cursor_status(name) || is_distrib_status(name)) {
        const size_t want = is_cursor_status(name) ? kCursorImageSize : kDistribImageSize;
        if (static_cast<size_t>(len) == want) return out + status_blocks(name, rows, len, data);
        err += "note: " + name + " rows should be " + std::to_string(want) + " bytes, not " + std::to_string(len) +
               "; printing them as text\n";
        return out + format_plain(data, rows, len);
    }

    if (cursor) {
        std::string why;
        if (auto layout = layout_for(*cursor, len, why)) return out + format_table(*layout, data, rows);
        err += "note: " + why + "; printing the rows as text\n";
    }
    return out + format_plain(data, rows, len);
}

} // namespace qvx
