// The server status field: the "SQLRC" column of the "SERVSTAT" virtual
// cursor, where the last database failure code is shown.
#pragma once

namespace qvx {

// Location and width of the field; null and 0 while no such cursor exists.
extern char* servstatus;
extern int servstatus_len;

// Blank-fills the field and, for a code other than 0, 100 and 1403,
// writes the decimal code at its start.
void set_status(int code);

// Forgets the field (its cursor goes).
void forget_server_status();

} // namespace qvx
