// Reading a proxy's reply header from a socket: where it ends, the size bound, and the waits that
// end on silence or on a closed connection.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "proxy/ProxyReply.h"
#include "proxy/ProxyTransport.h"
#include "support/LogCapture.h"

namespace vantrel {
namespace {

struct TPair {
  int Fd[2];
  TPair() { socketpair(AF_UNIX, SOCK_STREAM, 0, Fd); }
  ~TPair() {
    close(Fd[0]);
    if (Fd[1] >= 0) close(Fd[1]);
  }
  void Write(const std::string& prmBytes) {
    ASSERT_EQ(write(Fd[1], prmBytes.data(), prmBytes.size()),
              static_cast<ssize_t>(prmBytes.size()));
  }
  void Hangup() {
    close(Fd[1]);
    Fd[1] = -1;
  }
};

TEST(ProxyTransport, ReadHeader) {
  struct TCase {
    const char* Name;
    std::string Sent;
    bool Hangup;
    std::string Reply;
    TProxyRead End;
    int DripMs = 0;  // > 0: Sent goes one byte at a time
  };
  const std::string big = "HTTP/1.1 407 P\r\nX: " + std::string(kMaxProxyHeader, 'x');
  const std::string ok = "HTTP/1.1 200 OK\r\n\r\n";
  const TCase cases[] = {
      {"whole header", ok, false, ok, TProxyRead::Complete},
      {"stops at the first NUL of a chunk", std::string("HTTP/1.1 200\0junk\r\n\r\n", 22), false,
       "HTTP/1.1 200", TProxyRead::TimedOut},
      {"silence after part of it", "HTTP/1.1 407", false, "HTTP/1.1 407", TProxyRead::TimedOut},
      {"closed mid-reply", "HTTP/1.1 407", true, "HTTP/1.1 407", TProxyRead::Closed},
      {"closed before anything", "", true, "", TProxyRead::Closed},
      {"longer than the bound: dropped", big, false, "", TProxyRead::TooLong},
      // Every byte arrives well within the limit, the whole header does not.
      {"drip past the deadline", ok, false, "", TProxyRead::TimedOut, 50},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TPair pair;
    // The bound is enforced while reading: the writer cannot block on a full buffer for long.
    std::thread writer([&] {
      if (c.DripMs == 0) pair.Write(c.Sent);
      for (size_t i = 0; c.DripMs > 0 && i < c.Sent.size(); ++i) {
        pair.Write(c.Sent.substr(i, 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(c.DripMs));
      }
      if (c.Hangup) pair.Hangup();
    });
    std::string reply;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadProxyHeader(pair.Fd[0], ProxyDeadline(300), reply), c.End);
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(c.DripMs > 0 ? 700 : 2000));
    if (c.DripMs > 0)
      EXPECT_LT(reply.size(), c.Sent.size());
    else
      EXPECT_EQ(reply, c.Reply);
    writer.join();
  }
}

TEST(ProxyTransport, DrainStopsAtCountSilenceOrClose) {
  TPair pair;
  pair.Write(std::string(100, 'b') + "NEXT");
  EXPECT_EQ(DrainProxyBody(pair.Fd[0], ProxyDeadline(300), 100), TProxyRead::Complete);
  char next[4];
  ASSERT_EQ(recv(pair.Fd[0], next, 4, 0), 4);
  EXPECT_EQ(std::string(next, 4), "NEXT");
  // A lying length: the wait ends on silence, then on the hang-up.
  EXPECT_EQ(DrainProxyBody(pair.Fd[0], ProxyDeadline(100), 1000000), TProxyRead::TimedOut);
  pair.Hangup();
  EXPECT_EQ(DrainProxyBody(pair.Fd[0], ProxyDeadline(30000), 1000000), TProxyRead::Closed);
}

}  // namespace
}  // namespace vantrel
