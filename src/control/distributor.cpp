// Distributor list, keyword table and start-up entry of PROCESS.CTL.
#include "control/distributor.h"

#include "control/keyword_case.h"
#include "runtime/exit_path.h"

namespace qvx {

std::vector<std::unique_ptr<distrib>> distrib_anchor;
distrib* collector_at = nullptr;
int sleep_time = 0;
bool evaluator_defined = false;

namespace {

MachineId blank_id() {
    MachineId id;
    id.host.fill(' ');
    id.server.fill(' ');
    id.third.fill(' ');
    return id;
}

struct Keyword {
    const char* text;
    int code;
};

// Written as they are accepted; the all upper-case form is accepted too.
constexpr Keyword kKeywords[] = {
    {"process", 1},         {"type", 2},          {"logon_id", 3},
    {"password", 4},        {"Saturday_start", 6}, {"Saturday_end", 7},
    {"Sunday_start", 8},    {"Sunday_end", 9},    {"Mon_Fri_start", 10},
    {"Mon_Fri_end", 11},    {"interval", 12},     {"holiday", 13},
    {"server_id", 14},      {"time_offset", 16},  {"sleep", 21},
    {"hold", 22},           {"continuous", 23},   {"class", 24},
    {"send_false", 25},     {"machine_id", 26},   {"end", 27},
};

} // namespace

MachineId machine_id = blank_id();

int distrib_key_word(std::string_view word) {
    for (const Keyword& k : kKeywords)
        if (word == k.text || equals_in_case(word, k.text, LetterCase::upper)) return k.code;
    return 0;
}

void del_distributor() {
    distrib_anchor.clear();
    collector_at = nullptr;
}

distrib* find_distributor(std::string_view name) {
    for (const auto& d : distrib_anchor)
        if (d->distrib_name == name) return d.get();
    return nullptr;
}

int init_dist() {
    if (parse_distributor() == 0) return 0;
    del_distributor();
    quitting(-1001);
    return 1;
}

void reset_distributors() {
    del_distributor();
    sleep_time = 0;
    evaluator_defined = false;
    machine_id = blank_id();
}

} // namespace qvx
