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
                           const TPageOutputLimits& prmOutputLimits)
    : m_InFd(prmInFd),
      m_ExtraStopFd(prmExtraStopFd),
      m_OnCall(std::move(prmOnCall)),
      m_OnClosed(std::move(prmOnClosed)),
      m_Output(
          prmOutFd, [this] { Close(); }, prmOutputLimits) {}

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
  WriteLine(prmDialog.dump(-1, ' ', false, TJson::error_handler_t::replace));
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
  RunGuarded("TPageChannel.ReadThd", [this] { ReadLines(); });
  Close();
}

void TPageChannel::ReadLines() {
  std::string buf;
  bool skipping = false;  // inside a line that was too long
  char chunk[65536];
  for (;;) {
    pollfd fds[3] = {{m_InFd, POLLIN, 0}, {m_Stop.Fd(), POLLIN, 0}, {m_ExtraStopFd, POLLIN, 0}};
    int n = poll(fds, m_ExtraStopFd >= 0 ? 3 : 2, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EBaseException::CreateFmt("poll failed, errno %d", errno);
    }
    if (fds[1].revents != 0 || (m_ExtraStopFd >= 0 && fds[2].revents != 0)) break;
    ssize_t got = read(m_InFd, chunk, sizeof(chunk));
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) {
      if (!skipping && !Trim(buf).empty()) HandleLine(buf);
      break;
    }
    buf.append(chunk, static_cast<size_t>(got));
    size_t start = 0, nl;
    while ((nl = buf.find('\n', start)) != std::string::npos) {
      if (!skipping && nl - start > 0) {
        std::string line = buf.substr(start, nl - start);
        if (!Trim(line).empty()) HandleLine(line);
      }
      skipping = false;
      start = nl + 1;
    }
    buf.erase(0, start);
    if (buf.size() > kMaxPageLine) {
      if (!skipping) WriteLine(EncodeError(nullptr, "malformed request: line too long"));
      skipping = true;
      buf.clear();
    }
  }
}

}  // namespace vantrel::host
