// Where OpenSSL puts the channel's outgoing records: a write-only BIO that appends them to a byte
// vector the channel owns. The channel swaps the vector out and sends it as it is, so ciphertext
// is not copied again on its way to the socket, and the vector keeps its capacity between sends.
#pragma once

#include <openssl/bio.h>

#include <cstdint>
#include <vector>

namespace vantrel {

// A new BIO appending to *prmStore, which outlives it; null when OpenSSL is out of memory. Its
// pending count is the store's size; flush succeeds; reading gives nothing.
BIO* NewOutputBio(std::vector<uint8_t>* prmStore);

}  // namespace vantrel
