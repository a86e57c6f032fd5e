// Test helper that plays the log viewer: binds the debug-log socket, makes the library connect to
// it, and collects every record on a reader thread so tests can assert on log lines.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/Event.h"

namespace vantrel::test {

class TLogCapture {
 public:
  // Binds the socket (creating its folder with mode 0700, replacing a stale socket file) and,
  // unless told otherwise, calls InitDebugLog() so the library writes here. Raises
  // std::runtime_error when it cannot bind.
  explicit TLogCapture(bool prmConnectLibrary = true);
  // Stops the reader, closes and removes the socket, and calls InitDebugLog() again so the
  // library drops its connection (lines logged afterwards are dropped).
  ~TLogCapture();
  TLogCapture(const TLogCapture&) = delete;
  TLogCapture& operator=(const TLogCapture&) = delete;

  // Every query first takes in what is already queued on the socket, so a line logged by this
  // thread (or a joined one) before the call is always seen without waiting.

  // Records as received, trailing zero byte included.
  std::vector<std::string> Records() const;
  // Records without their trailing zero byte.
  std::vector<std::string> Lines() const;
  // True when some line contains prmText.
  bool Contains(std::string_view prmText) const;
  // True when some line is exactly prmText.
  bool HasLine(std::string_view prmText) const;
  // Number of lines that contain prmText.
  size_t Count(std::string_view prmText) const;
  // Waits up to prmTimeoutMs for a line containing prmText (already received ones count).
  bool WaitFor(std::string_view prmText, int prmTimeoutMs = 5000) const;
  // Waits up to prmTimeoutMs until at least prmCount records were received.
  bool WaitForRecords(size_t prmCount, int prmTimeoutMs = 5000) const;
  // Forgets what was received so far.
  void Clear();
  // Plays a viewer restart: the socket is closed and bound anew at the same path, without telling
  // the library. Records received so far are kept.
  void RestartViewer();
  const std::string& Path() const { return m_Path; }

 private:
  void Bind();
  void StartReader();
  void StopReader();
  void ReadThd();
  // Receives whatever is queued without blocking; true when something arrived.
  bool Drain() const;
  bool ReceiveOne() const;
  bool AnyLine(std::string_view prmText, bool prmExact) const;

  std::string m_Path;
  int m_Fd = -1;
  TEvent m_Stop{true};
  // Held across recv and append so records keep the socket's order whichever thread takes them.
  mutable std::mutex m_RecvLock;
  mutable std::mutex m_Lock;
  mutable std::condition_variable m_Changed;
  mutable std::vector<std::string> m_Records;
  std::thread m_Reader;
};

}  // namespace vantrel::test
