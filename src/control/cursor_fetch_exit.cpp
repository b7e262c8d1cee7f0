// The fetch exits a cursor may name in its fetch_exit clause, and the
// reading of that clause's first word: the exit's name (any case), then
// optionally a run mode, "t" (timed, with its time-out in seconds) or "p".
#include <algorithm>
#include <cctype>
#include <climits>

#include "control/parse_support.h"
#include "control/cursor.h"

namespace qvx {

namespace {

constexpr int kModeTimed = 1;
constexpr int kModeNoWait = 2;
constexpr int kDefaultTimeout = 30;


bool starts_with_nocase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

} // namespace

namespace {
const std::vector<FetchExitSpec> kNoExits;
const std::vector<FetchExitSpec>* known_exits = &kNoExits;
} // namespace

namespace {
ScriptExitParser script_exit_parser = nullptr;
} // namespace

void set_script_exit_parser(ScriptExitParser parser) { script_exit_parser = parser; }

int parse_script_columns(curs& c) { return script_exit_parser ? script_exit_parser(c) : 0; }

const std::vector<FetchExitSpec>& known_fetch_exits() { return *known_exits; }

void set_known_fetch_exits(const std::vector<FetchExitSpec>* table) { known_exits = table ? table : &kNoExits; }

std::optional<FetchExitSpec> match_fetch_exit(std::string_view word, std::string_view next_word) {
    return match_fetch_exit(word, next_word, known_fetch_exits());
}

std::optional<FetchExitSpec> match_fetch_exit(std::string_view word, std::string_view next_word,
                                              const std::vector<FetchExitSpec>& table) {
    // The longest name that begins the word: "fetchxi1t" is fetchxi1,
    // timed, even where "fetchxi" is known too.
    const FetchExitSpec* best = nullptr;
    for (const FetchExitSpec& e : table)
        if (!e.name.empty() && starts_with_nocase(word, e.name) &&
            (!best || e.name.size() > best->name.size()))
            best = &e;
    if (!best) return std::nullopt;

    FetchExitSpec chosen = *best;
    std::string_view mode = word.substr(best->name.size());
    if (mode.empty()) return chosen;
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(mode.front())));
    mode.remove_prefix(1);
    if (letter == 'p' && mode.empty()) {
        chosen.mode = kModeNoWait;
        return chosen;
    }
    if (letter != 't') return std::nullopt;
    chosen.mode = kModeTimed;
    if (mode.empty())
        chosen.timeout = all_digits(next_word) ? digits_value(next_word) : kDefaultTimeout;
    else if (all_digits(mode))
        chosen.timeout = digits_value(mode);
    else
        return std::nullopt;
    return chosen;
}

} // namespace qvx
