#include "host/vantreltcs/PageOutput.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "diag/DebugLog.h"
#include "diag/ThreadEntry.h"

namespace vantrel::host {

namespace {

// One write hands the page at most this much, so room is made for callers as it drains.
constexpr size_t kWriteChunk = 64u << 10;

}  // namespace

TPageOutput::TPageOutput(int prmFd, std::function<void()> prmOnGone,
                         const TPageOutputLimits& prmLimits, TFraming prmFraming)
    : m_Fd(prmFd), m_OnGone(std::move(prmOnGone)), m_Limits(prmLimits), m_Framing(prmFraming) {
  // Writes to a pipe wait in poll() with the finish and gone events, so a page that stops
  // reading cannot hold the writer past the drain. Terminals and files keep their blocking mode.
  struct stat st {};
  if (fstat(m_Fd, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)))
    fcntl(m_Fd, F_SETFL, fcntl(m_Fd, F_GETFL) | O_NONBLOCK);
  m_Writer = std::thread([this] { RunGuarded("TPageOutput.WriteThd", [this] { WriteThd(); }); });
}

TPageOutput::~TPageOutput() {
  Finish();
  {
    std::lock_guard<std::mutex> g(m_Lock);
    m_Stopping = true;
  }
  m_Changed.notify_all();
  m_Writer.join();
}

bool TPageOutput::Fits(const std::string& prmLine) const {
  return m_Framing == TFraming::Lines || prmLine.size() <= kMaxNativeMessage;
}

bool TPageOutput::Write(const std::string& prmLine) {
  std::string framed;
  if (m_Framing == TFraming::Lines) {
    framed = prmLine + "\n";
  } else if (!EncodeNativeFrame(prmLine, framed)) {
    // The browser would close the whole port on it; the page loses this one message only.
    WriteDebugLog("TPageOutput - a message of " + std::to_string(prmLine.size()) +
                  " bytes is larger than the browser takes; dropped");
    return false;
  }
  std::unique_lock<std::mutex> l(m_Lock);
  const size_t size = framed.size();
  auto room = [&] {
    return m_Gone || m_Lines.empty() || m_QueuedBytes + size <= m_Limits.MaxBytes;
  };
  if (!m_Changed.wait_for(l, std::chrono::milliseconds(m_Limits.StallMs), room)) {
    l.unlock();
    MarkGone("the page left its output unread; it is gone and its output is dropped");
    return false;
  }
  if (m_Gone) return false;
  m_Lines.push_back(std::move(framed));
  m_QueuedBytes += size;
  l.unlock();
  m_Changed.notify_all();
  return true;
}

void TPageOutput::Finish() {
  {
    std::lock_guard<std::mutex> g(m_Lock);
    if (m_Finished.IsSet()) return;
    m_DrainDeadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(m_Limits.DrainMs);
  }
  m_Finished.Set();
}

bool TPageOutput::Gone() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_Gone;
}

void TPageOutput::MarkGone(const char* prmWhy) {
  {
    std::lock_guard<std::mutex> g(m_Lock);
    if (m_Gone) return;
    m_Gone = true;
    m_Lines.clear();
    m_QueuedBytes = 0;
  }
  WriteDebugLog(std::string("TPageOutput - ") + prmWhy);
  m_GoneEvent.Set();
  m_Changed.notify_all();
  if (m_OnGone) m_OnGone();
}

void TPageOutput::WriteThd() {
  for (;;) {
    std::string chunk;
    {
      std::unique_lock<std::mutex> l(m_Lock);
      m_Changed.wait(l, [this] { return m_Gone || m_Stopping || !m_Lines.empty(); });
      if (m_Gone || m_Lines.empty()) return;  // gone, or stopping with everything written
      while (!m_Lines.empty() &&
             (chunk.empty() || chunk.size() + m_Lines.front().size() <= kWriteChunk)) {
        chunk += m_Lines.front();
        m_QueuedBytes -= m_Lines.front().size();
        m_Lines.pop_front();
      }
    }
    m_Changed.notify_all();  // room for waiting callers
    if (!WriteAll(chunk)) return;
  }
}

bool TPageOutput::WriteAll(const std::string& prmData) {
  size_t done = 0;
  while (done < prmData.size()) {
    ssize_t n = write(m_Fd, prmData.data() + done, prmData.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      WriteDebugLog("TPageOutput - page output failed, errno " + std::to_string(errno));
      MarkGone("the page's output is closed; its output is dropped");
      return false;
    }
    int timeout = -1;
    bool finished = m_Finished.IsSet();
    if (finished) {
      std::lock_guard<std::mutex> g(m_Lock);
      timeout = MsLeft(m_DrainDeadline);
    }
    pollfd fds[3] = {{m_Fd, POLLOUT, 0},
                     {m_GoneEvent.Fd(), POLLIN, 0},
                     {finished ? -1 : m_Finished.Fd(), POLLIN, 0}};
    int r = poll(fds, 3, timeout);
    if (r < 0 && errno != EINTR) {
      MarkGone("the page's output cannot be waited for; its output is dropped");
      return false;
    }
    if (r == 0) {
      MarkGone("the page ended its input and stopped reading; the rest of its output is dropped");
      return false;
    }
    if (fds[1].revents != 0) return false;
  }
  return true;
}

}  // namespace vantrel::host
