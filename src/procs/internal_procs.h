// The internal procedures a script exit can name, and the driver that
// runs one with the procedures' shared term table installed (so the
// expressions each parses stay lexed from call to call).
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "expr/select_walk.h"

namespace qvx {

using InternalProc = std::optional<ResultChain> (*)();

struct InternalProcEntry {
    const char* name;  // exact, case-sensitive
    InternalProc proc;
};

// The procedure table, in search order.
std::span<const InternalProcEntry> cur_func_tb();

// Runs the procedure of that name (SMON010 when there is none).
std::optional<ResultChain> smon_curs_driver(std::string_view name);

// The parameter text of an internal exit, trailing blanks removed, run
// as a procedure name.
std::optional<ResultChain> exec_internal(std::string_view parms);

// Frees the shared term table (tests).
void reset_internal_procs();

} // namespace qvx
