// What the verification code needs from the session that runs it: a way to the gateway log, the
// dialogs, and the endpoint probes. The session implements the gateway log; any member may be
// absent, and each user of it then does nothing towards that party.
#pragma once

#include <map>
#include <string>

namespace vantrel {

class IDialogs;
class IProbes;

// The gateway log of the tunnel manager (SendLogMsg).
class IGatewayLog {
 public:
  virtual ~IGatewayLog() = default;
  virtual void SendLogMsg(int prmLevel, const std::string& prmProtocol,
                          const std::string& prmText) = 0;
};

// Gateway log levels used by verification.
constexpr int CLV_LOG_CRITICAL = 2;
constexpr int CLV_LOG_WARNING = 4;
constexpr int CLV_LOG_INFORMATION = 6;
// The protocol name some verification messages carry.
inline constexpr const char* CLV_PROTOCOL = "VantrelTCS";

struct TVerifyContext {
  IGatewayLog* Protocol = nullptr;  // the tunnel manager; none = nothing goes to the gateway
  IDialogs* UI = nullptr;           // none = dialogs answer as if closed
  IProbes* Probes = nullptr;        // none = every probe finds nothing
};

// Name=value pairs of one rule, written by actions and read by the "param" evaluator.
using TRuleParams = std::map<std::string, std::string>;

}  // namespace vantrel
