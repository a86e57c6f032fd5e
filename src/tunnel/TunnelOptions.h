// The protocol settings a session may change while its tunnel runs: the reconnect notice, the
// desktop identifier, the keepalive interval and the alternative credentials. The session keeps
// one and hands it to the tunnel factory; the manager reads it from any of its threads, so no
// caller needs to know which protocol class it got. A protocol without these settings ignores it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace vantrel {

class TTunnelOptions {
 public:
  // Message sent to the loss window once the gateway answers again after a loss (0: none).
  void SetReConnectMSGID(uint32_t prmMsgID) { m_ReConnectMsgID = prmMsgID; }
  uint32_t GetReConnectMSGID() const { return m_ReConnectMsgID; }

  // Only written to the log when a connection closes.
  void SetDesktopID(int prmDesktopID) { m_DesktopID = prmDesktopID; }
  int GetDesktopID() const { return m_DesktopID; }

  // 0 disables keepalives; -1 enables them every 60 s; other values are the interval in seconds.
  void SetKeepAliveInterval(int prmInterval) {
    m_KeepAliveInterval = prmInterval == -1 ? 60 : prmInterval;
  }
  int GetKeepAliveInterval() const { return m_KeepAliveInterval; }
  bool KeepAliveEnabled() const { return m_KeepAliveInterval != 0; }

  void SetAltCred(const std::string& prmUsername, const std::string& prmPwd) {
    std::lock_guard<std::mutex> g(m_CredLock);
    m_AltUsername = prmUsername;
    m_AltPwd = prmPwd;
  }
  // The alternative user name (prmUser) or password; false when none is set.
  bool GetAltCred(bool prmUser, std::string& prmValue) const {
    std::lock_guard<std::mutex> g(m_CredLock);
    prmValue = prmUser ? m_AltUsername : m_AltPwd;
    return !prmValue.empty();
  }

 private:
  std::atomic<uint32_t> m_ReConnectMsgID{0};
  std::atomic<int> m_DesktopID{0};
  std::atomic<int> m_KeepAliveInterval{0};
  mutable std::mutex m_CredLock;
  std::string m_AltUsername;
  std::string m_AltPwd;
};

}  // namespace vantrel
