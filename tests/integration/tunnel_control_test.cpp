// The control connection of both protocols against the reference gateway: set-up and its
// failures, requests and their answers, the reader's resilience, and the loss of the tunnel.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "diag/Exceptions.h"
#include "platform/Window.h"
#include "support/LogCapture.h"
#include "tunnel_fixture.h"

namespace vantrel::test {
namespace {

using testpeer::TGatewayScenario;

TYPED_TEST_SUITE(TTunnelTest, TProtocols, TProtocolNames);

TYPED_TEST(TTunnelTest, OnlyTheProtocolsSuccessReplyOpensTheTunnel) {
  for (const std::string& reply : TypeParam::RefusedReplies()) {
    TGatewayScenario sc;
    sc.HttpReply = reply;
    this->StartPeer(sc);
    EXPECT_EQ(InitError(*this->m_Mng), "Gateway did not open control connection") << reply;
    EXPECT_FALSE(this->m_Mng->IsReady(0));
    this->TearDown();
  }
}

TYPED_TEST(TTunnelTest, ConnectionFailuresAreReported) {
  TGatewayScenario sc;
  sc.HttpReplyDelayMs = -1;
  this->StartPeer(sc);
  this->m_Mng->Link().SetReplyTimeout(300);
  EXPECT_EQ(InitError(*this->m_Mng), "Failed to establish control connection");
  this->m_Mng.reset();
  // The port stays the same while nobody listens on it any more.
  this->m_Peer->Stop();
  this->m_Mng = TypeParam::Make("127.0.0.1", this->m_Port);
  EXPECT_EQ(InitError(*this->m_Mng).rfind("Failed to connect to gateway (", 0), 0u);
  this->m_Mng.reset();
  this->m_Mng = TypeParam::Make("no-such-host.invalid", this->m_Port);
  EXPECT_EQ(InitError(*this->m_Mng).rfind("Failed to resolve host no-such-host.invalid (", 0), 0u);
}

TYPED_TEST(TTunnelTest, OnlyOneManagerAtATime) {
  this->StartPeer();
  try {
    TypeParam::Make("127.0.0.1", this->m_Port);
    FAIL() << "second manager created";
  } catch (const EBaseException& e) {
    EXPECT_EQ(e.GetMsg(), "Security library is already loaded");
  }
  this->m_Mng.reset();
  EXPECT_NO_THROW(TypeParam::Make("127.0.0.1", this->m_Port));
}

TYPED_TEST(TTunnelTest, UnreachableManualProxyFallsBackToDirect) {
  this->StartPeer();
  int proxyCalls = 0;
  this->m_Mng->Link().Proxies().SetProxy("127.0.0.1", 1);
  this->m_Mng->Link().Proxies().SetConnector(
      [&](const std::string& prmProxy, int prmPort, const std::string& prmDest, int prmDestPort) {
        ++proxyCalls;
        EXPECT_EQ(prmProxy, "127.0.0.1");
        EXPECT_EQ(prmPort, 1);
        EXPECT_EQ(prmDest, "127.0.0.1");
        EXPECT_EQ(prmDestPort, this->m_Port);
        return -1;
      });
  this->m_Mng->InitControlConnection();
  EXPECT_TRUE(this->m_Mng->IsReady(kWaitMs));
  EXPECT_EQ(proxyCalls, 1);
}

TYPED_TEST(TTunnelTest, RequestsGetTheGatewaysAnswers) {
  TGatewayScenario sc;
  sc.UserName = "bob";
  sc.Password = "s3cret";
  sc.Hosts["desk.corp"] = "127.0.0.5";
  sc.IdleTime = 300;
  sc.LifeTime = 7200;
  this->Connect(sc);
  auto& mng = *this->m_Mng;
  auto& peer = *this->m_Peer;
  // Without alternative credentials the gateway is asked whatever the caller says.
  EXPECT_EQ(mng.GetUsername(false), "bob");
  EXPECT_EQ(mng.GetPassword(false), "s3cret");
  EXPECT_EQ(mng.GetPassword(true), "s3cret");
  EXPECT_EQ(FormatNetAddress(mng.ResolveHost("desk.corp")), "127.0.0.5");
  uint32_t idle = 0, life = 0;
  mng.GetTimers(idle, life);
  EXPECT_EQ(idle, 300u);
  EXPECT_EQ(life, 7200u);
  mng.ResetTimers();
  mng.SendLogMsg(6, "VantrelTCS", 0, "", "hello gateway");
  ASSERT_TRUE(peer.WaitForLogRecords(1, kWaitMs));
  EXPECT_EQ(peer.LogRecords()[0].Message, "hello gateway");
  EXPECT_EQ(peer.LogRecords()[0].Protocol, "VantrelTCS");
  EXPECT_TRUE(peer.WaitForMessage(mcResetTimers, kWaitMs));
  EXPECT_TRUE(peer.Errors().empty());
}

TYPED_TEST(TTunnelTest, OverlongHostNameIsNotSent) {
  this->Connect();
  EXPECT_EQ(this->m_Mng->ResolveHost(std::string(kMaxHostNameLen + 1, 'h')), 0xFFFFFFFFu);
  // A round trip after it: had the name gone out, the gateway would have seen it first.
  uint32_t idle, life;
  this->m_Mng->GetTimers(idle, life);
  EXPECT_TRUE(this->m_Peer->ReceivedMessages(mcResolve).empty());
}

TYPED_TEST(TTunnelTest, RequestsEndWhenTheTunnelIsLostOrTheManagerGoes) {
  TGatewayScenario sc;
  sc.SilentCodes = {mcUserName, mcTimers};
  this->Connect(sc);
  auto name = std::async(std::launch::async, [&] { return this->m_Mng->GetUsername(true); });
  ASSERT_TRUE(this->m_Peer->WaitForMessage(mcUserName, kWaitMs));
  this->m_Peer->CloseControlConnection();
  EXPECT_EQ(name.get(), "");
  // After the loss a request fails at once.
  EXPECT_EQ(this->m_Mng->ResolveHost("x"), 0xFFFFFFFFu);
  this->m_Mng.reset();

  this->Connect(sc);
  auto timers = std::async(std::launch::async, [&] {
    uint32_t idle = 1, life = 1;
    this->m_Mng->GetTimers(idle, life);
    return idle + life;
  });
  ASSERT_TRUE(this->m_Peer->WaitForMessage(mcTimers, kWaitMs));
  // Destruction ends the wait; the requester is out before the manager's memory goes.
  std::thread destroy([&] { this->m_Mng.reset(); });
  EXPECT_EQ(timers.get(), 0u);
  destroy.join();
}

TYPED_TEST(TTunnelTest, LossTellsTheWindowThenTheCallbackAndEndsRequests) {
  std::vector<uint32_t> seen;
  TWindow wnd([&](uint32_t prmMsg, uintptr_t, intptr_t) {
    seen.push_back(prmMsg);
    return 0;
  });
  TGatewayScenario sc;
  sc.SilentCodes = {mcUserName};
  this->Connect(sc);
  auto& mng = *this->m_Mng;
  std::atomic<bool> called{false};
  std::atomic<size_t> seenAtCallback{0};
  mng.RegisterOnClose(&wnd, WM_USER + 1);
  const std::vector<uint32_t> notices = TypeParam::LossNotices(mng, WM_USER + 1, WM_USER + 12);
  mng.RegisterOnCloseCallback([&] {
    seenAtCallback = seen.size();
    called = true;
  });
  auto pending = std::async(std::launch::async, [&] { return mng.GetUsername(true); });
  ASSERT_TRUE(this->m_Peer->WaitForMessage(mcUserName, kWaitMs));
  ASSERT_TRUE(this->m_Peer->CloseControlConnection());
  for (int i = 0; i < 200 && seen.size() < notices.size(); ++i) wnd.WaitMessage(100);
  EXPECT_EQ(seen, notices);
  EXPECT_EQ(pending.get(), "");
  for (int i = 0; i < 200 && !called; ++i) wnd.WaitMessage(50);
  EXPECT_TRUE(called);
  EXPECT_EQ(seenAtCallback, notices.size());
  EXPECT_FALSE(mng.IsConnected());
  EXPECT_FALSE(mng.IsReady(0));
  this->m_Mng.reset();  // before the window it notifies
}

TYPED_TEST(TTunnelTest, ReaderCopesWithSplitJoinedUnknownAndStrayMessages) {
  TGatewayScenario sc;
  sc.TunnelUpCode = 0;
  this->StartPeer(sc);
  this->m_Mng->InitControlConnection();
  ASSERT_TRUE(this->m_Peer->WaitForMessage(mcInit, kWaitMs));
  auto hdr = [](uint8_t prmCode, uint16_t prmId, uint32_t prmLen) {
    return testpeer::EncodeHeader(TypeParam::kProtocol,
                                  testpeer::GatewayHeader(prmCode, prmId, prmLen));
  };
  auto cat = [](std::initializer_list<TBytes> prmParts) {
    TBytes all;
    for (const TBytes& p : prmParts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  TBytes unknown = cat({hdr(77, 0, 10), TBytes(10, 0xAB)});
  TBytes strayData = cat({hdr(mcData, 42, 5), TBytes(5, 1), hdr(mcData, 600, 3), TBytes(3, 2)});
  TBytes strayClose = cat({hdr(mcClose, 42, 0), hdr(mcClose, 700, 0)});
  TBytes up = hdr(mcTunnelUp, 0, 0);
  // A header split over two records, then several messages in one record ending with tunnel-up.
  ASSERT_TRUE(this->m_Peer->SendRecords({TBytes(unknown.begin(), unknown.begin() + 7),
                                         TBytes(unknown.begin() + 7, unknown.end()),
                                         cat({strayData, strayClose, up})}));
  EXPECT_TRUE(this->m_Mng->IsReady(kWaitMs));
  // The stream is still in step: a request gets its answer.
  uint32_t idle, life;
  this->m_Mng->GetTimers(idle, life);
  EXPECT_TRUE(this->m_Mng->IsConnected());
}

TYPED_TEST(TTunnelTest, OversizedLengthEndsTheControlThread) {
  TLogCapture log;
  this->Connect();
  ASSERT_TRUE(this->m_Peer->SendRaw(
      testpeer::EncodeHeader(TypeParam::kProtocol, testpeer::GatewayHeader(50, 0, 40000))));
  EXPECT_TRUE(log.WaitFor("Control : Allocation too large (40000)", kWaitMs));
  EXPECT_TRUE(
      log.WaitFor("_ControlConThd Exception (Control : Failed to allocate memory)", kWaitMs));
  // The control thread is gone: requests fail at once instead of waiting.
  EXPECT_EQ(this->m_Mng->GetUsername(true), "");
}

TYPED_TEST(TTunnelTest, OpenRequestWithoutAnswerReturnsTrue) {
  TGatewayScenario sc;
  sc.SilentCodes = {mcOpen};
  this->Connect(sc);
  // The wait for an answer that never comes passes at once: each reading of the clock is a
  // second later than the one before.
  auto now = std::chrono::steady_clock::now();
  this->m_Mng->Mux().Requests().SetClock(
      [now]() mutable { return now += std::chrono::seconds(1); });
  EXPECT_TRUE(this->m_Mng->Mux().SendOpenConn(3, TypeParam::kDestIP, 3389));
  auto open = this->m_Peer->WaitForMessage(mcOpen, kWaitMs);
  ASSERT_TRUE(open);
  EXPECT_EQ(open->Id(), 3);
  EXPECT_EQ(FormatDottedQuad(open->DestAddr), TypeParam::kDestIP);
  EXPECT_EQ(open->DestPort, 3389);
}

}  // namespace
}  // namespace vantrel::test
