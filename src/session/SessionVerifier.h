// What endpoint verification borrows from a running session: the tunnel's gateway log, the
// session's dialogs and this machine's probes. Lives for one verification run.
#pragma once

#include <memory>

#include "platform/Probes.h"
#include "session/SessionContext.h"
#include "verify/VerifyContext.h"

namespace vantrel {

class TSessionVerifier final : public IGatewayLog {
 public:
  explicit TSessionVerifier(TSessionContext& prmSession);
  TSessionVerifier(const TSessionVerifier&) = delete;
  TSessionVerifier& operator=(const TSessionVerifier&) = delete;

  const TVerifyContext& Context() const { return m_Ctx; }
  // Goes to the gateway with destination 0 and no destination name; dropped without a tunnel.
  void SendLogMsg(int prmLevel, const std::string& prmProtocol,
                  const std::string& prmText) override;

 private:
  // Held so the tunnel cannot go while a rule still logs to it.
  std::shared_ptr<CAppMng> m_Protocol;
  std::unique_ptr<IProbes> m_Probes;
  TVerifyContext m_Ctx;
};

}  // namespace vantrel
