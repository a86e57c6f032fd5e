#include "session/SessionVerifier.h"

#include "tunnel/TCSProtocolBase.h"

namespace vantrel {

TSessionVerifier::TSessionVerifier(TSessionContext& prmSession)
    : m_Protocol(prmSession.Protocol()), m_Probes(CreateSystemProbes()) {
  m_Ctx.Protocol = this;
  m_Ctx.UI = &prmSession.Dialogs();
  m_Ctx.Probes = m_Probes.get();
}

void TSessionVerifier::SendLogMsg(int prmLevel, const std::string& prmProtocol,
                                  const std::string& prmText) {
  if (m_Protocol)
    m_Protocol->SendLogMsg(static_cast<uint8_t>(prmLevel), prmProtocol, 0, "", prmText);
}

}  // namespace vantrel
