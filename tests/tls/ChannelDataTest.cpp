#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <future>
#include <string>
#include <thread>

#include "diag/Exceptions.h"
#include "tls/TlsTestServer.h"
#include "tls/sspi.h"

namespace vantrel {
namespace {

using test::TServerConn;
using test::TServerOptions;
using test::TTlsTestServer;

// A channel with its handshake done against a server running prmScript.
struct TChannelFixture {
  TTlsTestServer Server;
  int Sock;
  CSSPI Chan{2};

  explicit TChannelFixture(TTlsTestServer::TScript prmScript, bool prmNonBlocking = false,
                           TServerOptions prmOptions = {})
      : Server(prmOptions, std::move(prmScript)), Sock(Server.Connect(prmNonBlocking)) {
    handshakeOk = Chan.PerformHandshake(Sock, "gateway.test", 2);
  }
  ~TChannelFixture() {
    shutdown(Sock, SHUT_RDWR);
    Server.Join();
    close(Sock);
  }
  bool handshakeOk = false;

  std::string Recv(int prmLen, bool prmOneRecord = false, int prmSock = -2) {
    std::string buf(size_t(prmLen), '\0');
    int got = -1;
    int s = prmSock == -2 ? Sock : prmSock;
    bool ok = prmOneRecord ? Chan.RecvSec2(s, buf.data(), prmLen, got)
                           : Chan.RecvSec(s, buf.data(), prmLen, got);
    EXPECT_TRUE(ok);
    buf.resize(size_t(got));
    return buf;
  }
};

bool WaitReadable(int prmSock) {
  pollfd p{prmSock, POLLIN, 0};
  return poll(&p, 1, 20000) == 1;
}

TEST(ChannelData, QueueServesSmallReadsWithoutTheSocket) {
  std::string record(1040, 'r');
  for (size_t i = 0; i < record.size(); ++i) record[i] = char('a' + i % 26);
  TChannelFixture f([&](TServerConn& c) { c.WriteCoalesced({record}); });
  ASSERT_TRUE(f.handshakeOk);
  EXPECT_EQ(f.Recv(16), record.substr(0, 16));
  EXPECT_EQ(f.Chan.QueuedPlaintext(), 1024u);
  EXPECT_TRUE(f.Chan.HasBufferedData());
  // An invalid socket proves the rest comes from the queue alone.
  EXPECT_EQ(f.Recv(1000, false, -1), record.substr(16, 1000));
  EXPECT_EQ(f.Recv(24, false, -1), record.substr(1016));
  EXPECT_EQ(f.Chan.QueuedPlaintext(), 0u);
}

TEST(ChannelData, TwoRecordsInOneRead) {
  std::promise<void> again, finished;
  auto script = [&](TServerConn& c) {
    c.WriteCoalesced({"first-", "second"});
    again.get_future().wait_for(std::chrono::seconds(20));
    c.WriteCoalesced({"third-", "fourth"});
    // The closing alert must not join the two records in the client's read.
    finished.get_future().wait_for(std::chrono::seconds(20));
  };
  TChannelFixture f(script);
  ASSERT_TRUE(f.handshakeOk);
  // RecvSec goes on decrypting while the request is not filled.
  EXPECT_EQ(f.Recv(12), "first-second");
  again.set_value();
  // RecvSec2 stops after one record and keeps the next as ciphertext.
  EXPECT_EQ(f.Recv(100, true), "third-");
  EXPECT_EQ(f.Chan.QueuedPlaintext(), 0u);
  EXPECT_GT(f.Chan.PendingCiphertext(), 0u);
  // The socket will not signal the held record again; the channel says it is there.
  EXPECT_TRUE(f.Chan.HasBufferedData());
  EXPECT_EQ(f.Recv(100, true, -1), "fourth");
  EXPECT_EQ(f.Chan.PendingCiphertext(), 0u);
  EXPECT_FALSE(f.Chan.HasBufferedData());
  finished.set_value();
}

TEST(ChannelData, OneRecordReadSkipsEmptyRecords) {
  // A TLS 1.0 server with a CBC cipher puts an empty record before each record it writes.
  const std::string reply = "HTTP/1.1 200 OK\r\n\r\n";
  TChannelFixture f([&](TServerConn& c) { SSL_write(c.Ssl, reply.data(), int(reply.size())); },
                    false, test::VersionRange(TLS1_VERSION, TLS1_VERSION));
  ASSERT_TRUE(f.handshakeOk);
  EXPECT_EQ(f.Recv(10240, true), reply);
}

TEST(ChannelData, RecordSplitOverTwoReadsOnNonBlockingSocket) {
  std::promise<void> rest;
  std::string wire;
  auto script = [&](TServerConn& c) {
    wire = c.Encrypt("split record payload");
    c.SendRaw(wire.substr(0, 9));
    rest.get_future().wait_for(std::chrono::seconds(20));
    c.SendRaw(wire.substr(9));
  };
  TChannelFixture f(script, true);
  ASSERT_TRUE(f.handshakeOk);
  // Nothing yet: a would-block returns at once with nothing.
  while (f.Chan.PendingCiphertext() < 9) {
    ASSERT_TRUE(WaitReadable(f.Sock));
    EXPECT_EQ(f.Recv(100), "");
  }
  EXPECT_EQ(f.Chan.PendingCiphertext(), 9u);
  EXPECT_FALSE(f.Chan.HasBufferedData());
  rest.set_value();
  std::string got;
  while (got.size() < 20) {
    ASSERT_TRUE(WaitReadable(f.Sock));
    got += f.Recv(100);
  }
  EXPECT_EQ(got, "split record payload");
}

TEST(ChannelData, DataBehindTheLastHandshakeRecordIsKept) {
  // More than one receive buffer holds, so a remainder larger than the buffer must survive too.
  std::string data(40000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = char(i * 7 + i / 251);
  TServerOptions opt = test::VersionRange(TLS1_VERSION, TLS1_2_VERSION);
  opt.DataWithFinished = data;
  TChannelFixture f([](TServerConn&) {}, false, opt);
  ASSERT_TRUE(f.handshakeOk);
  std::string got;
  while (got.size() < data.size()) {
    std::string part = f.Recv(int(data.size() - got.size()));
    if (part.empty()) break;
    got += part;
  }
  EXPECT_TRUE(got == data) << got.size();
}

TEST(ChannelData, NonBlockingWithoutDataReturnsQueuedOnly) {
  std::promise<void> done;
  TChannelFixture f([&](TServerConn&) { done.get_future().wait_for(std::chrono::seconds(20)); },
                    true);
  ASSERT_TRUE(f.handshakeOk);
  EXPECT_EQ(f.Recv(16), "");
  done.set_value();
}

TEST(ChannelData, PeerCloseReturnsWhatItHad) {
  TChannelFixture f([](TServerConn& c) { c.WriteCoalesced({"last words"}); });
  ASSERT_TRUE(f.handshakeOk);
  // The server closes (close_notify, then the socket) after writing.
  EXPECT_EQ(f.Recv(100), "last words");
  EXPECT_EQ(f.Recv(100), "");
}

// A reader decides from the last receive whether to wait on the socket before reading again.
TEST(ChannelData, TellsHowTheLastReceiveLeftTheSocket) {
  std::promise<void> close;
  TChannelFixture f(
      [&](TServerConn& c) {
        c.WriteCoalesced({"some", "bytes"});
        close.get_future().wait_for(std::chrono::seconds(20));
      },
      true);
  ASSERT_TRUE(f.handshakeOk);
  std::string got;
  while (got.size() < 9) {
    ASSERT_TRUE(WaitReadable(f.Sock));
    got += f.Recv(100);
  }
  EXPECT_EQ(got, "somebytes");
  EXPECT_TRUE(f.Chan.SocketDrained());
  EXPECT_FALSE(f.Chan.PeerClosed());
  close.set_value();
  while (!f.Chan.PeerClosed()) {
    ASSERT_TRUE(WaitReadable(f.Sock));
    EXPECT_EQ(f.Recv(100), "");
  }
  EXPECT_TRUE(f.Chan.SocketDrained());
}

TEST(ChannelData, SendCutsIntoRecords) {
  std::vector<int> records;
  std::string data;
  std::string big(32769, 'x');
  big[0] = 'A';
  big[32768] = 'Z';
  // Parts are packed into full records across their boundaries; an empty one adds nothing.
  std::string middle(16380, 'y');
  iovec parts[] = {{const_cast<char*>("ab"), 2},
                   {middle.data(), middle.size()},
                   {nullptr, 0},
                   {const_cast<char*>("cdefg"), 5}};
  TChannelFixture f([&](TServerConn& c) { records = c.ReadRecords(1 + 32769 + 16387, &data); });
  ASSERT_TRUE(f.handshakeOk);
  EXPECT_TRUE(f.Chan.SendSec(f.Sock, "", 0));
  EXPECT_TRUE(f.Chan.SendSec(f.Sock, "1", 1));
  EXPECT_TRUE(f.Chan.SendSec(f.Sock, big.data(), int(big.size())));
  EXPECT_TRUE(f.Chan.SendSecV(f.Sock, parts, 4));
  f.Server.Join();
  // A record carries at most 2^14 plaintext bytes on the wire.
  EXPECT_EQ(records, (std::vector<int>{1, 16384, 16384, 1, 16384, 3}));
  EXPECT_EQ(data, "1" + big + "ab" + middle + "cdefg");
}

TEST(ChannelData, BadBytesFromTheGatewayRaise) {
  struct TCase {
    std::function<std::string(TServerConn&)> Wire;
    const char* Msg;
  };
  const TCase cases[] = {
      {[](TServerConn&) { return std::string("HTTP/1.1 200 OK\r\n\r\n"); },
       "Recv : Error 80090326 while decrypting data"},
      {[](TServerConn& c) {
         std::string wire = c.Encrypt("integrity matters");
         wire[wire.size() - 3] ^= 0x40;
         return wire;
       },
       "Recv : Error 80090330 while decrypting data"},
  };
  for (const TCase& tc : cases) {
    TChannelFixture f([&](TServerConn& c) { c.SendRaw(tc.Wire(c)); });
    ASSERT_TRUE(f.handshakeOk);
    char buf[32];
    int got = -1;
    try {
      f.Chan.RecvSec(f.Sock, buf, 32, got);
      ADD_FAILURE();
    } catch (const EBaseException& e) {
      EXPECT_EQ(e.GetMsg(), tc.Msg);
    }
  }
}

TEST(ChannelData, ClosedSocketOnSendRaises) {
  TChannelFixture f([](TServerConn&) {});
  ASSERT_TRUE(f.handshakeOk);
  f.Server.Join();
  std::string chunk(65536, 'q');
  try {
    // The server has gone: the first sends may still land in the socket buffer.
    for (int i = 0; i < 64; ++i) f.Chan.SendSec(f.Sock, chunk.data(), int(chunk.size()));
    ADD_FAILURE();
  } catch (const EBaseException& e) {
    EXPECT_EQ(e.GetMsg().rfind("Send : Error ", 0), 0u) << e.GetMsg();
  }
}

TEST(ChannelData, SendAndReceiveAtOnce) {
  constexpr int kMessages = 400;
  constexpr int kSize = 1500;
  // The server echoes everything back.
  TChannelFixture f([&](TServerConn& c) {
    std::vector<char> buf(65536);
    size_t total = 0;
    while (total < size_t(kMessages) * kSize) {
      int n = SSL_read(c.Ssl, buf.data(), int(buf.size()));
      if (n <= 0) return;
      SSL_write(c.Ssl, buf.data(), n);
      total += size_t(n);
    }
  });
  ASSERT_TRUE(f.handshakeOk);
  std::thread sender([&] {
    std::string msg(kSize, '\0');
    for (int i = 0; i < kMessages; ++i) {
      for (int j = 0; j < kSize; ++j) msg[size_t(j)] = char(i + j);
      if (!f.Chan.SendSec(f.Sock, msg.data(), kSize)) return;
    }
  });
  std::string all;
  while (all.size() < size_t(kMessages) * kSize) {
    std::string part = f.Recv(kSize);
    if (part.empty()) break;
    all += part;
  }
  sender.join();
  ASSERT_EQ(all.size(), size_t(kMessages) * kSize);
  bool same = true;
  for (int i = 0; i < kMessages && same; ++i)
    for (int j = 0; j < kSize && same; ++j)
      same = all[size_t(i) * kSize + size_t(j)] == char(i + j);
  EXPECT_TRUE(same);
}

TEST(ChannelData, GatewayRenegotiationInsideReceive) {
  bool renegotiated = false;
  std::string early, more;
  TChannelFixture f(
      [&](TServerConn& c) {
        if (!c.StartRenegotiation()) return;
        char buf[256];
        for (int i = 0; i < 100 && !renegotiated; ++i) {
          int n = SSL_read(c.Ssl, buf, sizeof(buf));
          if (n > 0) early.append(buf, size_t(n));
          if (n <= 0 && SSL_get_error(c.Ssl, n) != SSL_ERROR_WANT_READ) return;
          renegotiated = c.Renegotiated();
        }
        SSL_write(c.Ssl, "after", 5);
        c.ReadRecords(4, &more);
      },
      false, test::VersionRange(TLS1_2_VERSION, TLS1_2_VERSION));
  ASSERT_TRUE(f.handshakeOk);
  EXPECT_EQ(f.Recv(5), "after");
  // The new keys carry data the other way too.
  EXPECT_TRUE(f.Chan.SendSec(f.Sock, "more", 4));
  f.Server.Join();
  EXPECT_TRUE(renegotiated);
  EXPECT_EQ(early, "");
  EXPECT_EQ(more, "more");
}

TEST(ChannelData, SendingWhileTheGatewayRenegotiates) {
  constexpr size_t kTotal = 4 << 20;
  constexpr size_t kChunk = 1000;
  auto pattern = [](size_t i) { return char(i % 251); };
  bool renegotiated = false, intact = true;
  size_t received = 0;
  TChannelFixture f(
      [&](TServerConn& c) {
        if (!c.StartRenegotiation()) return;
        std::vector<char> buf(65536);
        while (received < kTotal || !renegotiated) {
          int n = SSL_read(c.Ssl, buf.data(), int(buf.size()));
          if (n <= 0 && SSL_get_error(c.Ssl, n) != SSL_ERROR_WANT_READ) return;
          for (int i = 0; i < n; ++i) intact = intact && buf[size_t(i)] == pattern(received++);
          renegotiated = renegotiated || c.Renegotiated();
        }
        SSL_write(c.Ssl, "done", 4);
      },
      false, test::VersionRange(TLS1_2_VERSION, TLS1_2_VERSION));
  ASSERT_TRUE(f.handshakeOk);
  std::thread sender([&] {
    std::string chunk(kChunk, '\0');
    try {
      for (size_t sent = 0; sent < kTotal; sent += kChunk) {
        for (size_t i = 0; i < kChunk; ++i) chunk[i] = pattern(sent + i);
        f.Chan.SendSec(f.Sock, chunk.data(), int(std::min(kChunk, kTotal - sent)));
      }
    } catch (const EBaseException& e) {
      ADD_FAILURE() << e.GetMsg();
    }
  });
  EXPECT_EQ(f.Recv(4), "done");
  sender.join();
  f.Server.Join();
  EXPECT_TRUE(renegotiated);
  EXPECT_TRUE(intact);
  EXPECT_EQ(received, kTotal);
}

}  // namespace
}  // namespace vantrel
