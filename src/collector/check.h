// qvxcoll --check: the settings and the control files read exactly as a
// start-up reads them, every finding printed on one line of standard
// output, and nothing else done: no output file, no logon (unless
// --connect), no channel object.
//
// Each line is a kind, a message id with its level letter, a place and a
// text, separated by single blanks:
//
//   ERROR PCC0315E /ctl/qvxcoll.ctl:12 Unknown keyword (intervl)
//   WARNING PPC1265W /ctl/qvxproc.ctl:4 Mon_Fri_start without its end ignored in upa
//   FILE CHK0100I /ctl/qvxcoll.ctl COLLECT.CTL ok: 3 cursors, 10 columns
//   LOGON CHK0200I COLL_CONNECT logged on to sqlite:/data/prod.db
//   SQL CHK0215E /ctl/qvxcoll.ctl:20 SESSIONS does not prepare: -20001 no such table: x
//   RESULT CHK0300I - valid: 4 files, 0 warnings
//
// The place of a finding is the control file and the line of the
// statement it belongs to (0 when it belongs to the file as a whole).
#pragma once

#include <ostream>
#include <string>

namespace qvx {

// Runs the check over the arguments (argv[0] the program; the operator
// words already taken out). Returns the exit status: 0 when everything is
// valid, 1 otherwise.
int run_check(int argc, char** argv, bool connect, std::ostream& out);

// One line of the check.
void check_line(std::ostream& out, const char* kind, const std::string& id, const std::string& place,
                const std::string& text);

// --connect: logs on as the collector distributor would and prepares the
// SELECT of every cursor that runs one, without running it. The cursors'
// places are in collect_path. Returns the number of failures.
int check_connection(std::ostream& out, const std::string& collect_path);

// Forgets the check's state (tests).
void reset_check();

} // namespace qvx
