#include "channel/requests.h"

namespace qvx {

int do_upa() { return kNoRequest; }

bool upa_channel_open() { return false; }

int term_upa_channel() { return 0; }

} // namespace qvx
