// Messages from the client: checks against what the client must send, answers, tunnel-up and
// the after-up script.
#include "diag/TextCodecs.h"
#include "testpeer/GatewaySession.h"

namespace vantrel::testpeer {

namespace {

constexpr size_t kMaxHostName = 4096;

bool IsZero(const std::array<uint8_t, 4>& prmBytes) {
  return prmBytes == std::array<uint8_t, 4>{};
}

}  // namespace

bool TGatewaySession::ParseMessage() {
  const size_t hs = HeaderSize(m_Protocol);
  const size_t avail = m_In.size() - m_InPos;
  if (m_Phase == TPhase::Closed || avail < hs) return false;
  const uint8_t* p = m_In.data() + m_InPos;
  TWireHeader h = DecodeHeader(m_Protocol, p);
  if (h.Len > kMaxClientPayload) {
    Error("client message code " + std::to_string(h.ActionCode) + " announces " +
          std::to_string(h.Len) + " payload bytes");
    CloseControl("oversized client message");
    return false;
  }
  if (avail < hs + h.Len) return false;
  const uint32_t code = h.ActionCode & 0xff;
  if (code == 6 && m_Phase == TPhase::Up && h.ActionCode == code &&
      m_RecordedData + h.Len > m_RecordLimit) {
    // Bulk data beyond what the recorder keeps: straight from the input to the destination.
    m_InPos += hs + h.Len;
    const bool first = m_Protocol == TProtocol::First;
    OnData(h, first ? FirstProtocolDestAddr(h) : 0, first ? h.ListenPort : 0, p + hs, h.Len);
    return true;
  }
  TPeerMessage msg;
  msg.Session = m_Number;
  msg.Code = h.ActionCode;
  msg.Fields = h;
  msg.Header.assign(p, p + hs);
  msg.Payload.assign(p + hs, p + hs + h.Len);
  if (m_Protocol == TProtocol::First && (code == 6 || code == 7 || code == 9)) {
    msg.DestAddr = FirstProtocolDestAddr(h);
    msg.DestPort = h.ListenPort;
  }
  m_InPos += hs + h.Len;
  Dispatch(msg);
  return true;
}

void TGatewaySession::Dispatch(TPeerMessage& prmMsg) {
  const uint32_t code = prmMsg.Code & 0xff;
  if (prmMsg.Code > 0xff)
    Error("code " + std::to_string(code) + " has non-zero bytes 1 to 3 in its ActionCode");
  if (m_Phase == TPhase::AwaitInit && code != 15)
    Error("code " + std::to_string(code) + " before the init message");
  auto sc = Scenario();
  bool keepPayload = true;
  switch (code) {
    case 15:
      OnInit(prmMsg);
      break;
    case 16:  // legacy module identifier: recorded only
      break;
    case 9:
      OnOpen(prmMsg);
      break;
    case 6:
      keepPayload = m_RecordedData + prmMsg.Payload.size() <= sc->RecordDataLimit;
      if (keepPayload) m_RecordedData += prmMsg.Payload.size();
      OnData(prmMsg.Fields, prmMsg.DestAddr, prmMsg.DestPort, prmMsg.Payload.data(),
             prmMsg.Payload.size());
      break;
    case 7:
      OnClientClose(prmMsg);
      break;
    case 13:
      CheckHeaderOnly(prmMsg);
      m_Recorder.Update([](TPeerCounters& c) { ++c.Keepalives; });
      break;
    case 18:
    case 19:
      CheckHeaderOnly(prmMsg);
      if (!sc->IsSilent(code)) AnswerText(code, code == 18 ? sc->UserName : sc->Password);
      break;
    case 20:
      if (!sc->IsSilent(code)) AnswerResolve(prmMsg);
      break;
    case 22:
      OnLogRecord(prmMsg);
      break;
    case 23:
      CheckHeaderOnly(prmMsg);
      if (!sc->IsSilent(code)) AnswerTimers();
      break;
    case 25:
      CheckHeaderOnly(prmMsg);
      break;
    case 82:
      CheckHeaderOnly(prmMsg);
      m_Recorder.Update([](TPeerCounters& c) { ++c.ProbeAnswers; });
      break;
    default:
      Error("unknown code " + std::to_string(code) + " from the client");
  }
  // Data beyond the record limit is only counted, so that bulk transfers stay cheap.
  if (code != 6 || keepPayload) m_Recorder.AddMessage(std::move(prmMsg), true);
}

void TGatewaySession::CheckHeaderOnly(const TPeerMessage& prmMsg) {
  const TWireHeader& h = prmMsg.Fields;
  if (h.Len != 0 || !IsZero(h.ListenIP) || h.ListenPort != 0 || h.RemotePort != 0)
    Error("code " + std::to_string(h.ActionCode & 0xff) + " has non-zero header fields");
}

void TGatewaySession::OnInit(const TPeerMessage& prmMsg) {
  // The legacy init carries the session text as payload; the first protocol's is header-only.
  if (m_Protocol == TProtocol::First) CheckHeaderOnly(prmMsg);
  if (m_Phase != TPhase::AwaitInit) {
    Error("repeated init message");
    return;
  }
  SetPhase(TPhase::Up);
  auto sc = Scenario();
  const int upCode = sc->TunnelUpCode;
  if (upCode == 0) return;
  auto up = [this, upCode] {
    QueueMessage(GatewayHeader(static_cast<uint32_t>(upCode)));
    OnTunnelUp();
  };
  if (sc->TunnelUpDelayMs > 0)
    Schedule(sc->TunnelUpDelayMs, up);
  else
    up();
}

void TGatewaySession::OnTunnelUp() {
  auto sc = Scenario();
  if (sc->ProbeIntervalMs > 0) Schedule(sc->ProbeIntervalMs, [this] { SendProbe(); });
  if (sc->CloseAfterMs >= 0)
    Schedule(sc->CloseAfterMs, [this] { CloseControl("closeAfterMs reached"); });
  if (sc->StopReadingAfterMs >= 0)
    Schedule(sc->StopReadingAfterMs, [this] { m_StopReading = true; });
  RunScript(0);
}

void TGatewaySession::SendProbe() {
  QueueMessage(GatewayHeader(81));
  m_Recorder.Update([](TPeerCounters& c) { ++c.ProbesSent; });
  int interval = Scenario()->ProbeIntervalMs;
  if (interval > 0) Schedule(interval, [this] { SendProbe(); });
}

void TGatewaySession::RunScript(size_t prmStep) {
  auto sc = Scenario();
  if (prmStep >= sc->AfterUp.size()) return;
  Schedule(sc->AfterUp[prmStep].DelayMs, [this, sc, prmStep] {
    const TScriptStep& step = sc->AfterUp[prmStep];
    if (!step.Bytes.empty()) QueueRecord(step.Bytes);
    if (step.Close) {
      // Let what the script sent so far go out before the connection ends.
      m_CloseWhenFlushed = true;
      return;
    }
    RunScript(prmStep + 1);
  });
}

void TGatewaySession::AnswerText(uint32_t prmCode, const std::string& prmText) {
  QueueMessage(GatewayHeader(prmCode, 0, static_cast<uint32_t>(prmText.size())),
               TBytes(prmText.begin(), prmText.end()));
}

void TGatewaySession::AnswerResolve(const TPeerMessage& prmMsg) {
  if (prmMsg.Payload.empty() || prmMsg.Payload.size() > kMaxHostName)
    Error("host name of " + std::to_string(prmMsg.Payload.size()) + " bytes");
  std::string name(prmMsg.Payload.begin(), prmMsg.Payload.end());
  auto sc = Scenario();
  uint32_t addr = sc->UnknownHostAddress;
  for (const auto& [host, dotted] : sc->Hosts)
    if (SameText(host, name)) ParseDottedQuad(dotted, addr);
  TWireHeader h = GatewayHeader(20);
  h.ListenIP = BigEndian32(addr);  // network byte order in both protocols
  QueueMessage(h);
}

void TGatewaySession::AnswerTimers() {
  auto sc = Scenario();
  // Lifetime rides in Len with no payload behind it; the legacy idle time is little-endian.
  TWireHeader h = GatewayHeader(23, 0, sc->LifeTime);
  h.ListenIP =
      m_Protocol == TProtocol::First ? BigEndian32(sc->IdleTime) : LittleEndian32(sc->IdleTime);
  QueueMessage(h);
}

void TGatewaySession::OnLogRecord(const TPeerMessage& prmMsg) {
  TLogRecord rec;
  rec.Session = m_Number;
  std::string why;
  if (!ParseLogRecord(prmMsg.Payload, rec, why)) {
    Error(why);
    return;
  }
  m_Recorder.AddLogRecord(rec);
}

}  // namespace vantrel::testpeer
