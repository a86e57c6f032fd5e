#include "host/vantreltcs/PageChannel.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "diag/TextCodecs.h"
#include "diag/ThreadEntry.h"

namespace vantrel::host {

TPageChannel::TPageChannel(int prmInFd, int prmOutFd, std::function<void()> prmOnCall,
                           std::function<void()> prmOnClosed, int prmExtraStopFd,
                           const TPageOutputLimits& prmOutputLimits, TFraming prmFraming)
    : m_InFd(prmInFd),
      m_ExtraStopFd(prmExtraStopFd),
      m_Framing(prmFraming),
      m_OnCall(std::move(prmOnCall)),
      m_OnClosed(std::move(prmOnClosed)),
      m_Output(
          prmOutFd, [this] { Close(); }, prmOutputLimits, prmFraming) {}

TPageChannel::~TPageChannel() {
  m_Stop.Set();
  if (m_Reader.joinable()) m_Reader.join();
  Close();
}

void TPageChannel::Start() {
  m_Reader = std::thread([this] { ReadThd(); });
}

std::optional<TPageCall> TPageChannel::TakeCall() {
  std::lock_guard<std::mutex> g(m_Lock);
  if (m_Calls.empty()) return std::nullopt;
  TPageCall c = std::move(m_Calls.front().first);
  m_CallBytes -= m_Calls.front().second;
  m_Calls.pop_front();
  return c;
}

void TPageChannel::WriteReply(const TJson& prmId, const TDispResult& prmResult) {
  std::string reply = EncodeReply(prmId, prmResult);
  if (!m_Output.Fits(reply)) {
    WriteDebugLog("TPageChannel - the reply of " + std::to_string(reply.size()) +
                  " bytes is larger than the page takes; an error goes instead");
    reply = EncodeError(prmId, kReplyTooLarge);
  }
  WriteLine(reply);
}

bool TPageChannel::Closed() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_Closed;
}

std::optional<TDialogReply> TPageChannel::Ask(TJson prmDialog,
                                              const std::function<void(TEvent&)>& prmWait) {
  auto pending = std::make_shared<TPendingDialog>();
  int64_t id = 0;
  {
    std::lock_guard<std::mutex> g(m_Lock);
    if (m_Closed) return std::nullopt;
    id = m_NextDialog++;
    m_Dialogs[id] = pending;
  }
  prmDialog["id"] = id;
  // A dialog the page never got (gone, or too large to send) is answered as dismissed at once.
  if (m_Output.Write(prmDialog.dump(-1, ' ', false, TJson::error_handler_t::replace)))
    prmWait(pending->Answered);
  std::lock_guard<std::mutex> g(m_Lock);
  m_Dialogs.erase(id);
  return pending->Reply;
}

void TPageChannel::Close() {
  std::map<int64_t, std::shared_ptr<TPendingDialog>> dialogs;
  {
    std::lock_guard<std::mutex> g(m_Lock);
    if (m_Closed) return;
    m_Closed = true;
    dialogs = m_Dialogs;
  }
  m_Output.Finish();
  for (auto& [id, d] : dialogs) d->Answered.Set();
  if (m_OnClosed) m_OnClosed();
}

void TPageChannel::HandleLine(const std::string& prmLine) {
  TPageRequest req = ParsePageLine(prmLine);
  if (auto* err = std::get_if<TPageError>(&req)) {
    WriteLine(EncodeError(err->Id, err->Error));
  } else if (auto* reply = std::get_if<TDialogReply>(&req)) {
    std::shared_ptr<TPendingDialog> d;
    {
      std::lock_guard<std::mutex> g(m_Lock);
      auto it = m_Dialogs.find(reply->DialogID);
      if (it != m_Dialogs.end() && !it->second->Answered.IsSet()) d = it->second;
      if (d) d->Reply = std::move(*reply);
    }
    if (d)
      d->Answered.Set();
    else
      WriteLine(EncodeError(nullptr, "no open dialog " + std::to_string(reply->DialogID)));
  } else {
    TPageCall& call = std::get<TPageCall>(req);
    bool queued = false;
    {
      std::lock_guard<std::mutex> g(m_Lock);
      queued =
          m_Calls.size() < kMaxQueuedCalls && m_CallBytes + prmLine.size() <= kMaxQueuedCallBytes;
      if (queued) {
        m_CallBytes += prmLine.size();
        m_Calls.emplace_back(std::move(call), prmLine.size());
      }
    }
    if (!queued)
      WriteLine(EncodeError(call.Id, kCallsBusy));
    else if (m_OnCall)
      m_OnCall();
  }
}

void TPageChannel::ReadThd() {
  RunGuarded("TPageChannel.ReadThd", [this] { ReadInput(); });
  Close();
}

void TPageChannel::ReadInput() {
  char chunk[65536];
  for (;;) {
    pollfd fds[3] = {{m_InFd, POLLIN, 0}, {m_Stop.Fd(), POLLIN, 0}, {m_ExtraStopFd, POLLIN, 0}};
    int n = poll(fds, m_ExtraStopFd >= 0 ? 3 : 2, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EBaseException::CreateFmt("poll failed, errno %d", errno);
    }
    if (fds[1].revents != 0 || (m_ExtraStopFd >= 0 && fds[2].revents != 0)) return;
    ssize_t got = read(m_InFd, chunk, sizeof(chunk));
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return EndInput();
    const size_t size = static_cast<size_t>(got);
    if (!(m_Framing == TFraming::Lines ? TakeLines(chunk, size) : TakeFrames(chunk, size))) return;
  }
}

void TPageChannel::EndInput() {
  if (m_Framing == TFraming::Native) {
    if (m_Frames.Partial())
      WriteDebugLog("TPageChannel - the page's input ended inside a message; it is dropped");
  } else if (!m_Skipping && !Trim(m_LineBuf).empty()) {
    HandleLine(m_LineBuf);
  }
}

bool TPageChannel::TakeLines(const char* prmData, size_t prmSize) {
  m_LineBuf.append(prmData, prmSize);
  size_t start = 0, nl;
  while ((nl = m_LineBuf.find('\n', start)) != std::string::npos) {
    if (!m_Skipping && nl - start > 0) {
      std::string line = m_LineBuf.substr(start, nl - start);
      if (!Trim(line).empty()) HandleLine(line);
    }
    m_Skipping = false;
    start = nl + 1;
  }
  m_LineBuf.erase(0, start);
  if (m_LineBuf.size() > kMaxPageLine) {
    if (!m_Skipping) WriteLine(EncodeError(nullptr, "malformed request: line too long"));
    m_Skipping = true;
    m_LineBuf.clear();
  }
  return true;
}

bool TPageChannel::TakeFrames(const char* prmData, size_t prmSize) {
  m_Frames.Feed(std::string_view(prmData, prmSize));
  std::string message;
  for (;;) {
    switch (m_Frames.Next(message)) {
      case TNativeFrameDecoder::TResult::NeedMore:
        return true;
      case TNativeFrameDecoder::TResult::TooLarge:
        // Nothing after it can be found again: the stream ends here, as the browser's would.
        WriteDebugLog("TPageChannel - the page announced a message of " +
                      std::to_string(m_Frames.Announced()) + " bytes, more than " +
                      std::to_string(kMaxNativeMessage) + "; the channel ends");
        return false;
      case TNativeFrameDecoder::TResult::Frame:
        if (IsUtf8(message))
          HandleLine(message);
        else
          WriteLine(EncodeError(nullptr, "malformed request: not UTF-8"));
        break;
    }
  }
}

}  // namespace vantrel::host
