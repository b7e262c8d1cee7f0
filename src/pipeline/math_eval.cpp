// Computing math columns. Per row the definition's work array is filled
// from its words and reduced in place; nothing is allocated unless the
// cursor traces its math.
#include "pipeline/math_eval.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "pipeline/bases.h"
#include "pipeline/cursor_run.h"
#include "runtime/messages.h"
#include "support/number_text.h"

namespace qvx {

namespace {

constexpr int16_t kNumberType = 2;
constexpr int32_t kMaxSource = 2048;  // widest column a math expression reads
constexpr size_t kTraceWidth = 150;

// How filling the work array ended.
enum class Fill {
    cells,     // every cell holds its value: reduce it
    answered,  // the answer is already known (an initial value, a source without rows)
    too_wide,  // a source column is too wide: the field shows 0
};

// Where a name word's value is read: its bytes (count known to be in the row).
struct Source {
    const char* text = nullptr;
    size_t len = 0;        // bytes available
    int32_t width = 0;     // the column's width
    int32_t offset = 0;
};

Source own_source(const curs& c, const char* row_text, int16_t at) {
    const columns& col = c.cols[static_cast<size_t>(at)];
    return {row_text + col.buf_offset, static_cast<size_t>(std::max(col.length, 0)), col.length, col.buf_offset};
}

// The column in the other cursor's current row; what a row of an older
// layout lacks is not read.
Source row_source(const curs& other, const row_data& row, int16_t at) {
    const columns& col = other.cols[static_cast<size_t>(at)];
    const size_t from = static_cast<size_t>(std::max(col.buf_offset, 0));
    const size_t have = from < row.size ? row.size - from : 0;
    return {row.text() + std::min<size_t>(from, row.size), std::min(have, static_cast<size_t>(std::max(col.length, 0))),
            col.length, col.buf_offset};
}

const char* cell_text(MathKind k, bool reducing) {
    switch (k) {
    case MathKind::left: return " (";
    case MathKind::right: return reducing ? " )" : ") ";
    case MathKind::add: return reducing ? " +" : " + ";
    case MathKind::subtract: return reducing ? " -" : " - ";
    case MathKind::multiply: return reducing ? " *" : " * ";
    case MathKind::divide: return reducing ? " /" : " / ";
    default: return reducing ? " nil" : "";
    }
}

// The work array as one trace line (the filled array, or a pass of the
// reduction).
void trace_cells(const MathDef& m, bool reducing) {
    std::string line;
    for (const MathCell& cell : m.math) {
        if (cell.kind == MathKind::value) {
            char num[400];
            std::snprintf(num, sizeof num, reducing ? " %f" : " %f ", cell.value);
            line += num;
        } else {
            line += cell_text(cell.kind, reducing);
        }
        if (line.size() >= kTraceWidth) break;
    }
    if (reducing)
        PRINT('t', "cma3595", "do_arith: %.150s\n", line.c_str());
    else
        PRINT('t', "cma3565", "Math: %.150s\n", line.c_str());
}

// Fills the work array from the words. answer is set when the fill ends
// with the answer known.
Fill fill_cells(curs& c, MathDef& m, const char* row_text, double& answer) {
    for (size_t i = 0; i < m.words.size(); ++i) {
        const MathWord& w = m.words[i];
        MathCell& cell = m.math[i];
        if (w.kind != MathKind::name) {
            cell = {w.value, w.kind};
            continue;
        }
        Source src;
        if (w.ref_col < 0) {
            // unbound: reads as 0
        } else if (!w.ref_cur) {
            src = own_source(c, row_text, w.ref_col);
        } else {
            curs& other = *w.ref_cur;
            if (c.copy_pending && !c.age_to.empty() && other.cur_name == c.age_to) {
                answer = m.initial;
                return Fill::answered;
            }
            const row_data* row = locate_base_row(other, c);
            if (!row) {
                if (!is_age_to_copy(other))
                    PRINT('w', "cma3530", "Math statement %s for cursor %s references %s which has no rows, setting answer to 0\n",
                          m.name.c_str(), c.cur_name.c_str(), other.cur_name.c_str());
                answer = 0;
                return Fill::answered;
            }
            src = row_source(other, *row, w.ref_col);
        }
        if (src.width > kMaxSource) {
            PRINT('e', "cma3560", "Excessive size for math sending field %s\n", w.text.c_str());
            return Fill::too_wide;
        }
        if (c.tracem)
            PRINT('t', "cma3540", "Math: name = %s %.*s Len= %d, offset= %d\n", w.text.c_str(),
                  static_cast<int>(src.len), src.text ? src.text : "", src.width, src.offset);
        cell = {src.text ? number_or_zero(std::string_view(src.text, src.len)) : 0.0, MathKind::value};
    }
    return Fill::cells;
}

// Applies one level's two operators over cells [from, to) left to right.
// A missing left operand counts as 0. False on a division by 0.
bool sweep(MathDef& m, const curs& c, size_t from, size_t to, MathKind op1, MathKind op2) {
    std::vector<MathCell>& a = m.math;
    size_t left = to;
    MathKind pending = MathKind::used_up;
    for (size_t i = from; i < to; ++i) {
        MathCell& x = a[i];
        if (x.kind == MathKind::value) {
            if (pending == MathKind::used_up) {
                left = i;
                continue;
            }
            double& l = a[left].value;
            const double r = x.value;
            const double before = l;
            switch (pending) {
            case MathKind::multiply:
                l = before * r;
                if (c.tracem) PRINT('t', "cma3645", "%f * %f = %f\n", before, r, l);
                break;
            case MathKind::divide:
                if (r == 0) {
                    if (c.tracem)
                        PRINT('t', "cma3650", "Attempted divide by zero - forcing answer of 0 in %s\n", m.name.c_str());
                    return false;
                }
                l = before / r;
                if (c.tracem) PRINT('t', "cma3655", "%f / %f = %f\n", before, r, l);
                break;
            case MathKind::add:
                l = before + r;
                if (c.tracem) PRINT('t', "cma3660", "%f + %f = %f\n", before, r, l);
                break;
            default:
                l = before - r;
                if (c.tracem) PRINT('t', "cma3665", "%f - %f = %f\n", before, r, l);
                break;
            }
            x.kind = MathKind::used_up;
            pending = MathKind::used_up;
        } else if (x.kind == op1 || x.kind == op2) {
            pending = x.kind;
            if (left == to) {
                x = {0, MathKind::value};
                left = i;
            } else {
                x.kind = MathKind::used_up;
            }
        }
    }
    return true;
}

// The field shows the answer: "%f" cut after the kept decimals, right
// aligned; an answer too long for the field keeps its rightmost bytes.
void put_answer(const curs& c, const columns& col, const MathDef& m, double answer, char* field) {
    const size_t width = static_cast<size_t>(std::max(col.length, 0));
    char num[400];
    size_t n = fixed_chars(answer, m.decimals, num, sizeof num);
    if (n == 0) num[n++] = '0';
    num[n] = '\0';

    std::memset(field, ' ', width);
    if (n > width) {
        PRINT('w', "cma3580", "Glopping off answer for %s in %s Source= %s, target= %d bytes\n", col.name.c_str(),
              c.cur_name.c_str(), num, static_cast<int>(width));
        std::memcpy(field, num + n - width, width);
    } else {
        std::memcpy(field + width - n, num, n);
    }
    if (c.tracem)
        PRINT('t', "cma3590", "ans= %f , len= %d, len2= %d, offset= %d, row= %d\n", answer, static_cast<int>(n),
              static_cast<int>(width), col.buf_offset, c.row_no);
}

// The running high or low, then the rounding away from zero.
double finish_answer(MathDef& m, double answer) {
    if (m.water != MathWater::none) {
        if (m.have_prev)
            answer = m.water == MathWater::high ? std::max(answer, m.prev_answer) : std::min(answer, m.prev_answer);
        else
            m.have_prev = 1;
        m.prev_answer = answer;
    }
    if (answer > 0) answer += m.round_add;
    if (answer < 0) answer -= m.round_add;
    return answer;
}

} // namespace

double do_arith(MathDef& m, const curs& c) {
    std::vector<MathCell>& a = m.math;
    const size_t n = a.size();
    for (int pass = 0; pass <= m.paren_count; ++pass) {
        if (c.tracem) trace_cells(m, true);
        size_t from = 0;
        size_t to = n;
        if (pass < m.paren_count) {
            size_t open = n;
            for (size_t i = n; i-- > 0;)
                if (a[i].kind == MathKind::left) {
                    open = i;
                    break;
                }
            if (open < n) {
                size_t close = open + 1;
                while (close < n && a[close].kind != MathKind::right) ++close;
                a[open].kind = MathKind::used_up;
                if (close < n) a[close].kind = MathKind::used_up;
                from = open + 1;
                to = close;
            }
        }
        if (!sweep(m, c, from, to, MathKind::multiply, MathKind::divide) ||
            !sweep(m, c, from, to, MathKind::add, MathKind::subtract))
            return 0;
    }
    for (const MathCell& cell : a)
        if (cell.kind == MathKind::value) return cell.value;
    PRINT('e', "cma3670", "Math execution error (%s)\n", c.cur_name.c_str());
    return 0;
}

void do_math(curs& c, const columns& col, char* row_text) {
    if (!c.math || col.math_def < 0 || static_cast<size_t>(col.math_def) >= c.math->defs.size()) return;
    MathDef& m = c.math->defs[static_cast<size_t>(col.math_def)];
    if (c.tracem) PRINT('t', "cma3525", "Doing math for %s.%s\n", c.cur_name.c_str(), col.name.c_str());
    char* field = row_text + col.buf_offset;
    double answer = 0;
    switch (fill_cells(c, m, row_text, answer)) {
    case Fill::too_wide:
        if (col.length > 0) {
            std::memset(field, ' ', static_cast<size_t>(col.length));
            field[col.length - 1] = '0';
        }
        return;
    case Fill::cells:
        if (c.tracem) trace_cells(m, false);
        answer = finish_answer(m, do_arith(m, c));
        break;
    case Fill::answered:
        break;
    }
    put_answer(c, col, m, answer, field);
}

void math_row_step(curs& c, row_data& row) {
    if (!c.math) return;
    for (columns& col : c.cols) {
        if (!col.is_math) continue;
        col.orig_type = kNumberType;
        do_math(c, col, row.text());
    }
}

} // namespace qvx
