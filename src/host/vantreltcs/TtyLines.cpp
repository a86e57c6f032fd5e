#include "host/vantreltcs/TtyLines.h"

#include <errno.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "diag/Exceptions.h"
#include "diag/ThreadEntry.h"

namespace vantrel::host {

namespace {

// A person types a handful of lines; more waiting than this are dropped, and so is the rest of
// an overlong line.
constexpr size_t kMaxQueuedLines = 64;
constexpr size_t kMaxLine = 4096;
// How often a background job looks again whether it became the foreground one.
constexpr int kBackgroundRecheckMs = 500;

}  // namespace

TTtyLines::TTtyLines(int prmTty) : m_Tty(prmTty) {
  m_Reader = std::thread([this] { ReadThd(); });
}

TTtyLines::~TTtyLines() {
  m_Stop.Set();
  if (m_Reader.joinable()) m_Reader.join();
}

void TTtyLines::SetOnInput(std::function<void()> prmOnInput) {
  std::lock_guard<std::mutex> g(m_Lock);
  m_OnInput = std::move(prmOnInput);
}

std::optional<std::string> TTtyLines::Take() {
  std::lock_guard<std::mutex> g(m_Lock);
  if (m_Lines.empty()) return std::nullopt;
  std::string line = std::move(m_Lines.front());
  m_Lines.pop_front();
  if (m_Lines.empty() && !m_Ended) m_Ready.Reset();
  return line;
}

bool TTtyLines::Ended() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_Ended && m_Lines.empty();
}

void TTtyLines::Notify() {
  std::function<void()> onInput;
  {
    std::lock_guard<std::mutex> g(m_Lock);
    onInput = m_OnInput;
  }
  if (onInput) onInput();
}

void TTtyLines::Push(std::string prmLine) {
  {
    std::lock_guard<std::mutex> g(m_Lock);
    if (m_Lines.size() >= kMaxQueuedLines) return;
    m_Lines.push_back(std::move(prmLine));
    m_Ready.Set();
  }
  Notify();
}

void TTtyLines::ReadThd() {
  RunGuarded("TTtyLines.ReadThd", [this] { ReadLines(); });
  {
    std::lock_guard<std::mutex> g(m_Lock);
    m_Ended = true;
    m_Ready.Set();
  }
  Notify();
}

void TTtyLines::ReadLines() {
  std::string line;
  char chunk[1024];
  for (;;) {
    // A background job that reads its terminal is stopped by it; wait for the foreground.
    pid_t fg = tcgetpgrp(m_Tty);
    if (fg >= 0 && fg != getpgrp()) {
      if (m_Stop.Wait(kBackgroundRecheckMs)) return;
      continue;
    }
    pollfd fds[2] = {{m_Tty, POLLIN, 0}, {m_Stop.Fd(), POLLIN, 0}};
    if (poll(fds, 2, kBackgroundRecheckMs) < 0) {
      if (errno == EINTR) continue;
      throw EBaseException::CreateFmt("poll failed, errno %d", errno);
    }
    if (fds[1].revents != 0) return;
    if (fds[0].revents == 0) continue;
    ssize_t n = read(m_Tty, chunk, sizeof(chunk));
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return;  // end of file typed, or the terminal hung up
    for (ssize_t i = 0; i < n; ++i) {
      if (chunk[i] == '\n') {
        Push(std::move(line));
        line.clear();
      } else if (line.size() < kMaxLine) {
        line += chunk[i];
      }
    }
  }
}

}  // namespace vantrel::host
