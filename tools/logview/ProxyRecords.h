// --proxy-log: the proxy library's log records, taken from its shared block on a thread of their
// own and printed as log-file lines (line ends as LF) on the viewer's output.
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "proxylog/LogViewerLink.h"

namespace vantrel::logview {

// The record as a line of the library's log file, its CR LF turned into LF.
std::string FormatProxyRecord(const proxylog::TViewerRecord& prmRecord);

class TProxyRecords {
 public:
  // Raises std::runtime_error when the shared objects cannot be opened. prmOut and prmOutLock
  // are shared with the socket's printer and must outlive this object.
  TProxyRecords(FILE* prmOut, std::mutex& prmOutLock);
  // Stops the thread within a quarter second and joins it.
  ~TProxyRecords();

 private:
  void Run();

  FILE* m_Out;
  std::mutex& m_OutLock;
  proxylog::TProxyLogViewer m_Viewer;
  std::atomic<bool> m_Stop{false};
  std::thread m_Thread;
};

}  // namespace vantrel::logview
