// The page channel's transport: a reader thread that takes JSON lines from the page, a writer
// that any thread may use, and the dialogs that wait for the page's answer. Calls are queued for
// the window thread (the owner is told with prmOnCall and takes them with TakeCall); dialog
// replies and malformed lines are dealt with on the reader thread, so a dialog can be answered
// while the window thread waits for it.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "host/vantreltcs/PageProtocol.h"
#include "platform/Event.h"

namespace vantrel::host {

// A longer line is answered with an error and skipped up to its end.
constexpr size_t kMaxPageLine = 1 << 20;
// How long a write waits for a page that ended its input and stopped reading.
constexpr int kDrainAfterEndMs = 2000;

class TPageChannel {
 public:
  // prmInFd and prmOutFd are borrowed. prmOnCall and prmOnClosed run on the reader thread, after
  // the call was queued and once at the end of input; they must only post. prmExtraStopFd (-1
  // for none) ends the input like an end of file when readable (the program's signal fd).
  TPageChannel(int prmInFd, int prmOutFd, std::function<void()> prmOnCall,
               std::function<void()> prmOnClosed, int prmExtraStopFd = -1);
  // Stops and joins the reader; pending dialogs are answered as cancelled.
  ~TPageChannel();
  TPageChannel(const TPageChannel&) = delete;
  TPageChannel& operator=(const TPageChannel&) = delete;

  void Start();

  // The next queued call, or nothing.
  std::optional<TPageCall> TakeCall();

  // Writes one line (a newline is appended). Any thread. A page that stopped reading blocks
  // the writer only while its input is open; after its end a write waits kDrainAfterEndMs at
  // most, then the line is dropped.
  void WriteLine(const std::string& prmLine);

  // Sends prmDialog with a fresh "id" and waits for its reply. prmWait waits for the event it
  // is given (the window thread handles its messages meanwhile). Nothing when the page ended
  // the channel, before or during the wait.
  std::optional<TDialogReply> Ask(TJson prmDialog, const std::function<void(TEvent&)>& prmWait);

  // True once the page ended its input (or the stop fd fired).
  bool Closed() const;

 private:
  struct TPendingDialog {
    TEvent Answered{true};
    std::optional<TDialogReply> Reply;
  };

  void ReadThd();
  // The reading loop of ReadThd: until end of input, the stop signal or a failure.
  void ReadLines();
  void HandleLine(const std::string& prmLine);
  void Close();

  int m_InFd, m_OutFd, m_ExtraStopFd;
  std::function<void()> m_OnCall, m_OnClosed;
  TEvent m_Stop{true};
  TEvent m_InputEnded{true};
  std::thread m_Reader;

  mutable std::mutex m_Lock;
  std::deque<TPageCall> m_Calls;
  std::map<int64_t, std::shared_ptr<TPendingDialog>> m_Dialogs;
  int64_t m_NextDialog = 1;
  bool m_Closed = false;

  std::mutex m_WriteLock;
};

}  // namespace vantrel::host
