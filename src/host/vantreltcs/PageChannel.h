// The page channel's transport: a reader thread that takes JSON messages from the page (JSON
// lines, or the browser's native-messaging frames: PageFraming.h), a bounded output
// (PageOutput.h) that any thread may write to, and the dialogs that wait for the page's
// answer. Calls are queued for the window thread (the owner is told with prmOnCall and takes
// them with TakeCall); dialog replies and malformed lines are dealt with on the reader thread,
// so a dialog can be answered while the window thread waits for it.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "host/vantreltcs/PageFraming.h"
#include "host/vantreltcs/PageOutput.h"
#include "host/vantreltcs/PageProtocol.h"
#include "platform/Event.h"

namespace vantrel::host {

// A longer line is answered with an error and skipped up to its end.
constexpr size_t kMaxPageLine = 1 << 20;
// Calls waiting for the window thread, by count and by the size of their lines. A call beyond
// either bound is answered at once with kCallsBusy, so what was taken is always answered and
// a page that floods the channel cannot grow the host without bound.
constexpr size_t kMaxQueuedCalls = 1024;
constexpr size_t kMaxQueuedCallBytes = 16u << 20;
constexpr const char* kCallsBusy = "too many calls waiting; call refused";
constexpr const char* kReplyTooLarge = "reply too large";

class TPageChannel {
 public:
  // prmInFd and prmOutFd are borrowed. prmOnCall runs on the reader thread after a call was
  // queued; prmOnClosed runs once, on the thread that ended the channel (the reader at the end
  // of input or the stop fd, or a writer that found the page gone); both must only post.
  // prmExtraStopFd (-1 for none) ends the input like an end of file when readable (the
  // program's signal fd). Under native framing a frame announcing more than the bound, or the
  // input ending inside a frame, ends the channel as an end of input does.
  TPageChannel(int prmInFd, int prmOutFd, std::function<void()> prmOnCall,
               std::function<void()> prmOnClosed, int prmExtraStopFd = -1,
               const TPageOutputLimits& prmOutputLimits = {},
               TFraming prmFraming = TFraming::Lines);
  // Stops and joins the reader, pending dialogs are answered as cancelled, and the output is
  // drained within its bound.
  ~TPageChannel();
  TPageChannel(const TPageChannel&) = delete;
  TPageChannel& operator=(const TPageChannel&) = delete;

  void Start();

  // The next queued call, or nothing.
  std::optional<TPageCall> TakeCall();

  // Queues one message for the page, framed. Any thread; waits only as TPageOutput::Write does.
  // A message the framing cannot carry is dropped with a log line.
  void WriteLine(const std::string& prmLine) { m_Output.Write(prmLine); }
  // The answer to call prmId; one the framing cannot carry becomes the error "reply too large",
  // so the page still learns that its call ended.
  void WriteReply(const TJson& prmId, const TDispResult& prmResult);

  // Sends prmDialog with a fresh "id" and waits for its reply. prmWait waits for the event it
  // is given (the window thread handles its messages meanwhile). Nothing when the page ended
  // the channel, before or during the wait, or the dialog could not be sent.
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
  void ReadInput();
  // A chunk of input; false when the input cannot go on.
  bool TakeLines(const char* prmData, size_t prmSize);
  bool TakeFrames(const char* prmData, size_t prmSize);
  // The input ended: what is left of it is handled or reported.
  void EndInput();
  void HandleLine(const std::string& prmLine);
  void Close();

  int m_InFd, m_ExtraStopFd;
  const TFraming m_Framing;
  // Reader thread only: the unfinished line (and whether it is being skipped as too long), or
  // the unfinished frames.
  std::string m_LineBuf;
  bool m_Skipping = false;
  TNativeFrameDecoder m_Frames;
  std::function<void()> m_OnCall, m_OnClosed;
  TEvent m_Stop{true};
  std::thread m_Reader;

  mutable std::mutex m_Lock;
  std::deque<std::pair<TPageCall, size_t>> m_Calls;  // with the size of its line
  size_t m_CallBytes = 0;
  std::map<int64_t, std::shared_ptr<TPendingDialog>> m_Dialogs;
  int64_t m_NextDialog = 1;
  bool m_Closed = false;

  // Last: its destructor drains while the rest still stands.
  TPageOutput m_Output;
};

}  // namespace vantrel::host
