// The control-file reader and word scanner: the input is a control file.
// It is cut into statements as every parser reads them, and each
// statement is scanned word by word (whole, and from a second start
// position as the clause parsers do), split by the list splitter and
// searched for its parenthesised part.
#include <algorithm>
#include <cstdio>
#include <string>

#include "control/cursor.h"
#include "control/reader.h"
#include "control/tokenizer.h"
#include "fuzz_support.h"
#include "runtime/trace.h"

using namespace qvx;

namespace {

// Scans [start, end) to its end; every word lies inside the range and
// every scan moves on.
void scan_words(const std::string& text, int start, int end) {
    Tokenizer tok(text);
    tok.reset();
    int pos = start;
    const int most = std::max(end - start, 0) + 1;
    for (int guard = 0;; ++guard) {
        FUZZ_CHECK(guard <= most);
        const int n = tok.get_word(pos, end);
        if (n < 0) {
            FUZZ_CHECK(tok.failed && !tok.message.empty() && tok.message.size() <= 255);
            return;
        }
        if (n == 0) return;
        const parse_word& w = tok.word;
        FUZZ_CHECK(w.length == n);
        FUZZ_CHECK(w.text == text.data() + w.position);
        FUZZ_CHECK(w.position >= pos && w.position + n <= end);
        FUZZ_CHECK(tok.next_pos() > pos);
        test_word(w.text, static_cast<size_t>(w.length));
        pos = tok.next_pos();
    }
}

void split_words(const std::string& text) {
    const int end = static_cast<int>(text.size());
    int pos = 0;
    for (;;) {
        int at = 0;
        uint16_t flags = 0;
        const int n = simple_get_word(text, pos, end, &at, &flags);
        FUZZ_CHECK(at >= pos && at <= end);
        if (n == 0) {
            // A lone quote yields nothing but still takes its place.
            if (at >= end) return;
            pos = at + 1;
            continue;
        }
        FUZZ_CHECK(at + n <= end);
        pos = at + n;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvxfuzz::fresh_state();
    if (size > 0 && (data[0] & 1)) trace_something = 1;  // the line echo
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (!file) return 0;
    StatementReader reader(file, [](const std::string& line) { FUZZ_CHECK(line.size() <= 256); }, "fuzz.ctl");
    for (int statements = 0;; ++statements) {
        FUZZ_CHECK(statements <= static_cast<int>(size));
        const StatementReader::Result r = reader.next();
        if (r == StatementReader::Result::end_of_file) break;
        if (r == StatementReader::Result::too_long) continue;
        const std::string& text = reader.buffer();
        FUZZ_CHECK(text.size() <= kStatementBufferSize && text.size() >= 5);
        FUZZ_CHECK(text.compare(text.size() - 4, 4, "    ") == 0);
        const int end = static_cast<int>(text.size());
        scan_words(text, 0, end);
        scan_words(text, static_cast<int>(data[0]) % end, end - (size > 1 ? data[1] % 5 : 0));
        split_words(text);
        std::string inside;
        const int n = w_o_parens(text, inside);
        FUZZ_CHECK(n == static_cast<int>(inside.size()) && n <= 3100);
    }
    std::fclose(file);
    qvxfuzz::fresh_state();
    return 0;
}
