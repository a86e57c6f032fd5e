// The stages of a link up to TLS, each on its own so it can be tried against a fake of what lies
// beneath it: the way through the proxies (CProxyStage, over one CONNECT attempt that tests may
// replace), the direct TCP connection (ConnectDirect, over a real socket) and the TLS channel
// (SecureChannel, over a connected socket). They run on the opener's thread and end early on the
// stop descriptor or event.
#pragma once

#include <netinet/in.h>

#include <functional>
#include <memory>
#include <string>

#include "diag/UniqueFd.h"
#include "platform/Dialogs.h"
#include "platform/Event.h"
#include "tls/CertChooser.h"
#include "tls/sspi.h"
#include "tunnel/ProxySelector.h"

namespace vantrel {

class CProxyStage {
 public:
  // The legacy procedure and DetectProxyForHost until replaced; prmDialogs names whoever asks
  // for proxy credentials at the time of the attempt.
  explicit CProxyStage(std::function<IDialogs&()> prmDialogs);

  // The manual proxy: the only one tried; the link goes direct when it fails.
  void SetProxy(const std::string& prmProxy, int prmProxyPort);
  void SetDiscovery(TDetectProxy prmDetect);
  void SetConnector(TConnectThroughProxy prmConnect);
  // The tunnelled socket, or none: then the link connects directly. Never raises.
  TUniqueFd Open(const std::string& prmDest, int prmDestPort, int prmStopFd) const;

 private:
  TProxyRoute m_Route;
  TDetectProxy m_Detect;
  TConnectThroughProxy m_Connect;
};

// The direct TCP connection to prmHost:prmPort; prmIp receives the address in dotted form.
// Raises "Failed to create the control socket %d", "Failed to resolve host %s (%d)" and
// "Failed to connect to gateway (%d)" (ECANCELED when prmStopFd was signalled).
TUniqueFd ConnectDirect(const std::string& prmHost, int prmPort, int prmStopFd, std::string& prmIp);

// The TLS channel on a connected socket, with the chooser of a client certificate that the
// channel borrows during its handshake.
struct TTlsChannel {
  std::unique_ptr<ICertificateChooser> Chooser;
  std::unique_ptr<CSSPI> SSPI;
};
// The TLS stage: the handshake with prmHost (its certificate verified, or accepted once through
// prmDialogs and pinned for prmPort), the accepted key's fingerprint in prmKey, then the socket
// made non-blocking for the control thread. prmDialogs may be null: nobody is asked. Raises
// "Failed to connect to gateway (SSL failed)" and the handshake's own failures; prmStop ends a
// slow certificate store's reading.
TTlsChannel SecureChannel(int prmSock, const std::string& prmHost, int prmPort, int prmDeviceType,
                          IDialogs& prmChooserDialogs, IDialogs* prmDialogs, const TEvent& prmStop);

// connect() that ends early when prmStopFd becomes readable; 0 or the error. The system's own
// connect timeout still bounds it otherwise.
int ConnectCancellable(int prmSock, const sockaddr_in& prmAddr, int prmStopFd);

}  // namespace vantrel
