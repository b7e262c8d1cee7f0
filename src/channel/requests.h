// The agent request queue as the scheduling loop sees it. The channel
// arrives with the request handling; until then there is never a request
// and no channel is open.
#pragma once

namespace qvx {

// Result of do_upa when the queue held no request.
constexpr int kNoRequest = 100;

// Serves one agent request: 0 when one was answered, kNoRequest when
// none was waiting, negative on a channel failure.
int do_upa();

// True while the agent request channel is open.
bool upa_channel_open();

// Terminates the channel ("term"); 0 on success.
int term_upa_channel();

} // namespace qvx
