// Where the control thread's bytes come from: plaintext from the TLS channel, with waits on the
// socket and the manager's stop event together, and the failure accounting of its reads.
#pragma once

#include <cstdint>

#include "platform/Event.h"
#include "tls/sspi.h"

namespace vantrel {

class IControlSource {
 public:
  static constexpr int kClosed = -1;
  enum class TWait { Ready, Timeout, Stopped };

  virtual ~IControlSource() = default;
  // Up to prmLen bytes: their count, 0 when nothing is available now, kClosed when the peer has
  // closed the connection. Raises EBaseException when receiving or decrypting failed.
  virtual int Read(uint8_t* prmBuf, int prmLen) = 0;
  // Waits up to prmTimeoutMs until there may be something to read (or the peer closed).
  virtual TWait Wait(int prmTimeoutMs) = 0;
  // After a read that gave bytes: whether another read might give more without waiting first.
  virtual bool MayHaveMore() const { return true; }
};

// After this many reads in a row that raised, the connection counts as lost: a persistent
// failure must not keep the control thread spinning.
constexpr int kMaxReadFailures = 8;

// One Read with the failure accounting of the control thread: a read that raised is logged and
// counts as "nothing now", and after kMaxReadFailures of them in a row the connection counts as
// lost (kClosed). prmFailures carries the count between calls.
int ReadCounted(IControlSource& prmSource, uint8_t* prmBuf, int prmLen, int& prmFailures);

class CTlsControlSource : public IControlSource {
 public:
  // Borrows all three; they outlive the control thread that uses this source.
  CTlsControlSource(CSSPI& prmSSPI, int prmSock, const TEvent& prmStop)
      : m_SSPI(prmSSPI), m_Sock(prmSock), m_Stop(prmStop) {}

  int Read(uint8_t* prmBuf, int prmLen) override;
  TWait Wait(int prmTimeoutMs) override;
  bool MayHaveMore() const override;

 private:
  CSSPI& m_SSPI;
  int m_Sock;
  const TEvent& m_Stop;
};

}  // namespace vantrel
