// A page at the other end of two pipes: the test writes the page's lines (or native-messaging
// frames) and reads the host's, each read bounded by a hang guard so a fault fails the test
// instead of stopping it.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <utility>

#include "host/vantreltcs/PageFraming.h"
#include "host/vantreltcs/PageProtocol.h"

namespace vantrel::test {

constexpr int kHostHangGuardMs = 60000;

class TPagePipes {
 public:
  TPagePipes() { Reopen(); }
  ~TPagePipes() { CloseAll(); }
  // Fresh pipes for the next host.
  void Reopen() {
    CloseAll();
    m_Buf.clear();
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) std::abort();
    HostIn = in[0];
    PageOut = in[1];
    PageIn = out[0];
    HostOut = out[1];
  }
  TPagePipes(const TPagePipes&) = delete;
  TPagePipes& operator=(const TPagePipes&) = delete;

  void Send(const std::string& prmText) {
    size_t done = 0;
    while (done < prmText.size()) {
      ssize_t n = write(PageOut, prmText.data() + done, prmText.size() - done);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }
  // The page ends its input.
  void EndInput() {
    close(PageOut);
    PageOut = -1;
  }
  // The next line from the host, without its newline; "<none>" when nothing came in time or
  // the host closed its side.
  std::string Line(int prmTimeoutMs = kHostHangGuardMs) {
    for (;;) {
      size_t nl = m_Buf.find('\n');
      if (nl != std::string::npos) {
        std::string line = m_Buf.substr(0, nl);
        m_Buf.erase(0, nl + 1);
        return line;
      }
      pollfd p{PageIn, POLLIN, 0};
      if (poll(&p, 1, prmTimeoutMs) <= 0) return "<none>";
      char chunk[4096];
      ssize_t n = read(PageIn, chunk, sizeof(chunk));
      if (n <= 0) return "<none>";
      m_Buf.append(chunk, static_cast<size_t>(n));
    }
  }
  host::TJson Json(int prmTimeoutMs = kHostHangGuardMs) {
    return host::TJson::parse(Line(prmTimeoutMs), nullptr, false);
  }

  // prmMessage framed as the browser frames it.
  void SendFrame(const std::string& prmMessage) {
    std::string frame;
    host::EncodeNativeFrame(prmMessage, frame);
    Send(frame);
  }
  // The next frame's message from the host; "<none>" as for Line.
  std::string Frame(int prmTimeoutMs = kHostHangGuardMs) {
    if (!Fill(host::kNativeHeaderSize, prmTimeoutMs)) return "<none>";
    uint32_t length = 0;
    std::memcpy(&length, m_Buf.data(), sizeof length);
    if (!Fill(host::kNativeHeaderSize + length, prmTimeoutMs)) return "<none>";
    std::string message = m_Buf.substr(host::kNativeHeaderSize, length);
    m_Buf.erase(0, host::kNativeHeaderSize + length);
    return message;
  }
  host::TJson FrameJson(int prmTimeoutMs = kHostHangGuardMs) {
    return host::TJson::parse(Frame(prmTimeoutMs), nullptr, false);
  }

  int HostIn = -1, HostOut = -1;  // the host's ends
  int PageOut = -1, PageIn = -1;  // the page's ends

 private:
  void CloseAll() {
    for (int* fd : {&HostIn, &PageOut, &PageIn, &HostOut})
      if (*fd >= 0) close(std::exchange(*fd, -1));
  }
  // Reads until m_Buf holds prmSize bytes; false when the host went silent or closed.
  bool Fill(size_t prmSize, int prmTimeoutMs) {
    while (m_Buf.size() < prmSize) {
      pollfd p{PageIn, POLLIN, 0};
      if (poll(&p, 1, prmTimeoutMs) <= 0) return false;
      char chunk[65536];
      ssize_t n = read(PageIn, chunk, sizeof(chunk));
      if (n <= 0) return false;
      m_Buf.append(chunk, static_cast<size_t>(n));
    }
    return true;
  }

  std::string m_Buf;
};

}  // namespace vantrel::test
