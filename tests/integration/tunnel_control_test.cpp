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

std::string InitError(CAppMngMorv& prmMng) {
  try {
    prmMng.InitControlConnection();
  } catch (const EBaseException& e) {
    return e.GetMsg();
  }
  return "";
}

TEST_F(TTunnelTest, OpensTheTunnelWithTheExactRequestAndInitMessage) {
  Connect();
  EXPECT_EQ(m_Peer->HttpRequest(), BuildTunnelRequest("127.0.0.1", "sid=abc", "dev-7"));
  auto init = m_Peer->WaitForMessage(mcInit, kWaitMs);
  ASSERT_TRUE(init);
  EXPECT_EQ(init->Header, TBytes({15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(m_Mng->IsConnected());
  EXPECT_EQ(m_Mng->GetSessCookie(), "sid=abc");
  EXPECT_TRUE(m_Peer->Errors().empty());
}

TEST_F(TTunnelTest, RepliesOtherThanHttp11With200AreRefused) {
  for (const char* reply : {"HTTP/1.0 200 OK\r\n\r\n", "HTTP/1.1 403 Forbidden\r\n\r\n"}) {
    TGatewayScenario sc;
    sc.HttpReply = reply;
    StartPeer(sc);
    EXPECT_EQ(InitError(*m_Mng), "Gateway did not open control connection") << reply;
    EXPECT_FALSE(m_Mng->IsReady(0));
    m_Mng.reset();
    m_Peer.reset();
  }
}

TEST_F(TTunnelTest, ConnectionFailuresAreReported) {
  TGatewayScenario sc;
  sc.HttpReplyDelayMs = -1;
  StartPeer(sc);
  m_Mng->SetReplyTimeout(300);
  EXPECT_EQ(InitError(*m_Mng), "Failed to establish control connection");
  m_Mng.reset();
  // The port stays the same while nobody listens on it any more.
  m_Peer->Stop();
  m_Mng = std::make_unique<CAppMngMorv>("127.0.0.1", m_Port, "c", "s", "m", "d");
  EXPECT_EQ(InitError(*m_Mng).rfind("Failed to connect to gateway (", 0), 0u);
  m_Mng.reset();
  m_Mng = std::make_unique<CAppMngMorv>("no-such-host.invalid", m_Port, "c", "s", "m", "d");
  EXPECT_EQ(InitError(*m_Mng).rfind("Failed to resolve host no-such-host.invalid (", 0), 0u);
}

TEST_F(TTunnelTest, OnlyOneManagerAtATime) {
  StartPeer();
  try {
    CAppMngMorv second("127.0.0.1", m_Port, "c", "s", "m", "d");
    FAIL() << "second manager created";
  } catch (const EBaseException& e) {
    EXPECT_EQ(e.GetMsg(), "Security library is already loaded");
  }
  m_Mng.reset();
  CAppMngMorv again("127.0.0.1", m_Port, "c", "s", "m", "d");
}

TEST_F(TTunnelTest, UnreachableManualProxyFallsBackToDirect) {
  StartPeer();
  int proxyCalls = 0;
  m_Mng->SetProxy("127.0.0.1", 1);
  m_Mng->SetProxyConnector(
      [&](const std::string& prmProxy, int prmPort, const std::string& prmDest, int prmDestPort) {
        ++proxyCalls;
        EXPECT_EQ(prmProxy, "127.0.0.1");
        EXPECT_EQ(prmPort, 1);
        EXPECT_EQ(prmDest, "127.0.0.1");
        EXPECT_EQ(prmDestPort, m_Port);
        return -1;
      });
  m_Mng->InitControlConnection();
  EXPECT_TRUE(m_Mng->IsReady(kWaitMs));
  EXPECT_EQ(proxyCalls, 1);
}

TEST_F(TTunnelTest, RequestsGetTheGatewaysAnswers) {
  TGatewayScenario sc;
  sc.UserName = "bob";
  sc.Password = "s3cret";
  sc.Hosts["desk.corp"] = "127.0.0.5";
  sc.IdleTime = 300;
  sc.LifeTime = 7200;
  Connect(sc);
  EXPECT_EQ(m_Mng->GetUsername(false), "bob");
  EXPECT_EQ(m_Mng->GetPassword(true), "s3cret");
  uint32_t addr = m_Mng->ResolveHost("desk.corp");
  EXPECT_EQ(FormatNetAddress(addr), "127.0.0.5");
  uint32_t idle = 0, life = 0;
  m_Mng->GetTimers(idle, life);
  EXPECT_EQ(idle, 300u);
  EXPECT_EQ(life, 7200u);
  m_Mng->ResetTimers();
  m_Mng->SendLogMsg(6, "VantrelTCS", 0, "", "hello gateway");
  ASSERT_TRUE(m_Peer->WaitForLogRecords(1, kWaitMs));
  EXPECT_EQ(m_Peer->LogRecords()[0].Message, "hello gateway");
  EXPECT_EQ(m_Peer->LogRecords()[0].Protocol, "VantrelTCS");
  EXPECT_TRUE(m_Peer->WaitForMessage(mcResetTimers, kWaitMs));

  // Alternative credentials answer without a message unless the caller says otherwise.
  m_Mng->SetAltCred("alt", "altpw");
  size_t asked = m_Peer->ReceivedMessages(mcUserName).size();
  EXPECT_EQ(m_Mng->GetUsername(false), "alt");
  EXPECT_EQ(m_Mng->GetPassword(false), "altpw");
  EXPECT_EQ(m_Peer->ReceivedMessages(mcUserName).size(), asked);
  EXPECT_EQ(m_Mng->GetUsername(true), "bob");
  EXPECT_TRUE(m_Peer->Errors().empty());
}

TEST_F(TTunnelTest, OverlongHostNameIsNotSent) {
  Connect();
  EXPECT_EQ(m_Mng->ResolveHost(std::string(4097, 'h')), 0xFFFFFFFFu);
  // A round trip after it: had the name gone out, the gateway would have seen it first.
  uint32_t idle, life;
  m_Mng->GetTimers(idle, life);
  EXPECT_TRUE(m_Peer->ReceivedMessages(mcResolve).empty());
}

TEST_F(TTunnelTest, RequestsEndWhenTheTunnelIsLostOrTheManagerGoes) {
  TGatewayScenario sc;
  sc.SilentCodes = {mcUserName, mcTimers};
  Connect(sc);
  auto name = std::async(std::launch::async, [&] { return m_Mng->GetUsername(true); });
  ASSERT_TRUE(m_Peer->WaitForMessage(mcUserName, kWaitMs));
  m_Peer->CloseControlConnection();
  EXPECT_EQ(name.get(), "");
  // After the loss a request fails at once.
  EXPECT_EQ(m_Mng->ResolveHost("x"), 0xFFFFFFFFu);
  m_Mng.reset();

  StartPeer(sc);
  m_Mng->InitControlConnection();
  ASSERT_TRUE(m_Mng->IsReady(kWaitMs));
  auto timers = std::async(std::launch::async, [&] {
    uint32_t idle = 1, life = 1;
    m_Mng->GetTimers(idle, life);
    return idle + life;
  });
  ASSERT_TRUE(m_Peer->WaitForMessage(mcTimers, kWaitMs));
  // Destruction ends the wait; the requester is out before the manager's memory goes.
  std::thread destroy([&] { m_Mng.reset(); });
  EXPECT_EQ(timers.get(), 0u);
  destroy.join();
}

TEST_F(TTunnelTest, ReaderCopesWithSplitJoinedUnknownAndStrayMessages) {
  TGatewayScenario sc;
  sc.TunnelUpCode = 0;
  StartPeer(sc);
  m_Mng->InitControlConnection();
  ASSERT_TRUE(m_Peer->WaitForMessage(mcInit, kWaitMs));
  auto hdr = [](uint8_t prmCode, uint16_t prmId, uint32_t prmLen) {
    return testpeer::EncodeHeader(testpeer::TProtocol::First,
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
  ASSERT_TRUE(m_Peer->SendRecords({TBytes(unknown.begin(), unknown.begin() + 7),
                                   TBytes(unknown.begin() + 7, unknown.end()),
                                   cat({strayData, strayClose, up})}));
  EXPECT_TRUE(m_Mng->IsReady(kWaitMs));
  // The stream is still in step: a request gets its answer.
  uint32_t idle, life;
  m_Mng->GetTimers(idle, life);
  EXPECT_TRUE(m_Mng->IsConnected());
}

TEST_F(TTunnelTest, OversizedLengthEndsTheControlThread) {
  TLogCapture log;
  Connect();
  ASSERT_TRUE(m_Peer->SendRaw(
      testpeer::EncodeHeader(testpeer::TProtocol::First, testpeer::GatewayHeader(50, 0, 40000))));
  EXPECT_TRUE(log.WaitFor("Control : Allocation too large (40000)", kWaitMs));
  EXPECT_TRUE(
      log.WaitFor("_ControlConThd Exception (Control : Failed to allocate memory)", kWaitMs));
  // The control thread is gone: requests fail at once instead of waiting.
  EXPECT_EQ(m_Mng->GetUsername(true), "");
}

TEST_F(TTunnelTest, ProbeGetsExactlyOneAnswer) {
  Connect();
  ASSERT_TRUE(m_Peer->SendProbe());
  ASSERT_TRUE(m_Peer->WaitForCounters([](auto& c) { return c.ProbeAnswers >= 1; }, kWaitMs));
  uint32_t idle, life;
  m_Mng->GetTimers(idle, life);  // a round trip after the first answer
  EXPECT_EQ(m_Peer->ProbeAnswers(), 1);
}

TEST_F(TTunnelTest, KeepalivesFollowTheIntervalAndRestartCounting) {
  Connect();
  EXPECT_EQ(m_Peer->KeepaliveCount(), 0);
  m_Mng->SetKeepAliveInterval(-1);
  EXPECT_EQ(m_Mng->GetKeepAliveInterval(), 60);
  m_Mng->SetKeepAliveInterval(1);
  // Only a count that starts again after each keepalive reaches the interval a second time.
  EXPECT_TRUE(m_Peer->WaitForCounters([](auto& c) { return c.Keepalives >= 2; }, kWaitMs));
  m_Mng->SetKeepAliveInterval(0);
}

TEST_F(TTunnelTest, OpenRequestWithoutAnswerReturnsTrueAfterItsWait) {
  TGatewayScenario sc;
  sc.SilentCodes = {mcOpen};
  Connect(sc);
  EXPECT_TRUE(m_Mng->SendOpenConn(3, "10.0.0.5", 3389));
  auto open = m_Peer->WaitForMessage(mcOpen, kWaitMs);
  ASSERT_TRUE(open);
  EXPECT_EQ(open->Id(), 3);
  EXPECT_EQ(FormatDottedQuad(open->DestAddr), "10.0.0.5");
  EXPECT_EQ(open->DestPort, 3389);
}

TEST_F(TTunnelTest, LossTellsTheWindowThenReconnectThenCallback) {
  std::vector<uint32_t> seen;
  TWindow wnd([&](uint32_t prmMsg, uintptr_t, intptr_t) {
    seen.push_back(prmMsg);
    return 0;
  });
  Connect();
  std::atomic<bool> called{false};
  std::atomic<size_t> seenAtCallback{0};
  m_Mng->RegisterOnClose(&wnd, WM_USER + 1);
  m_Mng->SetReConnectMSGID(WM_USER + 12);
  m_Mng->RegisterOnCloseCallback([&] {
    seenAtCallback = seen.size();
    called = true;
  });
  m_Peer->CloseControlConnection();
  for (int i = 0; i < 200 && seen.size() < 2; ++i) wnd.WaitMessage(100);
  EXPECT_EQ(seen, (std::vector<uint32_t>{WM_USER + 1, WM_USER + 12}));
  for (int i = 0; i < 200 && !called; ++i) wnd.WaitMessage(50);
  EXPECT_TRUE(called);
  EXPECT_EQ(seenAtCallback, 2u);
  EXPECT_FALSE(m_Mng->IsConnected());
  EXPECT_FALSE(m_Mng->IsReady(0));
  m_Mng.reset();  // before the window it notifies
}

TEST_F(TTunnelTest, DestructionDuringReachabilityCheckIsPrompt) {
  std::vector<uint32_t> seen;
  TWindow wnd([&](uint32_t prmMsg, uintptr_t, intptr_t) {
    seen.push_back(prmMsg);
    return 0;
  });
  Connect();
  m_Mng->RegisterOnClose(&wnd, WM_USER + 1);
  m_Mng->SetReConnectMSGID(WM_USER + 12);
  // The gateway goes away for good: the check would try 90 times.
  m_Peer->Stop();
  for (int i = 0; i < 200 && seen.empty(); ++i) wnd.WaitMessage(100);
  ASSERT_EQ(seen, (std::vector<uint32_t>{WM_USER + 1}));
  m_Mng.reset();  // on the window thread, while the check runs
  EXPECT_EQ(seen.size(), 1u);
}

}  // namespace
}  // namespace vantrel::test
