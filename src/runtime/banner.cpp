// Start-up of the message output: open the file and write the banner.
#include "runtime/clock.h"
#include "runtime/messages.h"
#include "runtime/version.h"

namespace qvx {

void init_PRINT() {
    if (!print_file_open() && !u_openPRINTfile(nullptr))
        PRINT('e', "cat2014", "'.out' open error all messages will go to stdout\n");

    PRINT('a', "cat2015", "qvx database monitoring collector\n");
    PRINT('a', "cat2020", "Version %s (build %s)\n", program_version(), build_stamp());
    PRINT('a', "cat2025", "Copyright (c) 2026 the qvx developers.\n");
    PRINT('a', "cat2030", "All rights reserved.\n");
    PRINT('a', "cat2035", "Time = %s\n", form_time().c_str());
    for (std::string line : module_id_lines()) {
        while (!line.empty() && line.back() == '\n') line.pop_back();
        PRINT('a', "ush0100", "%s\n", line.c_str());
    }
}

} // namespace qvx
