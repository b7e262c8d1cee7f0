// The words an operator gives qvxcoll besides its settings: --help (-h),
// --version, --check (-c) and --connect. They are taken out of the
// argument list before the two command-line passes read it, so a check
// reads exactly the settings a run with the same arguments would.
#pragma once

#include <string>

namespace qvx {

struct OperatorWords {
    bool help = false;
    bool version = false;
    bool check = false;
    bool connect = false;
};

// Removes every argument that is exactly one of the words from argv
// (argc shrinks, argv stays terminated) and says which were there.
OperatorWords take_operator_words(int& argc, char** argv);

// The usage text of --help.
std::string collector_usage();

// The one line of --version: program, version, build stamp and revision.
std::string collector_version_line();

// Exit status for words that do not go together (--connect without --check).
constexpr int kCollectorUsageError = 64;

} // namespace qvx
