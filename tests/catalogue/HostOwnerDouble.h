// A session double for desktop records: a real store, a real window receiving the host-status
// messages, a scripted availability server behind FetchOstra, and a real stop event.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/HostOwner.h"
#include "catalogue/TCSCodes.h"
#include "config/DbMng.h"
#include "platform/Event.h"
#include "platform/Window.h"

namespace vantrel::test {

struct TScriptedReply {
  bool Ok = true;
  std::string Body;
  std::string FailText;
};

inline TScriptedReply Reply(std::string prmBody) {
  return {true, std::move(prmBody), ""};
}
inline TScriptedReply Failure(std::string prmText) {
  return {false, "", std::move(prmText)};
}

class THostOwnerDouble : public IHostOwner {
 public:
  static constexpr std::chrono::seconds kHangGuard{60};

  THostOwnerDouble()
      : m_Window([this](uint32_t m, uintptr_t w, intptr_t l) {
          if (m == WM_HostStateChanged)
            m_Statuses.emplace_back(static_cast<int>(w), static_cast<int>(l));
          return intptr_t{0};
        }) {
    m_DBMng.SetOstraServer("127.0.0.1:9090");
  }

  TDBMng& GetDBMng() override { return m_DBMng; }

  // Replies are consumed in order; the last one is repeated once the script runs out.
  bool FetchOstra(const std::string& prmURL, std::string& prmBody,
                  std::string& prmFailText) override {
    TScriptedReply r;
    {
      std::lock_guard<std::mutex> g(m_Lock);
      m_URLs.push_back(prmURL);
      if (!m_Script.empty()) {
        r = m_Script.front();
        if (m_Script.size() > 1) m_Script.pop_front();
      } else {
        r = Failure("no reply scripted");
      }
      m_Changed.notify_all();
    }
    prmBody = r.Body;
    prmFailText = r.FailText;
    return r.Ok;
  }

  std::string GetUsername(bool prmNoAlt) override { return prmNoAlt ? "portaluser" : "vdiuser"; }
  std::string GetPassword(bool prmNoAlt) override { return prmNoAlt ? "portalpwd" : "vdipwd"; }

  uint32_t ResolveHost(const std::string& prmHost) override {
    std::lock_guard<std::mutex> g(m_Lock);
    m_Resolved.push_back(prmHost);
    return m_ResolveResult;
  }

  void ReportError(int prmErrorID, const std::string& prmExtra) override {
    std::lock_guard<std::mutex> g(m_Lock);
    m_Errors.emplace_back(prmErrorID, prmExtra);
  }

  void PostHostStatus(int prmIndex, int prmStatus) override {
    PostMessage(&m_Window, WM_HostStateChanged, static_cast<uintptr_t>(prmIndex), prmStatus);
  }

  TEvent& GetStopEvent() override { return m_Stop; }
  // Records report through ReportError above; nothing reaches this channel.
  ITCSUserInterface& GetUI() override { return m_NoUI; }
  bool InDestruction() override { return m_Stop.IsSet(); }

  void Script(std::initializer_list<TScriptedReply> prmReplies) {
    std::lock_guard<std::mutex> g(m_Lock);
    m_Script.assign(prmReplies.begin(), prmReplies.end());
  }
  void SetResolveResult(uint32_t prmAddr) { m_ResolveResult = prmAddr; }

  std::vector<std::string> URLs() {
    std::lock_guard<std::mutex> g(m_Lock);
    return m_URLs;
  }
  std::vector<std::pair<int, std::string>> Errors() {
    std::lock_guard<std::mutex> g(m_Lock);
    return m_Errors;
  }
  std::vector<std::string> Resolved() {
    std::lock_guard<std::mutex> g(m_Lock);
    return m_Resolved;
  }
  // Until at least prmCount fetches were made. The limit only keeps a broken build from hanging.
  bool WaitFetches(size_t prmCount) {
    std::unique_lock<std::mutex> g(m_Lock);
    return m_Changed.wait_for(g, kHangGuard, [&] { return m_URLs.size() >= prmCount; });
  }
  // Host statuses posted so far, as (index, status), after handling what the window holds.
  std::vector<std::pair<int, int>> Statuses() {
    m_Window.ProcessMessages();
    return m_Statuses;
  }
  std::vector<int> StatusValues() {
    std::vector<int> v;
    for (auto& s : Statuses()) v.push_back(s.second);
    return v;
  }
  // Handles window messages until a status has been posted prmCount times in all.
  bool WaitStatuses(size_t prmCount) {
    auto deadline = std::chrono::steady_clock::now() + kHangGuard;
    while (Statuses().size() < prmCount)
      if (!m_Window.WaitMessage(MsLeft(deadline))) return Statuses().size() >= prmCount;
    return true;
  }

  TDBMng m_DBMng;
  TEvent m_Stop{true};
  TSilentUserInterface m_NoUI;

 private:
  TWindow m_Window;
  std::vector<std::pair<int, int>> m_Statuses;  // window thread only
  std::mutex m_Lock;
  std::condition_variable m_Changed;
  std::deque<TScriptedReply> m_Script;
  std::vector<std::string> m_URLs;
  std::vector<std::pair<int, std::string>> m_Errors;
  std::vector<std::string> m_Resolved;
  std::atomic<uint32_t> m_ResolveResult{0};
};

}  // namespace vantrel::test
