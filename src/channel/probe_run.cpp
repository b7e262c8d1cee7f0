// The probe's run: settings as the collector computes them, the cursor
// definitions, one exchange over the channel and the printed reply.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <ostream>

#include "channel/comm_dispatch.h"
#include "expr/versions.h"
#include "channel/probe.h"
#include "control/cursor.h"
#include "control/distributor.h"
#include "control/reader.h"
#include "pipeline/percent_cursor.h"
#include "procs/fetch_exit.h"
#include "runtime/environment.h"
#include "support/environment_pass.h"
#include "runtime/messages.h"
#include "runtime/settings.h"
#include "control/identity.h"

namespace qvx {

namespace {

// The library's messages would otherwise go to a collector output file
// (the parsers open one when none is open) or to standard output, among
// the reply. An open sink that discards them keeps both away; errors and
// severe messages still show on standard error.
void discard_library_messages() {
    FILE* sink = std::fopen("/dev/null", "w");
    if (!sink) sink = std::tmpfile();
    use_message_sink(sink, false);
}

bool is_directory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Settings the collector would have: the options stand for its command
// line, the environment pass fills the rest with the same defaults.
void apply_settings(const ProbeOptions& o) {
    if (o.channel != ProbeChannel::environment)
        ::setenv("COLL_USESHM", o.channel == ProbeChannel::pipes ? "0" : "1", 1);
    if (o.timeout > 0) ::setenv("WAIT_TIMEOUT", std::to_string(o.timeout).c_str(), 1);
    if (!o.dbtype.empty()) env_vars.db_type = o.dbtype;
    if (!o.serverid.empty()) env_vars.serverid = o.serverid;
    get_envs();
    if (!o.control_dir.empty()) {
        env_vars.coll_home = o.control_dir;
        env_vars.ctl_home = o.control_dir;
    }
}

// Without a server id the collector takes the one of its "collector"
// distributor; so does the probe when it has the control files. With no
// server id PROCESS.CTL can only be in the control directory itself; a
// missing one is no error here.
void take_collector_identity(const std::string& dir) {
    if (!env_vars.serverid.empty()) return;
    bool found = false;
    for (const std::string& level : control_file_levels(db_type_code()))
        found = found || ::access((dir + "/" + level + "proc.ctl").c_str(), R_OK) == 0;
    if (found && parse_distributor() == 0 && collector_at) set_collector_identity();
}

} // namespace

int load_cursor_definitions(const ProbeOptions& o, std::string& err) {
    if (!is_directory(o.control_dir)) {
        err += "qvxprobe: control directory " + o.control_dir + " cannot be read\n";
        return kProbeNoInput;
    }
    env_vars.coll_home = o.control_dir;
    env_vars.ctl_home = o.control_dir;
    if (!o.dbtype.empty()) env_vars.db_type = o.dbtype;

    std::string path;
    if (!u_openInputFile("coll", &path)) {
        err += "qvxprobe: no " + db_type_code() + "coll.ctl found under " + o.control_dir + "\n";
        return kProbeNoInput;
    }
    // Cursors that take their rows from a fetch exit are read as the
    // collector reads them.
    install_fetch_exits();
    // Without the dictionary the columns of a script exit cannot be read;
    // the probe needs only the cursors' own columns.
    set_script_exit_parser(nullptr);
    install_condition_parser();
    if (parse_curs() != 0) {
        err += "qvxprobe: " + path + " has errors\n";
        return kProbeNoInput;
    }
    // Percent variables have fixed widths; they come with the percent cursor.
    if (!percent_cursor) create_percent_cursor();
    return 0;
}

int run_probe(const ProbeOptions& o, std::ostream& out, std::ostream& err) {
    discard_library_messages();
    apply_settings(o);
    // The agent makes its own reply pipe: a mode it cannot honour stops it
    // as it stops the collector.
    if (env_vars.ipc_mode_set && env_vars.ipc_mode < 0 && env_vars.refused.find("COLL_IPC_MODE") != std::string::npos) {
        err << "qvxprobe: COLL_IPC_MODE is not an octal mode that lets the owner read and write, such as 0600\n";
        return kProbeUsageError;
    }

    const bool status = is_cursor_status(o.name) || is_distrib_status(o.name);
    if (!o.control_dir.empty()) {
        if (!is_directory(o.control_dir)) {
            err << "qvxprobe: control directory " << o.control_dir << " cannot be read\n";
            return kProbeNoInput;
        }
        take_collector_identity(o.control_dir);
        if (!status) {
            std::string why;
            if (int rc = load_cursor_definitions(o, why)) {
                err << why;
                return rc;
            }
        }
    }

    comm_anchor* anchor = qvxcomm("init").anchor;
    if (!anchor) {
        err << "qvxprobe: the agent end of the channel could not be opened\n";
        return 4;
    }
    for (size_t i = 0; i < o.parms.size(); ++i) anchor->parms[i] = o.parms[i];

    // The collector drops longer requests without an answer.
    const size_t request_len = serialize_request(o.name, anchor->probe_pipe, o.parms).size();
    if (request_len > static_cast<size_t>(kMaxRequestLen)) {
        qvxcomm("term", anchor);
        qvxcomm("shut");
        err << "qvxprobe: the request takes " << request_len << " bytes, the collector accepts at most "
            << kMaxRequestLen << "; see qvxprobe --help\n";
        return kProbeUsageError;
    }

    if (const std::string why = missing_collector(); !why.empty()) {
        qvxcomm("term", anchor);
        qvxcomm("shut");
        err << "qvxprobe: " << why << "\n";
        return kProbeNoCollector;
    }

    std::vector<curs_list>* blocks = qvxcomm("get", anchor, o.name.c_str()).blocks;
    if (!blocks || blocks->empty()) {
        const int code = anchor->error_code != 0 ? anchor->error_code : 4;
        err << "qvxprobe: " << (anchor->error_text.empty() ? "no reply" : anchor->error_text) << "\n";
        qvxcomm("term", anchor);
        qvxcomm("shut");
        return code;
    }

    const curs_list& reply = blocks->front();
    const curs* cursor = nullptr;
    if (!o.control_dir.empty() && !status) {
        cursor = find_cursor(reply.name);
        if (!cursor && reply.rows > 0 && !o.raw)
            err << "note: " << reply.name << " is not defined in the control files; printing the rows as text\n";
    }
    std::string notes;
    out << format_reply(reply.name, reply.rows, reply.len, reply.data.data(), cursor, o.raw, notes);
    err << notes;
    qvxcomm("term", anchor);
    qvxcomm("shut");
    return 0;
}

int probe_main(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    const ProbeArgs parsed = parse_probe_args(args);
    if (!parsed.options) {
        std::cerr << "qvxprobe: " << parsed.error << "; see qvxprobe --help\n";
        return kProbeUsageError;
    }
    if (parsed.options->help) {
        std::cout << probe_usage();
        return 0;
    }
    const int rc = run_probe(*parsed.options, std::cout, std::cerr);
    std::cout.flush();
    return rc;
}

} // namespace qvx
