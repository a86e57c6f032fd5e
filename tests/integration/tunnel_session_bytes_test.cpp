// The exact bytes a short session puts into each tunnel: a script of requests and one forwarded
// connection run through the real manager, and everything the gateway received compared with
// the bytes this client is known to send. Changes inside the tunnel must leave them alone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "diag/TextCodecs.h"
#include "tunnel_fixture.h"

namespace vantrel::test {
namespace {

// The tunnel request, then one line per message: header and payload in hexadecimal.
struct TSessionBytes {
  std::string Request;
  std::vector<std::string> Messages;
};

template <typename TProto>
TSessionBytes Expected();

// The log record both protocols carry: level 6, protocol, destination 127.0.0.5 with its name,
// and the message.
constexpr const char* kLogRecord =
    "060A56616E7472656C544353000000000500007F096465736B2E636F7270000000000000000000000000000"
    "00D68656C6C6F2067617465776179";

template <>
TSessionBytes Expected<TFirstProtocol>() {
  return {
      "GET /vpntunnel HTTP/1.1\r\nConnection: Keep-Alive\r\nHost: 127.0.0.1\r\n"
      "Cookie: sid=abc\r\nappid: Vantrel\r\nclientid: dev-7\r\n\r\n",
      {
          "0F000000000000000000000000000000 ",                    // init
          "12000000000000000000000000000000 ",                    // user name
          "13000000000000000000000000000000 ",                    // password
          "14000000000000000000000000000009 6465736B2E636F7270",  // resolve "desk.corp"
          "17000000000000000000000000000000 ",                    // timers
          "19000000000000000000000000000000 ",                    // reset timers
          std::string("1600000000000000000000000000003A ") + kLogRecord,
          "090000000500000A0D3D000100000000 ",            // open 1 to 10.0.0.5:3389
          "060000000500000A0D3D000100000005 68656C6C6F",  // "hello"
          "070000000500000A0D3D000100000000 ",            // close answered
      }};
}

template <>
TSessionBytes Expected<TLegacyProtocol>() {
  return {
      "GET /prx/000/http/localhost/clientappcontrol HTTP/1.0\r\nConnection: Keep-Alive\r\n"
      "Cookie: sid=abc\r\n\r\n",
      {
          "0F000000000000000000000003 58595A",      // session init "XYZ"
          "10000000000000000000000005 6D6F642D31",  // module identifier "mod-1"
          "12000000000000000000000000 ",
          "13000000000000000000000000 ",
          "14000000000000000000000009 6465736B2E636F7270",
          "17000000000000000000000000 ",
          "19000000000000000000000000 ",
          std::string("1600000000000000000000003A ") + kLogRecord,
          "097F0000010087000100000008 00040D3D7F000005",  // open 1 to 127.0.0.5:3389
          "067F0000010087000100000005 68656C6C6F",
          "077F0000010087000100000000 ",
      }};
}

TYPED_TEST_SUITE(TTunnelTest, TProtocols, TProtocolNames);

TYPED_TEST(TTunnelTest, RecordedSessionBytesStayTheSame) {
  auto sc = this->ScenarioTo(testpeer::TTcpServerMode::Sink);
  sc.UserName = "bob";
  sc.Password = "pw";
  sc.Hosts["desk.corp"] = "127.0.0.5";
  sc.IdleTime = 300;
  sc.LifeTime = 7200;
  this->Connect(sc);
  auto& mng = *this->m_Mng;
  auto& peer = *this->m_Peer;
  // Each step is on the wire before the next starts, so the order is fixed.
  EXPECT_EQ(mng.GetUsername(true), "bob");
  EXPECT_EQ(mng.GetPassword(true), "pw");
  EXPECT_NE(mng.ResolveHost("desk.corp"), 0u);
  uint32_t idle = 0, life = 0;
  mng.GetTimers(idle, life);
  mng.ResetTimers();
  ASSERT_TRUE(peer.WaitForMessage(mcResetTimers, kWaitMs));
  mng.SendLogMsg(6, "VantrelTCS", 0x7f000005, "desk.corp", "hello gateway");
  ASSERT_TRUE(peer.WaitForLogRecords(1, kWaitMs));
  int s = ConnectLocal(this->Listen());
  auto open = peer.WaitForMessage(mcOpen, kWaitMs);
  ASSERT_TRUE(open);
  ASSERT_TRUE(SendAll(s, {'h', 'e', 'l', 'l', 'o'}));
  ASSERT_TRUE(peer.WaitForMessage(mcData, kWaitMs));
  ASSERT_TRUE(peer.SendClose(open->Id()));
  ASSERT_TRUE(peer.WaitForMessage(mcClose, kWaitMs));
  close(s);

  TSessionBytes got{peer.HttpRequest(), {}};
  for (const auto& m : peer.ReceivedMessages()) {
    got.Messages.push_back(BytesToHex(m.Header.data(), m.Header.size()) + " " +
                           BytesToHex(m.Payload.data(), m.Payload.size()));
  }
  const TSessionBytes want = Expected<TypeParam>();
  EXPECT_EQ(got.Request, want.Request);
  EXPECT_EQ(got.Messages, want.Messages);
  EXPECT_TRUE(peer.Errors().empty());
}

}  // namespace
}  // namespace vantrel::test
