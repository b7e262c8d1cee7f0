#include "collector/operator_words.h"

#include <cstring>

#include "runtime/version.h"

namespace qvx {

OperatorWords take_operator_words(int& argc, char** argv) {
    OperatorWords words;
    if (!argv) return words;
    int kept = argc > 0 ? 1 : 0;  // argv[0] is the program
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!a) continue;
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            words.help = true;
        } else if (std::strcmp(a, "--version") == 0) {
            words.version = true;
        } else if (std::strcmp(a, "--check") == 0 || std::strcmp(a, "-c") == 0) {
            words.check = true;
        } else if (std::strcmp(a, "--connect") == 0) {
            words.connect = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    for (int i = kept; i < argc; ++i) argv[i] = nullptr;
    argc = kept;
    return words;
}

std::string collector_usage() {
    return "usage: qvxcoll [settings options] [-name value ...]\n"
           "       qvxcoll --check [--connect] [settings options]\n"
           "       qvxcoll --help | --version\n"
           "\n"
           "Runs the collector on the control files of its settings (PROCESS.CTL, DICT.CTL,\n"
           "COLLECT.CTL and TRACE.CTL, named after the database type: qvxproc.ctl, ...).\n"
           "Messages go to the message output file <output dir>/<host>_<type>_<server>_col.out.\n"
           "\n"
           "  -c, --check     read the settings and every control file as a start-up does,\n"
           "                  print each finding on one line and exit: 0 when all are valid,\n"
           "                  1 otherwise; nothing is logged on, no channel object is made\n"
           "      --connect   with --check: also log on and prepare (never run) the SELECT\n"
           "                  of every cursor\n"
           "  -h, --help      this text\n"
           "      --version   the version of the program\n"
           "\n"
           "Settings options (abbreviations allowed; environment variables in brackets):\n"
           "  -ctldir DIR     control home (COLL_CTL_HOME)\n"
           "  -logsdir DIR    collector home in the first pass, output directory in the second\n"
           "                  (COLL_HOME, COLL_OUT)\n"
           "  -rdbms ID       server id (COLL_SERVERID); also -serverid\n"
           "  -logonid ID     logon id (COLL_LOGON); also -loginid\n"
           "  -password PW    password, plain or scrambled (COLL_PASSWORD)\n"
           "  -dbtype TYPE    database type (COLL_VERSION, default qvx)\n"
           "  -tempdir DIR    temporary directory (COLL_PREFIX); -ltempdir the local one\n"
           "  -errlog FILE    database error log (COLL_ERRORLOG)\n"
           "  -d, -dd..., -v  tracing and debug levels (COLL_DEBUG)\n"
           "  -version [FILE...]  identification strings of the programs\n"
           "  -filein FILE, @FILE  more arguments from a file\n"
           "  -name value     a dictionary parameter that DICT.CTL can use\n"
           "\n"
           "The database is named by COLL_CONNECT (sqlite:PATH or odbc:CONNECTION-STRING);\n"
           "COLL_QUERY_TIMEOUT cancels a SELECT that runs longer than that many seconds.\n";
}

std::string collector_version_line() {
    return std::string("qvxcoll ") + program_version() + " (build " + build_stamp() + ")\n";
}

} // namespace qvx
