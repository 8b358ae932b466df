// What a receiver makes of bytes sent at another line rate. A pseudo-terminal carries bytes,
// not bits, so a wrong rate set by a client would go unnoticed; the server runs the client's
// bytes through this model instead, as a UART at the controllers' rate would hear them.
#pragma once

#include "sim/Frame.h"

#include <cstdint>

namespace vemox::sim {

// The bytes a receiver at `heardBaud` takes from `sent`, written back to back at `sentBaud`
// in 8N1 framing (start bit, eight data bits least significant first, stop bit) and followed
// by an idle line. Each byte starts at a falling edge and is sampled in the middle of every
// bit; a byte whose stop bit reads low is delivered all the same, as a terminal that does not
// check framing does. At equal rates the bytes come through unchanged.
Bytes HeardAt(const Bytes& sent, std::uint32_t sentBaud, std::uint32_t heardBaud);

} // namespace vemox::sim
