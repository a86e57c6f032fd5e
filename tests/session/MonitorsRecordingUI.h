// A reporting channel that keeps every report as one line of text, in order, for the monitor and
// file-exchange tests: "status <id> <lparam> <text>", "error <id> <text>", "idle <s>",
// "lifetime <s>", "idlekm <s>", "clear".
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "catalogue/TCSCodes.h"

namespace vantrel::test {

class TRecordingUI : public ITCSUserInterface {
 public:
  void UpdateTCSStatus(int prmID, int prmLParam, const std::string& prmSParam) override {
    if (prmID == TCS_STATUS_NONE) return;
    Add("status " + std::to_string(prmID) + " " + std::to_string(prmLParam) + " " + prmSParam);
  }
  void ReportError(int prmErrorID, const std::string& prmExtra) override {
    Add("error " + std::to_string(prmErrorID) + " " + prmExtra);
  }
  void IdleTimeoutAlert(int prmSecondsLeft) override {
    Add("idle " + std::to_string(prmSecondsLeft));
  }
  void LifetimeTimeoutalert(int prmSecondsLeft) override {
    Add("lifetime " + std::to_string(prmSecondsLeft));
  }
  void IdleTimeoutAlertKM(int prmSecondsLeft) override {
    Add("idlekm " + std::to_string(prmSecondsLeft));
  }
  void ClearTimeoutAlerts() override { Add("clear"); }
  void UpdateHostStatus(int prmID, int prmLParam) override {
    Add("host " + std::to_string(prmID) + " " + std::to_string(prmLParam));
  }
  void DisableCustomDest() override { Add("nocustom"); }

  std::vector<std::string> Reports() {
    std::lock_guard<std::mutex> g(m_Lock);
    return m_Reports;
  }

 private:
  void Add(std::string prmLine) {
    std::lock_guard<std::mutex> g(m_Lock);
    m_Reports.push_back(std::move(prmLine));
  }

  std::mutex m_Lock;
  std::vector<std::string> m_Reports;
};

}  // namespace vantrel::test
