// Record images sent as status rows to the agent: a cursor as one
// "C-STATUS" row (456 bytes) and a distributor as one "D-STATUS" row
// (784 bytes), laid out by the field tables of status_layout.
#pragma once

#include <array>
#include <cstdint>

#include "channel/status_layout.h"
#include "control/cursor.h"
#include "control/distributor.h"

namespace qvx {

using CursorImage = std::array<unsigned char, kCursorImageSize>;
using DistribImage = std::array<unsigned char, kDistribImageSize>;

CursorImage cursor_image(const curs& cursor);
DistribImage distrib_image(const distrib& d);

} // namespace qvx
