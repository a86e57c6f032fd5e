#include "tunnel/LinkStages.h"

#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "diag/Exceptions.h"
#include "diag/NetAddress.h"
#include "platform/Resolver.h"
#include "proxy/ProxyTransport.h"
#include "proxy/ProxyUtils.h"
#include "tls/DlgSelectCert.h"

namespace vantrel {

CProxyStage::CProxyStage(std::function<IDialogs&()> prmDialogs)
    : m_Detect([](const std::string& prmHost, std::vector<std::string>& prmList, bool& prmDirect) {
        return DetectProxyForHost(prmHost, prmList, prmDirect);
      }),
      m_Connect([dialogs = std::move(prmDialogs)](const std::string& prmProxy, int prmPort,
                                                  const std::string& prmDest, int prmDestPort) {
        return ConnectLegacyProxy(dialogs(), prmProxy, prmPort, prmDest, prmDestPort);
      }) {}

void CProxyStage::SetProxy(const std::string& prmProxy, int prmProxyPort) {
  m_Route = {true, prmProxy, prmProxyPort};
}

void CProxyStage::SetDiscovery(TDetectProxy prmDetect) {
  if (prmDetect) m_Detect = std::move(prmDetect);
}

void CProxyStage::SetConnector(TConnectThroughProxy prmConnect) {
  if (prmConnect) m_Connect = std::move(prmConnect);
}

TUniqueFd CProxyStage::Open(const std::string& prmDest, int prmDestPort, int prmStopFd) const {
  TProxyStopScope stop(prmStopFd);
  return OpenThroughProxies(m_Route, prmDest, prmDestPort, m_Connect, m_Detect);
}

TUniqueFd ConnectDirect(const std::string& prmHost, int prmPort, int prmStopFd,
                        std::string& prmIp) {
  TUniqueFd sock(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!sock) throw EBaseException::CreateFmt("Failed to create the control socket %d", errno);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  int rc = 0;
  switch (ResolveIPv4(prmHost, addr.sin_addr, {prmStopFd}, &rc)) {
    case TResolveResult::Resolved:
      break;
    case TResolveResult::Cancelled:
      throw EBaseException::CreateFmt("Failed to connect to gateway (%d)", ECANCELED);
    default:
      throw EBaseException::CreateFmt("Failed to resolve host %s (%d)", prmHost, rc);
  }
  addr.sin_port = htons(static_cast<uint16_t>(prmPort));
  const int err = ConnectCancellable(sock.Get(), addr, prmStopFd);
  if (err != 0) throw EBaseException::CreateFmt("Failed to connect to gateway (%d)", err);
  prmIp = FormatNetAddress(addr.sin_addr.s_addr);
  return sock;
}

TTlsChannel SecureChannel(int prmSock, const std::string& prmHost, int prmPort, int prmDeviceType,
                          IDialogs& prmChooserDialogs, IDialogs* prmDialogs,
                          const TEvent& prmStop) {
  TTlsChannel tls;
  tls.SSPI = std::make_unique<CSSPI>(prmDeviceType);
  // Without dialogs of its own the link's logging ones stand in: a single unprotected
  // certificate is still used, every question counts as cancelled, and the no-certificate text
  // only reaches the debug log.
  // A release during the handshake ends the store's reading too (it may be slow: files with
  // costly key derivation, passphrases, tokens).
  TStopCheck stop = [&prmStop] { return prmStop.IsSet(); };
  tls.Chooser = std::make_unique<TCertificateChooser>(
      prmChooserDialogs, [stop](IDialogs& prmAsk) { return OpenPersonalStore(prmAsk, stop); },
      stop);
  tls.SSPI->SetCertificateChooser(tls.Chooser.get());
  tls.SSPI->SetDialogs(prmDialogs);
  // Without a user to ask, a certificate that cannot be verified is refused.
  tls.SSPI->SetGatewayTrust(prmPort, prmDialogs);
  if (!tls.SSPI->PerformHandshake(prmSock, prmHost, prmDeviceType))
    throw EBaseException("Failed to connect to gateway (SSL failed)");
  fcntl(prmSock, F_SETFL, fcntl(prmSock, F_GETFL) | O_NONBLOCK);
  // Every message goes out as one whole TLS record already; holding small ones back until the
  // gateway acknowledges the last (Nagle) only adds its delayed-ACK time to each exchange.
  int one = 1;
  setsockopt(prmSock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return tls;
}

int ConnectCancellable(int prmSock, const sockaddr_in& prmAddr, int prmStopFd) {
  // Non-blocking while connecting so that the stop descriptor ends the wait.
  const int flags = fcntl(prmSock, F_GETFL);
  fcntl(prmSock, F_SETFL, flags | O_NONBLOCK);
  int err = 0;
  if (connect(prmSock, reinterpret_cast<const sockaddr*>(&prmAddr), sizeof prmAddr) != 0) {
    err = errno;
    while (err == EINPROGRESS || err == EINTR) {
      pollfd fds[2] = {{prmSock, POLLOUT, 0}, {prmStopFd, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents & POLLIN) return ECANCELED;
      if (fds[0].revents == 0) continue;
      socklen_t len = sizeof err;
      if (getsockopt(prmSock, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    }
  }
  fcntl(prmSock, F_SETFL, flags);
  return err;
}

}  // namespace vantrel
