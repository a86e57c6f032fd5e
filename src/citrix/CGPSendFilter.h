// The send filter of the CGP listener. The ICA client tells the CGP server which address and
// port it reached; through the tunnel that is the loopback listener, so the first such address
// in what the client sends is rewritten to the ICA port the server expects.
#pragma once

#include <cstdint>

namespace vantrel {

// Finds the first "127.0.0.1:" whose four following bytes lie inside the piece, overwrites those
// bytes with "1494" and, when the byte after them is inside the piece and a decimal digit,
// replaces it with a zero byte. True when it rewrote (the filter is then done), false when the
// piece has no such place and goes out unchanged. Touches only the piece; any thread.
bool CGPSendFilter(uint8_t* prmBuf, uint32_t prmLen);

}  // namespace vantrel
