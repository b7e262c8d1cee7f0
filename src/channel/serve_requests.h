// Request service group: serving the agent, what the collector does with
// the requests the channel brings. The "upa" distributor calls do_upa,
// which opens the channel on its first pass, takes the waiting request and
// answers it with status images or the rows of the cursor it names. The
// channel is reached through the dispatcher only.
#pragma once

#include "channel/comm_dispatch.h"

namespace qvx {

// Result of do_upa when the queue held no request.
constexpr int kNoRequest = 100;

// The collector's end of the channel; null until the first service pass.
extern comm_anchor* ipc_ptr;

// Serves one pass: 0 when requests were answered, kNoRequest when none
// was waiting, -1 on a channel error or when a cursor's rows could not be
// built. Ends the collector (quitting(-1004)) when the channel cannot be
// built in three attempts. A channel that waits for a request (shared
// memory) waits at most max_wait seconds when that is not negative, so
// that the next collection is not held up.
int do_upa(long max_wait = -1);

// Fills the block with the rows of the cursor it names; 0, or 1 when the
// cursor is unknown, has no rows or memory is exhausted.
int get_probe_data(curs_list& block);

// Fills the block with one status image per cursor ("C-STATUS") or per
// distributor ("D-STATUS"); false when memory is exhausted.
bool build_status_reply(curs_list& block);

// True while the agent request channel is open.
bool upa_channel_open();

// Terminates the channel ("term"); 0 when it is closed afterwards.
int term_upa_channel();

// Releases the channel objects ("shut"), at the end of the process.
void shut_upa_channel();

// The seconds between the attempts to build the channel (3; tests shorten it).
extern unsigned channel_retry_seconds;

// Closes the channel and forgets it (tests).
void reset_requests();

} // namespace qvx
