#include "testpeer/PeerRecorder.h"

#include <algorithm>
#include <chrono>

namespace vantrel::testpeer {

TBytes TPeerMessage::Raw() const {
  TBytes out = Header;
  out.insert(out.end(), Payload.begin(), Payload.end());
  return out;
}

template <typename Pred>
bool TPeerRecorder::WaitUntil(int prmTimeoutMs, Pred prmDone) {
  std::unique_lock<std::mutex> g(m_Lock);
  return m_Changed.wait_for(g, std::chrono::milliseconds(prmTimeoutMs < 0 ? 0 : prmTimeoutMs),
                            prmDone);
}

void TPeerRecorder::SetLogCallback(TLogCallback prmCallback) {
  std::lock_guard<std::mutex> g(m_Lock);
  m_LogCallback = std::move(prmCallback);
}

void TPeerRecorder::AddMessage(TPeerMessage prmMessage, bool prmKeepPayload) {
  if (!prmKeepPayload) prmMessage.Payload.clear();
  {
    std::lock_guard<std::mutex> g(m_Lock);
    m_Messages.push_back(std::move(prmMessage));
    ++m_Version;
  }
  m_Changed.notify_all();
}

void TPeerRecorder::AddLogRecord(const TLogRecord& prmRecord) {
  TLogCallback cb;
  {
    std::lock_guard<std::mutex> g(m_Lock);
    m_LogRecords.push_back(prmRecord);
    ++m_Version;
    cb = m_LogCallback;
  }
  m_Changed.notify_all();
  if (cb) cb(prmRecord);
}

void TPeerRecorder::AddHttpRequest(const std::string& prmText) {
  {
    std::lock_guard<std::mutex> g(m_Lock);
    m_HttpRequests.push_back(prmText);
    ++m_Version;
  }
  m_Changed.notify_all();
}

void TPeerRecorder::AddError(int prmSession, const std::string& prmText) {
  {
    std::lock_guard<std::mutex> g(m_Lock);
    m_Errors.push_back("session " + std::to_string(prmSession) + ": " + prmText);
    ++m_Version;
  }
  m_Changed.notify_all();
}

void TPeerRecorder::SetClientCertSubject(const std::string& prmSubject) {
  std::lock_guard<std::mutex> g(m_Lock);
  m_ClientCertSubject = prmSubject;
}

void TPeerRecorder::Update(const std::function<void(TPeerCounters&)>& prmChange) {
  {
    std::lock_guard<std::mutex> g(m_Lock);
    prmChange(m_Counters);
    ++m_Version;
  }
  m_Changed.notify_all();
}

std::vector<TPeerMessage> TPeerRecorder::Messages() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_Messages;
}

std::vector<TPeerMessage> TPeerRecorder::MessagesWithCode(uint32_t prmCode) const {
  std::lock_guard<std::mutex> g(m_Lock);
  std::vector<TPeerMessage> out;
  for (const TPeerMessage& m : m_Messages)
    if ((m.Code & 0xff) == prmCode) out.push_back(m);
  return out;
}

std::vector<TLogRecord> TPeerRecorder::LogRecords() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_LogRecords;
}

std::vector<std::string> TPeerRecorder::HttpRequests() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_HttpRequests;
}

std::vector<std::string> TPeerRecorder::Errors() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_Errors;
}

std::string TPeerRecorder::ClientCertSubject() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_ClientCertSubject;
}

TPeerCounters TPeerRecorder::Counters() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_Counters;
}

std::optional<TPeerMessage> TPeerRecorder::WaitForMessage(uint32_t prmCode, int prmTimeoutMs,
                                                          int prmNth) {
  std::optional<TPeerMessage> found;
  WaitUntil(prmTimeoutMs, [&] {
    int seen = 0;
    for (const TPeerMessage& m : m_Messages)
      if ((m.Code & 0xff) == prmCode && ++seen == prmNth) {
        found = m;
        return true;
      }
    return false;
  });
  return found;
}

bool TPeerRecorder::WaitForLogRecords(size_t prmCount, int prmTimeoutMs) {
  return WaitUntil(prmTimeoutMs, [&] { return m_LogRecords.size() >= prmCount; });
}

bool TPeerRecorder::WaitForHttpRequest(int prmTimeoutMs) {
  return WaitUntil(prmTimeoutMs, [&] { return !m_HttpRequests.empty(); });
}

bool TPeerRecorder::WaitForCounters(const std::function<bool(const TPeerCounters&)>& prmDone,
                                    int prmTimeoutMs) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(prmTimeoutMs, 0));
  for (;;) {
    uint64_t version;
    TPeerCounters snapshot;
    {
      std::lock_guard<std::mutex> g(m_Lock);
      version = m_Version;
      snapshot = m_Counters;
    }
    if (prmDone(snapshot)) return true;
    std::unique_lock<std::mutex> g(m_Lock);
    if (!m_Changed.wait_until(g, deadline, [&] { return m_Version != version; })) {
      g.unlock();
      return prmDone(Counters());
    }
  }
}

}  // namespace vantrel::testpeer
