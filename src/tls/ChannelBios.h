// The BIOs between the channel and OpenSSL, both over the channel's own buffers so that
// ciphertext is not copied through memory BIOs on its way.
// - Output: a write-only BIO that appends OpenSSL's records to a byte vector the channel owns.
//   The channel swaps the vector out and sends it as it is, and the vector keeps its capacity
//   between sends.
// - Input: a read-only BIO that OpenSSL reads records from where the channel received them (a
//   window on its receive buffer). Bytes OpenSSL leaves unread are copied aside before the
//   window's buffer changes and given out first next time.
#pragma once

#include <openssl/bio.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantrel {

// A new BIO appending to *prmStore, which outlives it; null when OpenSSL is out of memory. Its
// pending count is the store's size; flush succeeds; reading gives nothing.
BIO* NewOutputBio(std::vector<uint8_t>* prmStore);

// What the input BIO gives OpenSSL: kept bytes first, then the window.
class TInputWindow {
 public:
  // The bytes OpenSSL reads next (after any kept ones); they must stay put until Keep.
  void Show(const uint8_t* prmData, size_t prmLen) {
    m_Data = prmData;
    m_Len = prmLen;
  }
  // Copies what OpenSSL left of the window aside: the window's buffer may change afterwards.
  void Keep();
  // Up to prmLen bytes into prmOut; their count (0: nothing now).
  size_t Take(uint8_t* prmOut, size_t prmLen);
  size_t Pending() const { return m_Kept.size() - m_KeptPos + m_Len; }

 private:
  const uint8_t* m_Data = nullptr;
  size_t m_Len = 0;
  std::vector<uint8_t> m_Kept;
  size_t m_KeptPos = 0;
};

// A new BIO reading from *prmWindow, which outlives it; null when OpenSSL is out of memory. An
// empty window means "more bytes needed" (a retry), never end of stream.
BIO* NewInputBio(TInputWindow* prmWindow);

}  // namespace vantrel
