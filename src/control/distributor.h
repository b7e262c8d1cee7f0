// Distributors: the named schedule blocks of PROCESS.CTL. The one named
// "collector" is mandatory; it drives cursor collection and carries the
// logon data.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/distributor.h"

namespace qvx {

// All distributors in file order; collector_at is the one named "collector".
extern std::vector<std::unique_ptr<distrib>> distrib_anchor;
extern distrib* collector_at;

// Process-wide values set from PROCESS.CTL.
extern int sleep_time;
extern bool evaluator_defined;

// Host identity: host name (64), server id (32) and a third field (64),
// each blank-padded to its width, not terminated.
struct MachineId {
    std::array<char, 64> host;
    std::array<char, 32> server;
    std::array<char, 64> third;
};
extern MachineId machine_id;

// Runs parse_distributor; on failure deletes all distributors and ends the
// collector through quitting(-1001).
int init_dist();
// Reads PROCESS.CTL; 0 on success, 1 otherwise.
int parse_distributor();
// Keyword code of a PROCESS.CTL word, 0 when unknown.
int distrib_key_word(std::string_view word);
// Frees all distributors and clears collector_at.
void del_distributor();
// Finds a distributor by exact name.
distrib* find_distributor(std::string_view name);

// Forgets all PROCESS.CTL state (tests).
void reset_distributors();

} // namespace qvx
