// Decode replacements that act instead of replacing: "hold ..." and
// "release ..." followed by options that say which cursors (below, next,
// cursor NAME..., me, previous), whether their rows go (delete) and
// whether the database session is renewed (resetdb).
//
// A hold sets one of two reasons on the cursor held: the below-reason
// (hold_reasons[0]) for "below", the named-reason (hold_reasons[1]) for
// every other option. A release clears the reason and lets the cursor run
// again once no reason is left; the collection loop does the same for
// held cursors without reasons.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "db/database.h"
#include "model/cursor_list.h"
#include "pipeline/cursor_run.h"
#include "pipeline/decode_eval.h"
#include "pipeline/row_store.h"
#include "runtime/messages.h"
#include "runtime/run_requests.h"

namespace qvx {

namespace {

constexpr size_t kShortest = 8;  // shorter replacements are never actions
constexpr size_t kCursorName = 8;
constexpr int kBelow = 0;
constexpr int kNamed = 1;

// A below-hold made by a decode is in force.
bool below_hold = false;

std::vector<std::string> words_of(const char* text, size_t length) {
    std::vector<std::string> out;
    std::string word;
    for (size_t i = 0; i <= length; ++i) {
        const char c = i < length ? text[i] : ' ';
        if (c == ' ' || c == ',' || c == '\0') {
            if (!word.empty()) out.push_back(std::move(word));
            word.clear();
        } else {
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return out;
}

bool same_cursor_name(const std::string& a, const std::string& b) {
    const std::string_view x(a.data(), std::min(a.size(), kCursorName));
    const std::string_view y(b.data(), std::min(b.size(), kCursorName));
    return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin(), [](char p, char q) {
               return std::tolower(static_cast<unsigned char>(p)) == std::tolower(static_cast<unsigned char>(q));
           });
}

bool all_clear(const curs& c) { return c.hold_reasons[0] == 0 && c.hold_reasons[1] == 0 && c.hold_reasons[2] == 0; }

// One action being carried out.
class Action {
public:
    Action(curs& me, bool hold) : me_(me), hold_(hold) {
        for (size_t i = 0; i < cur_anchor.size(); ++i)
            if (cur_anchor[i].get() == &me) at_ = i;
    }

    // False when the option and all later ones are to be ignored.
    bool option(const std::vector<std::string>& words, size_t& i);

private:
    void hold(curs& c, int reason) {
        c.hold_reasons[static_cast<size_t>(reason)] = 1;
        c.held = 'Y';
        drop_rows(c);
    }
    void release(curs& c, int reason) {
        c.hold_reasons[static_cast<size_t>(reason)] = 0;
        if (all_clear(c)) c.held = 'N';
        drop_rows(c);
    }
    void drop_rows(curs& c) {
        if (!delete_) return;
        if (tells(c))
            PRINT('i', "cde4466", "Deleting all rows for cursor (%s) due to decode in %s\n", c.cur_name.c_str(),
                  me_.cur_name.c_str());
        delete_all(c);
    }
    bool tells(const curs& other) const { return me_.trace || other.trace; }
    curs* neighbour(int step) const {
        const long at = static_cast<long>(at_) + step;
        if (at < 0 || at >= static_cast<long>(cur_anchor.size())) return nullptr;
        return cur_anchor[static_cast<size_t>(at)].get();
    }
    bool below();
    void next();
    void previous();
    void named(const std::vector<std::string>& words, size_t& i);
    void reset_db();
    void unknown(size_t position, const std::string& word) const {
        if (hold_)
            PRINT('e', "dsd0110", "Unknown hold option %d:%s, cursor %s\n", static_cast<int>(position), word.c_str(),
                  me_.cur_name.c_str());
        else
            PRINT('e', "dsd0120", "Unknown release option:%s, cursor %s\n", word.c_str(), me_.cur_name.c_str());
    }

    curs& me_;
    bool hold_;
    size_t at_ = 0;
    bool delete_ = false;
    std::vector<std::string> done_;
};

bool Action::below() {
    if (below_hold == hold_) return false;  // nothing to start or to end
    for (size_t i = at_ + 1; i < cur_anchor.size(); ++i) {
        if (hold_)
            hold(*cur_anchor[i], kBelow);
        else
            release(*cur_anchor[i], kBelow);
    }
    below_hold = hold_;
    if (hold_)
        PRINT('i', "cde4455", "Holding cursors below %s due to decode\n", me_.cur_name.c_str());
    else
        PRINT('i', "cde4460", "Releasing cursors below %s due to decode\n", me_.cur_name.c_str());
    return true;
}

void Action::next() {
    curs* c = neighbour(1);
    if (!c) return;
    if (hold_) {
        hold(*c, kNamed);
        if (tells(*c)) PRINT('i', "cde4456", "Holding next cursor (%s) due to decode in %s\n", c->cur_name.c_str(), me_.cur_name.c_str());
    } else {
        release(*c, kNamed);
        if (tells(*c)) PRINT('i', "cde4463", "Releasing next cursor (%s) due to decode in %s\n", c->cur_name.c_str(), me_.cur_name.c_str());
    }
}

void Action::previous() {
    curs* c = neighbour(-1);
    if (!c) return;
    if (hold_) {
        hold(*c, kNamed);
        if (tells(*c)) PRINT('i', "cde4459", "Holding previous cursor (%s) due to decode in %s\n", c->cur_name.c_str(), me_.cur_name.c_str());
    } else {
        release(*c, kNamed);
        if (tells(*c)) PRINT('i', "cde4465", "Releasing previous cursors (%s) due to decode in %s\n", c->cur_name.c_str(), me_.cur_name.c_str());
    }
}

// "cursor": every later word names a cursor.
void Action::named(const std::vector<std::string>& words, size_t& i) {
    for (++i; i < words.size(); ++i) {
        curs* found = nullptr;
        for (const auto& c : cur_anchor)
            if (same_cursor_name(c->cur_name, words[i])) found = c.get();
        if (!found) {
            unknown(i, words[i]);
            continue;
        }
        if (hold_) {
            hold(*found, kNamed);
            if (tells(*found)) PRINT('i', "cde4457", "Holding cursor (%s) due to decode in %s\n", found->cur_name.c_str(), me_.cur_name.c_str());
        } else {
            release(*found, kNamed);
            if (tells(*found)) PRINT('i', "cde4464", "Releasing cursors (%s) due to decode in %s\n", found->cur_name.c_str(), me_.cur_name.c_str());
        }
    }
}

// The database work is committed and a new session asked for: the loop
// restarts the collector before the next run.
void Action::reset_db() {
    commit_collect(CommitMode::normal);
    db_logon_state = kLogonRenew;
    restart_request = true;
    PRINT('i', "cde4467", "Reconnecting to database because of decode in cursor %s\n", me_.cur_name.c_str());
}

bool Action::option(const std::vector<std::string>& words, size_t& i) {
    const std::string& w = words[i];
    if (std::find(done_.begin(), done_.end(), w) != done_.end()) return true;  // each option once
    done_.push_back(w);
    if (w == "below") return below();
    if (w == "next") next();
    else if (w == "previous") previous();
    else if (w == "cursor") named(words, i);
    else if (w == "delete") delete_ = true;
    else if (w == "resetdb") reset_db();
    else if (w == "me" && hold_) {
        hold(me_, kNamed);
        if (tells(me_)) PRINT('i', "cde4458", "Holding this cursor (%s) due to decode\n", me_.cur_name.c_str());
    } else {
        unknown(i, w);
    }
    return true;
}

} // namespace

int special_decode(curs& cursor, const char* text, size_t length) {
    if (!text || length < kShortest) return 0;
    const std::vector<std::string> words = words_of(text, length);
    if (words.size() < 2 || (words[0] != "hold" && words[0] != "release")) return 0;
    Action action(cursor, words[0] == "hold");
    for (size_t i = 1; i < words.size(); ++i)
        if (!action.option(words, i)) break;
    return 1;
}

void reset_decodes() { below_hold = false; }

} // namespace qvx
