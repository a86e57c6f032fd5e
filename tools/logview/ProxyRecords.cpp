#include "ProxyRecords.h"

#include <stdexcept>

#include "proxylog/UtilityLib.h"

namespace vantrel::logview {

std::string FormatProxyRecord(const proxylog::TViewerRecord& prmRecord) {
  std::string line = proxylog::Utf16ToUtf8(proxylog::FormatLogLine(prmRecord.Line));
  std::string out;
  for (char c : line)
    if (c != '\r') out += c;
  return out;
}

TProxyRecords::TProxyRecords(FILE* prmOut, std::mutex& prmOutLock)
    : m_Out(prmOut), m_OutLock(prmOutLock) {
  if (!m_Viewer.Open()) throw std::runtime_error("cannot open the proxy library's log block");
  m_Thread = std::thread([this] { Run(); });
}

TProxyRecords::~TProxyRecords() {
  m_Stop = true;
  m_Thread.join();
}

void TProxyRecords::Run() {
  proxylog::TViewerRecord record;
  while (!m_Stop) {
    if (!m_Viewer.Receive(std::chrono::milliseconds(250), record)) continue;
    std::lock_guard<std::mutex> lock(m_OutLock);
    std::fputs(FormatProxyRecord(record).c_str(), m_Out);
    std::fflush(m_Out);
  }
}

}  // namespace vantrel::logview
