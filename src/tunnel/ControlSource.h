// The control connection as the reader's byte source: plaintext from the TLS channel, waits on
// the socket and the manager's stop event together.
#pragma once

#include "platform/Event.h"
#include "tls/sspi.h"
#include "tunnel/ControlReader.h"

namespace vantrel {

class CTlsControlSource : public IControlSource {
 public:
  // Borrows all three; they outlive the control thread that uses this source.
  CTlsControlSource(CSSPI& prmSSPI, int prmSock, const TEvent& prmStop)
      : m_SSPI(prmSSPI), m_Sock(prmSock), m_Stop(prmStop) {}

  int Read(uint8_t* prmBuf, int prmLen) override;
  TWait Wait(int prmTimeoutMs) override;

 private:
  CSSPI& m_SSPI;
  int m_Sock;
  const TEvent& m_Stop;
};

}  // namespace vantrel
