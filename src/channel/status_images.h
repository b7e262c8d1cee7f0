// Record images sent as status rows to the agent: a cursor as one
// "C-STATUS" row (456 bytes) and a distributor as one "D-STATUS" row
// (784 bytes). Integers in host byte order; pointer fields hold 0 when
// null and otherwise the low 32 bits of the address.
#pragma once

#include <array>
#include <cstdint>

#include "control/cursor.h"
#include "control/distributor.h"

namespace qvx {

constexpr size_t kCursorImageSize = 456;
constexpr size_t kDistribImageSize = 784;

using CursorImage = std::array<unsigned char, kCursorImageSize>;
using DistribImage = std::array<unsigned char, kDistribImageSize>;

CursorImage cursor_image(const curs& cursor);
DistribImage distrib_image(const distrib& d);

} // namespace qvx
