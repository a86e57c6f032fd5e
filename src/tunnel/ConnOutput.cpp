#include "tunnel/ConnOutput.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace vantrel {

namespace {
// Parts handed to one sendmsg: below IOV_MAX, and as many as the parser's longest run has.
constexpr size_t kMaxParts = 256;
}  // namespace

ssize_t TConnOutput::Send(int prmFd, const iovec* prmParts, size_t prmCount) {
  msghdr msg{};
  msg.msg_iov = const_cast<iovec*>(prmParts);
  msg.msg_iovlen = std::min(prmCount, kMaxParts);
  for (;;) {
    ssize_t n = ::sendmsg(prmFd, &msg, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    m_Error = errno;
    return -1;
  }
}

TConnOutput::TResult TConnOutput::Fail() {
  m_Chunks.clear();
  m_Offset = 0;
  m_Queued = 0;
  return TResult::Failed;
}

void TConnOutput::Keep(const uint8_t* prmData, size_t prmLen) {
  m_Queued += prmLen;
  while (prmLen > 0) {
    if (m_Chunks.empty() || m_Chunks.back().size() >= kChunk) {
      m_Chunks.emplace_back();
      m_Chunks.back().reserve(std::min(kChunk, prmLen));
    }
    std::vector<uint8_t>& c = m_Chunks.back();
    const size_t n = std::min(kChunk - std::min(kChunk, c.size()), prmLen);
    c.insert(c.end(), prmData, prmData + n);
    prmData += n;
    prmLen -= n;
  }
}

TConnOutput::TResult TConnOutput::Write(int prmFd, const iovec* prmParts, size_t prmCount) {
  if (m_Queued > 0) {
    // Behind what waits already, in order.
    for (size_t i = 0; i < prmCount; ++i)
      Keep(static_cast<const uint8_t*>(prmParts[i].iov_base), prmParts[i].iov_len);
    return Flush(prmFd);
  }
  // Nothing waiting: straight from the caller's buffers, copying only what the socket left.
  std::vector<iovec> parts(prmParts, prmParts + prmCount);
  size_t next = 0;
  for (;;) {
    while (next < parts.size() && parts[next].iov_len == 0) ++next;
    if (next == parts.size()) return TResult::Done;
    ssize_t n = Send(prmFd, parts.data() + next, parts.size() - next);
    if (n < 0) return Fail();
    if (n == 0) break;
    for (size_t left = static_cast<size_t>(n); left > 0; ++next) {
      const size_t take = std::min(left, parts[next].iov_len);
      parts[next].iov_base = static_cast<uint8_t*>(parts[next].iov_base) + take;
      parts[next].iov_len -= take;
      left -= take;
      if (parts[next].iov_len > 0) break;
    }
  }
  for (size_t i = next; i < parts.size(); ++i)
    Keep(static_cast<const uint8_t*>(parts[i].iov_base), parts[i].iov_len);
  return TResult::Pending;
}

TConnOutput::TResult TConnOutput::Flush(int prmFd) {
  while (m_Queued > 0) {
    iovec parts[kMaxParts];
    size_t count = 0;
    for (auto it = m_Chunks.begin(); it != m_Chunks.end() && count < kMaxParts; ++it, ++count) {
      const size_t off = count == 0 ? m_Offset : 0;
      parts[count] = {it->data() + off, it->size() - off};
    }
    ssize_t n = Send(prmFd, parts, count);
    if (n < 0) return Fail();
    if (n == 0) return TResult::Pending;
    m_Queued -= static_cast<size_t>(n);
    for (size_t left = static_cast<size_t>(n); left > 0;) {
      const size_t take = std::min(left, m_Chunks.front().size() - m_Offset);
      m_Offset += take;
      left -= take;
      if (m_Offset == m_Chunks.front().size()) {
        m_Chunks.pop_front();
        m_Offset = 0;
      }
    }
  }
  return TResult::Done;
}

}  // namespace vantrel
