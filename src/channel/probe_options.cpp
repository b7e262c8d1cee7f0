// The probe's command line: options first, then the name, then the
// request parameters (which may begin with "-").
#include <cstdlib>
#include <string_view>

#include "channel/comm_dispatch.h"
#include "channel/probe.h"

namespace qvx {

namespace {

constexpr int kMaxTimeout = 600;

// "--opt=value" or "--opt value"; false when the value is missing.
bool take_value(const std::vector<std::string>& args, size_t& i, std::string_view opt, std::string& value,
                std::string& error) {
    const std::string& a = args[i];
    if (a.size() > opt.size() && a.compare(0, opt.size(), opt) == 0 && a[opt.size()] == '=') {
        value = a.substr(opt.size() + 1);
    } else if (i + 1 < args.size()) {
        value = args[++i];
    } else {
        error = "option " + std::string(opt) + " needs a value";
        return false;
    }
    if (value.empty()) {
        error = "option " + std::string(opt) + " needs a value";
        return false;
    }
    return true;
}

// The option word of an argument: "--opt=value" gives "--opt".
std::string_view option_word(const std::string& a) {
    std::string_view w(a);
    if (w.size() > 2 && w[0] == '-' && w[1] == '-') {
        const size_t eq = w.find('=');
        if (eq != std::string_view::npos) w = w.substr(0, eq);
    }
    return w;
}

bool parse_timeout(const std::string& text, int& seconds) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 4)
        return false;
    seconds = std::atoi(text.c_str());
    return seconds >= 1 && seconds <= kMaxTimeout;
}

} // namespace

bool is_cursor_status(const std::string& name) { return name == "C-STATUS"; }
bool is_distrib_status(const std::string& name) { return name == "D-STATUS"; }

ProbeArgs parse_probe_args(const std::vector<std::string>& args) {
    ProbeArgs result;
    ProbeOptions o;
    std::string& error = result.error;
    size_t i = 0;
    bool channel_given = false;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a.size() < 2 || a[0] != '-') break;  // the name
        const std::string_view w = option_word(a);
        std::string value;
        if (w == "-h" || w == "--help") {
            o.help = true;
            result.options = o;
            return result;
        } else if (w == "--pipes" || w == "--shm") {
            const ProbeChannel c = w == "--pipes" ? ProbeChannel::pipes : ProbeChannel::shm;
            if (channel_given && c != o.channel) {
                error = "--pipes and --shm exclude each other";
                return result;
            }
            channel_given = true;
            o.channel = c;
        } else if (w == "-c" || w == "--control") {
            if (!take_value(args, i, w, value, error)) return result;
            o.control_dir = value;
        } else if (w == "--dbtype") {
            if (!take_value(args, i, w, value, error)) return result;
            o.dbtype = value;
        } else if (w == "--serverid") {
            if (!take_value(args, i, w, value, error)) return result;
            o.serverid = value;
        } else if (w == "--timeout") {
            if (!take_value(args, i, w, value, error)) return result;
            if (!parse_timeout(value, o.timeout)) {
                error = "--timeout takes whole seconds from 1 to " + std::to_string(kMaxTimeout) + ", not '" +
                        value + "'";
                return result;
            }
        } else if (w == "--raw") {
            o.raw = true;
        } else {
            error = "unknown option '" + a + "'";
            return result;
        }
    }

    if (i >= args.size()) {
        error = "no request name given";
        return result;
    }
    o.name = args[i++];
    if (o.name.empty() || o.name.size() > static_cast<size_t>(kMaxCursorName)) {
        error = "request name '" + o.name + "' must have 1 to " + std::to_string(kMaxCursorName) + " characters";
        return result;
    }
    if (o.name.find_first_of(" ,") != std::string::npos) {
        error = "request name '" + o.name + "' must not contain blanks or commas";
        return result;
    }

    for (; i < args.size(); ++i) {
        if (o.parms.size() == static_cast<size_t>(kParmSlots)) {
            error = "at most " + std::to_string(kParmSlots) + " parameters";
            return result;
        }
        if (args[i].empty()) {
            // The channel sends only the filled slots, so an empty one would
            // shift every later parameter.
            error = "parameter " + std::to_string(o.parms.size() + 1) + " is empty";
            return result;
        }
        o.parms.push_back(args[i]);
    }
    result.options = std::move(o);
    return result;
}

std::string probe_usage() {
    return R"(Usage: qvxprobe [options] NAME [PARM ...]

Sends one request to the running collector, prints the reply and exits.

NAME is what to ask for:
  CURSOR     the rows of the cursor of that name (1 to 8 characters, as
             named in COLLECT.CTL); a demand cursor is collected first
  C-STATUS   one status record per cursor
  D-STATUS   one status record per distributor
  RETRACE    the collector reads its trace selection again (no rows)
  SHUTDOWN   the collector stops (no rows)
PARM values are the request parameters, in order (at most 40, none
empty); the collector hands them to the %parm variables. The whole request
(name, reply pipe path, parameters) must fit in 300 bytes.

Options:
  --pipes            use the named-pipe channel (sets COLL_USESHM=0)
  --shm              use the shared-memory channel (sets COLL_USESHM=1)
                     Without either, COLL_USESHM decides as it does for the
                     collector: unset or beginning with 1 is shared memory.
  -c, --control DIR  read the cursor definitions (COLLECT.CTL) from DIR to
                     print cursor rows as a table; the file is looked for
                     under DIR as the collector looks for it in its home:
                     DIR/SERVERID/<code>coll.ctl, DIR/SERVERID_<code>coll.ctl,
                     DIR/<code>coll.ctl, where <code> is the database-type
                     code (qvx, zeb, zep, ...) of the database type.
                     With DIR and no server id set, the server id is taken
                     from the "collector" block of PROCESS.CTL in DIR, as
                     the collector does.
  --dbtype TYPE      the database type, as the collector's -dbtype option:
                     it chooses the control-file names and is part of the
                     channel names (default COLL_VERSION, else "qvx")
  --serverid ID      the server id, as the collector's -serverid option
                     (default COLL_SERVERID)
  --timeout SECONDS  how long to wait for the collector, 1 to 600 (sets
                     WAIT_TIMEOUT; default WAIT_TIMEOUT, else 45)
  --raw              print every row as a hex dump instead
  -h, --help         print this text
Options come before NAME; "--" ends them.

Channel names come from the same settings as the collector's:
COLL_PREFIX_LOCAL (default COLL_PREFIX, else /tmp/$USER), COLL_SERVERID,
COLL_VERSION and COLL_HOSTNAME (default: uname -n). Run qvxprobe with the
collector's environment.

Output: a first line "NAME: N rows of L bytes" ("NAME: 0 rows" for an
empty reply), then the rows.
  With --control and a definition of the cursor: a header line of column
  names and one line per row. Integers print as %d, floats as %f, text and
  time stamps without trailing blanks and zero bytes; NS columns are not
  sent and do not appear. A text column's width comes from "^n", from a
  set_len clause, or from the percent variable or column it reads; when
  one column's width is not known it is whatever the row length leaves.
  When several are not known, the bytes from the first to the last of them
  print as one cell headed by the joined names (for example NAME+OWNER).
  If no layout fits the reply's row length, the rows print as text and a
  note goes to standard error.
  Otherwise: one line per row, printable characters as they are, "\\" for
  a backslash, "\0" for a zero byte, "\0{n}" for n zero bytes in a row and
  "\xNN" for any other byte.
  C-STATUS and D-STATUS rows print as one labelled block per record.
  Times on the collector's scale print as local time followed by the
  relative seconds in brackets; "-" means not set.

Messages of the collector library below error level are not shown; errors
go to standard error. No collector output file is written.

Exit status:
  0    the reply was printed (also for 0 rows)
  1    the collector did not answer in time, or the wait failed
  3    the collector's pipe could not be opened (tried for 10 seconds;
       no collector is running there) or written
  4    a pipe could not be created or read, or the reply was malformed
  8    no memory
  12   invalid channel function
  20   shared memory time-out
  21   shared memory error
  64   usage error
  66   the control file could not be read or has errors
The channel's error text goes to standard error.
)";
}

} // namespace qvx
