#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "diag/Exceptions.h"
#include "platform/Dialogs.h"
#include "support/ScriptedDialogs.h"
#include "tls/CertChooser.h"
#include "tls/TlsTestServer.h"
#include "tls/sspi.h"

namespace vantrel {
namespace {

using test::MakeCertificate;
using test::TCertKind;
using test::TServerConn;
using test::TServerOptions;
using test::TTlsTestServer;

struct TSocket {
  int Fd;
  ~TSocket() { close(Fd); }
};

// Both directions once, so a handshake that "succeeded" also produced working keys.
void ExchangeOnce(CSSPI& prmChan, int prmSock) {
  ASSERT_TRUE(prmChan.SendSec(prmSock, "ping", 4));
  char buf[4];
  int got = 0;
  ASSERT_TRUE(prmChan.RecvSec(prmSock, buf, 4, got));
  EXPECT_EQ(std::string(buf, size_t(got)), "pong");
}

void Echo(TServerConn& prmConn) {
  std::string data;
  prmConn.ReadRecords(4, &data);
  if (data == "ping") SSL_write(prmConn.Ssl, "pong", 4);
}

TEST(Handshake, DeviceTypesNegotiateTheirProtocol) {
  struct TCase {
    int DeviceType;
    const char* Version;
    uint32_t Header, Trailer;  // of the cipher the test server prefers
  };
  // TLS 1.2 with AES-GCM: explicit nonce and tag; TLS 1.0 with AES-CBC-SHA1: MAC and padding.
  for (TCase c : {TCase{2, "TLSv1.2", 13, 16}, TCase{1, "TLSv1", 5, 36}}) {
    SCOPED_TRACE(c.DeviceType);
    ResetStreamSizes();
    TTlsTestServer server({}, Echo);
    TSocket s{server.Connect()};
    CSSPI chan(c.DeviceType);
    ASSERT_TRUE(chan.PerformHandshake(s.Fd, "gateway.test", c.DeviceType));
    ExchangeOnce(chan, s.Fd);
    server.Join();
    EXPECT_EQ(server.Version(), c.Version);
    EXPECT_EQ(server.SniName(), "gateway.test");
    EXPECT_EQ(g_StreamSizes.cbMaximumMessage, 32768u);
    EXPECT_EQ(g_StreamSizes.cbHeader, c.Header);
    EXPECT_EQ(g_StreamSizes.cbTrailer, c.Trailer);
  }
}

TEST(Handshake, NoServerNameIndicationForAnAddress) {
  TTlsTestServer server;
  TSocket s{server.Connect()};
  CSSPI chan(2);
  ASSERT_TRUE(chan.PerformHandshake(s.Fd, "127.0.0.1", 2));
  close(s.Fd);
  s.Fd = -1;
  server.Join();
  EXPECT_EQ(server.SniName(), "");
}

TEST(Handshake, ProtocolsOutsideTheDeviceSetFailQuietly) {
  struct TCase {
    int DeviceType;
    int ServerVersion;
  };
  for (TCase c : {TCase{2, TLS1_3_VERSION}, TCase{2, TLS1_1_VERSION}, TCase{1, TLS1_2_VERSION}}) {
    SCOPED_TRACE(c.DeviceType * 0x10000 + c.ServerVersion);
    TTlsTestServer server(test::VersionRange(c.ServerVersion, c.ServerVersion));
    TSocket s{server.Connect()};
    CSSPI chan(c.DeviceType);
    EXPECT_FALSE(chan.PerformHandshake(s.Fd, "gateway.test", c.DeviceType));
    // The failed context is gone: the channel refuses to carry data.
    int got = -1;
    char buf[4];
    try {
      chan.RecvSec(s.Fd, buf, 4, got);
      ADD_FAILURE() << "RecvSec after a failed handshake must raise";
    } catch (const EBaseException& e) {
      EXPECT_EQ(e.GetMsg(), "CSSPI.RecvSec : No global buffer is allocated");
    }
    EXPECT_EQ(got, 0);
  }
}

TEST(Handshake, AnyGatewayCertificateIsAccepted) {
  for (TCertKind kind : {TCertKind::Expired, TCertKind::OtherName, TCertKind::SelfSigned}) {
    TTlsTestServer server(test::WithCertificate(kind), Echo);
    TSocket s{server.Connect()};
    CSSPI chan(2);
    ASSERT_TRUE(chan.PerformHandshake(s.Fd, "gateway.test", 2));
    ExchangeOnce(chan, s.Fd);
  }
}

TEST(Handshake, PeerThatIsNoTlsServerGivesFalse) {
  // A peer that reads the hello and then answers with nothing, or with something not TLS.
  for (std::string answer : {std::string(), std::string("HTTP/1.1 400 Bad Request\r\n\r\n"),
                             std::string("\x16\x03\x01\xff\xff", 5)}) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    std::thread peer([&] {
      char hello[512];
      if (read(pair[1], hello, sizeof(hello)) > 0 && !answer.empty()) {
        EXPECT_EQ(write(pair[1], answer.data(), answer.size()), ssize_t(answer.size()));
      }
      close(pair[1]);
    });
    CSSPI chan(2);
    EXPECT_FALSE(chan.PerformHandshake(pair[0], "gateway.test", 2));
    peer.join();
    close(pair[0]);
  }
}

TEST(Handshake, UseBeforeHandshakeRaises) {
  CSSPI chan(2);
  char buf[16];
  int got = 7;
  try {
    chan.RecvSec2(-1, buf, 16, got);
    ADD_FAILURE();
  } catch (const EBaseException& e) {
    EXPECT_EQ(e.GetMsg(), "CSSPI.RecvSec : No global buffer is allocated");
  }
  EXPECT_EQ(got, 0);
  try {
    chan.SendSec(-1, buf, 16);
    ADD_FAILURE();
  } catch (const EBaseException& e) {
    EXPECT_EQ(e.GetMsg().rfind("Send : Encryption failed ", 0), 0u) << e.GetMsg();
  }
}

TEST(SecurityLibrary, LoadsOnceAtATime) {
  LoadSecurityLibrary();
  try {
    LoadSecurityLibrary();
    ADD_FAILURE();
  } catch (const EBaseException& e) {
    EXPECT_EQ(e.GetMsg(), "Security library is already loaded");
  }
  UnloadSecurityLibrary();
  EXPECT_NO_THROW(LoadSecurityLibrary());
  UnloadSecurityLibrary();
}

TEST(SecurityLibrary, StreamSizesStartValues) {
  g_StreamSizes.cbHeader = 1;
  ResetStreamSizes();
  EXPECT_EQ(g_StreamSizes.cbHeader, 100u);
  EXPECT_EQ(g_StreamSizes.cbTrailer, 30u);
  EXPECT_EQ(g_StreamSizes.cbMaximumMessage, 1024u);
  EXPECT_EQ(g_StreamSizes.cBuffers, 0u);
  EXPECT_EQ(g_StreamSizes.cbBlockSize, 0u);
}

class TFakeChooser : public ICertificateChooser {
 public:
  TCertChoice Answer = TCertChoice::NoneInStore;
  int Calls = 0;
  TCertChoice ChooseCertificate(TClientCertificate& prmOut) override {
    ++Calls;
    if (Answer == TCertChoice::Chosen) prmOut = MakeCertificate("client.user");
    return Answer;
  }
};

TEST(ClientCertificate, ChosenCertificateIsPresented) {
  TTlsTestServer server(test::AskingForClientCertificate(), Echo);
  TSocket s{server.Connect()};
  TFakeChooser chooser;
  chooser.Answer = TCertChoice::Chosen;
  TScriptedDialogs dialogs;
  CSSPI chan(2);
  chan.SetCertificateChooser(&chooser);
  chan.SetDialogs(&dialogs);
  ASSERT_TRUE(chan.PerformHandshake(s.Fd, "gateway.test", 2));
  ExchangeOnce(chan, s.Fd);
  server.Join();
  EXPECT_EQ(chooser.Calls, 1);
  EXPECT_EQ(server.PeerSubject(), "/CN=client.user");
  EXPECT_TRUE(dialogs.Shown().empty());
}

TEST(ClientCertificate, NoneOrCancelledFailsTheHandshake) {
  struct TCase {
    bool WithChooser;
    TCertChoice Answer;
    bool BoxShown;
  };
  for (TCase c :
       {TCase{true, TCertChoice::NoneInStore, true}, TCase{true, TCertChoice::Cancelled, false},
        TCase{false, TCertChoice::NoneInStore, true}}) {
    SCOPED_TRACE(int(c.Answer) * 10 + c.WithChooser);
    TTlsTestServer server(test::AskingForClientCertificate());
    TSocket s{server.Connect()};
    TFakeChooser chooser;
    chooser.Answer = c.Answer;
    TScriptedDialogs dialogs;
    CSSPI chan(2);
    if (c.WithChooser) chan.SetCertificateChooser(&chooser);
    chan.SetDialogs(&dialogs);
    EXPECT_FALSE(chan.PerformHandshake(s.Fd, "gateway.test", 2));
    auto shown = dialogs.Shown();
    ASSERT_EQ(shown.size(), c.BoxShown ? 1u : 0u);
    if (c.BoxShown) {
      EXPECT_EQ(shown[0].Text,
                "For security reasons a digital certificate is needed. No matching certificates "
                "were found");
      EXPECT_EQ(shown[0].Flags, MB_OK | MB_ICONERROR);
    }
    EXPECT_EQ(chooser.Calls, c.WithChooser ? 1 : 0);
  }
}

}  // namespace
}  // namespace vantrel
