// The desktop-list reply and the state replies as an availability server may send them: any
// bytes become desktop records and flags, and drive the state query and the wake-up monitor.
#include <cstddef>
#include <cstdint>
#include <string>

#include "catalogue/DPP.h"
#include "catalogue/Host.h"
#include "catalogue/TCSCodes.h"
#include "config/DbMng.h"
#include "diag/Xml.h"
#include "platform/Event.h"

namespace {

// Answers every request with the fuzz input once, then signals the stop so a monitor that keeps
// polling ends.
class TFuzzOwner : public vantrel::IHostOwner {
 public:
  explicit TFuzzOwner(std::string prmReply) : m_Reply(std::move(prmReply)) {
    m_DBMng.SetOstraServer("127.0.0.1:9090");
  }
  vantrel::TDBMng& GetDBMng() override { return m_DBMng; }
  vantrel::ITCSUserInterface& GetUI() override { return m_UI; }
  bool InDestruction() override { return false; }
  bool FetchOstra(const std::string&, std::string& prmBody, std::string& prmFail) override {
    if (++m_Fetches > 3) {
      m_Stop.Set();
      prmFail = "stopped";
      return false;
    }
    prmBody = m_Reply;
    return true;
  }
  std::string GetUsername(bool) override { return "u"; }
  std::string GetPassword(bool) override { return "p"; }
  uint32_t ResolveHost(const std::string&) override { return 0; }
  void ReportError(int, const std::string&) override {}
  void PostHostStatus(int, int) override {}
  vantrel::TEvent& GetStopEvent() override { return m_Stop; }
  void Rearm() {
    m_Fetches = 0;
    m_Stop.Reset();
  }

 private:
  std::string m_Reply;
  vantrel::TSilentUserInterface m_UI;
  vantrel::TDBMng m_DBMng;
  vantrel::TEvent m_Stop{true};
  int m_Fetches = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* prmData, size_t prmSize) {
  std::string text(reinterpret_cast<const char*>(prmData), prmSize);
  vantrel::TXmlDoc doc = vantrel::TXmlDoc::ParseBytes(prmData, prmSize);
  TFuzzOwner owner(text);
  vantrel::TDPP dpp;
  dpp.Load(doc.Root(), owner.GetDBMng());
  auto hosts = vantrel::LoadHosts(doc.Root(), owner);
  for (auto& h : hosts) {
    (void)h->GetPort();
    (void)h->GetID_DNSHost();
    h->SetWakeupPollInterval(0);
    owner.Rearm();
    h->DoRefreshState();
    owner.Rearm();
    h->DoMonitorWakeup();
  }
  (void)vantrel::SplitParamList(text);
  return 0;
}
