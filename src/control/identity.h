// The collector's identity between the settings and PROCESS.CTL.
#pragma once

namespace qvx {

// Copies logon id, password and server id between the settings and the
// collector distributor and fills machine_id.
void set_collector_identity();

} // namespace qvx
