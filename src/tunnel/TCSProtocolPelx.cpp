#include "tunnel/TCSProtocolPelx.h"

#include <new>
#include <string_view>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "diag/NetAddress.h"
#include "diag/TextCodecs.h"
#include "tunnel/LegacyWire.h"
#include "tunnel/LocalHost.h"

namespace vantrel {

CAppMngPelx::CAppMngPelx(std::string prmSP, int prmSPPort, std::string prmSPCookie,
                         std::string prmSessCookie, std::string prmModuleID)
    : CAppMngCommon(*this, std::move(prmSP), prmSPPort, std::move(prmSPCookie),
                    std::move(prmSessCookie), std::move(prmModuleID), nullptr) {}

CAppMngPelx::~CAppMngPelx() {
  Shutdown();
}

std::string CAppMngPelx::TunnelRequest() const {
  return BuildLegacyTunnelRequest(m_SPCookie);
}

bool CAppMngPelx::CheckReply(ITunnelChannel& prmChannel) {
  char reply[kReplyBufSize] = {};
  int got = 0;
  prmChannel.ReadReply(reply, sizeof reply, false, got);
  return IsLegacyReplyOk(std::string_view(reply, static_cast<size_t>(got)));
}

void CAppMngPelx::SendInitMsg() {
  std::string text;
  try {
    text = LegacySessionInit(m_SessCookie);
  } catch (const std::bad_alloc&) {
    throw EBaseException("Session Init : Failed to allocate memory");
  }
  TLegacyAppHeader h;
  h.ActionCode = mcInit;
  h.Len = static_cast<int32_t>(text.size());
  // Not reported: a tunnel that cannot carry it will not come up either.
  Mux().SendMsg(h, text.data(), text.size(), "SendCtrlMsg Exception (");
}

void CAppMngPelx::SendModuleID() {
  std::string id = ToAnsi(m_ModuleID);
  if (id.size() >= kMaxModuleIDLen) {
    WriteDebugLog("AppMng.SendModuleID - module identifier too long (" + std::to_string(id.size()) +
                  ")");
    return;
  }
  TLegacyAppHeader h;
  h.ActionCode = mcModuleID;
  h.Len = static_cast<int32_t>(id.size());
  Mux().SendMsg(h, id.data(), id.size(), "SendModuleID Exception (");
}

int CAppMngPelx::HeaderSize() const {
  return kLegacyHeaderSize;
}

void CAppMngPelx::EncodeHdr(const TLegacyAppHeader& prmHdr, uint8_t* prmOut) const {
  TLegacyAppHeader h = prmHdr;
  // Messages about a connection name the client's own end, never the destination.
  if (h.ActionCode == mcData || h.ActionCode == mcClose || h.ActionCode == mcOpen) {
    ParseDottedQuad(GetFixedLocalHostAddr(), h.ListenIP);
    h.ListenPort = kLegacyConnPort;
  } else {
    h.ListenIP = 0;
    h.ListenPort = 0;
  }
  EncodeLegacyHeader(h, prmOut);
}

TLegacyAppHeader CAppMngPelx::DecodeHdr(const uint8_t* prmHdr) const {
  return DecodeLegacyHeader(prmHdr);
}

void CAppMngPelx::OnIdleSecond(int& prmIdleCount) {
  if (prmIdleCount < m_KeepAliveSecs) return;
  Mux().SendHeaderOnly(mcKeepAlive, "SendKeepAlive Exception (");
  prmIdleCount = 0;
}

IControlDispatch::TPayload CAppMngPelx::OnHeader(const TLegacyAppHeader& prmHdr) {
  switch (prmHdr.ActionCode) {
    case mcTunnelUp:
      return TPayload::None;
    case mcData:
      return TPayload::Data;
    case mcTimers:
      // Len is the lifetime here; nothing follows the header.
      Mux().Requests().Answer(TRequestTable::rkTimers,
                              {LegacyIdleTime(prmHdr), static_cast<uint32_t>(prmHdr.Len), {}});
      return TPayload::None;
    default:
      return TPayload::Read;
  }
}

void CAppMngPelx::OnMessage(const TLegacyAppHeader& prmHdr, const uint8_t* prmPayload,
                            size_t prmLen) {
  if (prmHdr.ActionCode == mcTunnelUp) {
    SendModuleID();
    Link().SetState(TTunnelState::Up);
  } else {
    Mux().OnSharedMessage(prmHdr, prmPayload, prmLen);
  }
}

bool CAppMngPelx::SendOpenConn(int prmID, const std::string& prmDestIP, int prmDestPort) {
  uint32_t addr = 0;
  ParseDottedQuad(prmDestIP, addr);
  std::vector<uint8_t> payload = EncodeLegacyOpen(addr, static_cast<uint16_t>(prmDestPort));
  TLegacyAppHeader h{mcOpen, 0, 0, static_cast<uint16_t>(prmID),
                     static_cast<int32_t>(payload.size())};
  return Mux().SendMsg(h, payload.data(), payload.size(), "SendOpenConn Exception (");
}

std::shared_ptr<CConn> CAppMngPelx::NewConn(TUniqueFd prmCSock, const std::string& prmDestIP,
                                            int prmDestPort, HWND prmNotifyDest,
                                            uint32_t prmNotifyMsg) {
  return std::make_shared<CPelxConn>(&Mux(), std::move(prmCSock), prmDestIP, prmDestPort,
                                     prmNotifyDest, prmNotifyMsg);
}

void CAppMngPelx::NotifyLost() {
  HWND wnd = m_OnCloseWnd;
  if (wnd != nullptr) SendMessage(wnd, m_OnCloseMsgID);
}

void CPelxConn::ConnThd() {
  Relay(nullptr, "ConnThd - Unexpected error (");
}

bool CPelxConn::SendData(const uint8_t* prmBuf, int prmLen) {
  return WriteToApp(prmBuf, prmLen);
}

}  // namespace vantrel
