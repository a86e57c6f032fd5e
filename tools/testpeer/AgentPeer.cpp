#include "testpeer/AgentPeer.h"

namespace vantrel::testpeer {

namespace {

TAvailScenario AgentScenario(TAgentAnswer prmAnswer) {
  TAvailScenario sc;
  sc.AgentType = prmAnswer == TAgentAnswer::Type1 ? 1 : prmAnswer == TAgentAnswer::Type2 ? 2 : 0;
  TAvailFault fault;
  fault.Path = "/agent/info";
  if (prmAnswer == TAgentAnswer::NotXml) {
    fault.Body = "agent ready";
    sc.Faults.push_back(fault);
  } else if (prmAnswer == TAgentAnswer::Nothing) {
    fault.Silent = true;
    sc.Faults.push_back(fault);
  }
  return sc;
}

}  // namespace

TServerAgentPeer::TServerAgentPeer(TAgentAnswer prmAnswer) : m_Server(AgentScenario(prmAnswer)) {}

}  // namespace vantrel::testpeer
