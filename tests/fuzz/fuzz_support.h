// What every fuzz target shares: a scratch directory made once per
// process for the inputs that parsers read from files, the collector's
// module state put back before each input with its messages sent nowhere,
// and a check that turns a broken promise of the code under test into a
// crash the fuzzer keeps.
//
// A target defines LLVMFuzzerTestOneInput only. Built with QVX_FUZZ it is
// linked with libFuzzer; in the normal build replay_main.cpp drives it
// with every file of its corpus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace qvxfuzz {

// The process's scratch directory (created on the first call, under
// $TMPDIR or /tmp, removed at a normal exit).
const std::string& scratch_dir();

// Every collector module back to its start-up state, the collector home,
// output and temporary directories in the scratch directory, database type
// "qvx" (so control files are scratch/qvx*.ctl), and messages written to
// /dev/null instead of an output file.
void fresh_state();

// Writes the bytes as scratch/name; returns the path.
std::string write_scratch(const std::string& name, std::string_view bytes);

std::string_view as_text(const uint8_t* data, size_t size);

[[noreturn]] void check_failed(const char* what, const char* file, int line);

} // namespace qvxfuzz

// A property the code under test promises for every input.
#define FUZZ_CHECK(cond) ((cond) ? (void)0 : ::qvxfuzz::check_failed(#cond, __FILE__, __LINE__))
