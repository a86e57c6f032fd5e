// The availability-server conversations of a desktop record against a scripted server: the exact
// requests, the status each reply leads to, and the request threads ending with their owner.
#include <gtest/gtest.h>

#include "catalogue/Host.h"
#include "catalogue/HostOwnerDouble.h"
#include "catalogue/MaskUnmask.h"
#include "diag/TextCodecs.h"
#include "diag/Xml.h"
#include "support/LogCapture.h"

namespace vantrel::test {
namespace {

const std::string kServer = "http://127.0.0.1:9090";

std::string StateReply(const std::string& prmAttrs) {
  return "<OQN><StateSess " + prmAttrs + "/></OQN>";
}

class HostRequestsTest : public ::testing::Test {
 protected:
  THost& Make(const std::string& prmHostXml) {
    m_Doc = TXmlDoc::Parse("<OQN><Hosts>" + prmHostXml + "</Hosts></OQN>");
    m_Hosts = LoadHosts(m_Doc.Root(), m_Owner);
    EXPECT_EQ(m_Hosts.size(), 1u);
    m_Hosts[0]->SetWakeupPollInterval(1);
    return *m_Hosts[0];
  }
  THost& Desktop() {
    std::string sess =
        Base64Encode(MaskUnmaskStr("alice")) + "@" + Base64Encode(MaskUnmaskStr("pw"));
    return Make(R"(<Host ID="10.1.2.3" Provider="VMView" ProviderID="p1" desktopID="d1" )"
                R"(Params="_PORT=3390" State="3" Desc="My PC &amp; co" SessInfo=")" +
                sess + "\">pc.corp</Host>");
  }
  void EnablePowerMng() {
    TXmlDoc settings = TXmlDoc::Parse("<Settings><powermng>1</powermng></Settings>");
    m_Owner.m_DBMng.LoadXML(settings.Root());
    ASSERT_TRUE(m_Owner.m_DBMng.GetEnablePowerMng());
  }

  // Declared first so the hosts (and their threads) go before it.
  THostOwnerDouble m_Owner;
  TXmlDoc m_Doc;
  std::vector<std::unique_ptr<THost>> m_Hosts;
};

using TErrors = std::vector<std::pair<int, std::string>>;

TEST_F(HostRequestsTest, StateQueryRequestsAndRunningDesktop) {
  TLogCapture log;
  THost& h = Desktop();
  m_Owner.Script({Reply(StateReply("ID='42'")),
                  Reply(StateReply("State='3' Host='10.0.0.9' VDIUser='' VDIPwd='np' "
                                   "VDIDomain='CORP'"))});
  h.DoRefreshState();

  // Values as they are, in this order; effective credentials in the second request only.
  EXPECT_EQ(m_Owner.URLs(),
            (std::vector<std::string>{
                kServer + "/object/newstatesess?_instid=default&_objid=10.1.2.3&_uname=portaluser"
                          "&_prov=VMView&_provid=p1&_deskid=d1",
                kServer + "/query/avail?_instid=default&_sessid=42&_port=3390&_prov=VMView"
                          "&_provid=p1&_deskid=d1&_uname=vdiuser&_pid=vdipwd"}));
  EXPECT_EQ(m_Owner.StatusValues(), (std::vector<int>{1}));
  EXPECT_EQ(h.GetHost(), "10.0.0.9");
  EXPECT_EQ(h.GetUsername(), "alice");  // an empty VDIUser keeps the SessInfo user
  EXPECT_EQ(h.GetPwd(), "np");
  EXPECT_EQ(h.GetDomain(), "CORP");
  EXPECT_EQ(h.GetSessID(), -1);
  EXPECT_TRUE(m_Owner.Errors().empty());

  // The password never reaches the log; the request is shown with "=XXXX".
  EXPECT_TRUE(log.HasLine("RefreshDesktopState - " + kServer +
                          "/query/avail?_instid=default&_sessid=42&_port=3390&_prov=VMView"
                          "&_provid=p1&_deskid=d1&_uname=vdiuser&_pid=XXXX"));
  EXPECT_FALSE(log.Contains("vdipwd"));
}

TEST_F(HostRequestsTest, StateQueryInsertsValuesWithoutEncoding) {
  m_Owner.m_DBMng.SetOstraInstance("my inst&1");
  THost& h = Make(R"(<Host ID="pc one" Provider="a b">x</Host>)");
  m_Owner.Script({Reply(StateReply("ID='1'")), Reply(StateReply("State='3'"))});
  h.DoRefreshState();
  auto urls = m_Owner.URLs();
  ASSERT_EQ(urls.size(), 2u);
  EXPECT_EQ(urls[0], kServer +
                         "/object/newstatesess?_instid=my inst&1&_objid=pc one&_uname=portaluser"
                         "&_prov=a b&_provid=&_deskid=");
}

TEST_F(HostRequestsTest, StateQueryStatesAndPowerManagement) {
  THost& h = Desktop();
  const std::pair<const char*, int> withoutPowerMng[] = {
      {"State='1'", 0}, {"State='2'", 0}, {"State='4'", 0}, {"State='x'", 0}, {"", 0}};
  for (auto [attrs, status] : withoutPowerMng) {
    m_Owner.Script({Reply(StateReply("ID='5'")), Reply(StateReply(attrs))});
    h.DoRefreshState();
    EXPECT_EQ(m_Owner.StatusValues().back(), status) << attrs;
    EXPECT_EQ(h.GetSessID(), -1);
  }
  EnablePowerMng();
  m_Owner.Script({Reply(StateReply("ID='5'")), Reply(StateReply("State='1'"))});
  h.DoRefreshState();
  EXPECT_EQ(m_Owner.StatusValues().back(), 2);

  // No "StateSess" in the second reply counts as state 0.
  m_Owner.Script({Reply(StateReply("ID='5'")), Reply("<OQN/>")});
  h.DoRefreshState();
  EXPECT_EQ(m_Owner.StatusValues().back(), 0);
  EXPECT_EQ(h.GetHost(), "pc.corp");  // only state 3 replaces the address
}

TEST_F(HostRequestsTest, StateQueryFailures) {
  TLogCapture log;
  THost& h = Desktop();

  // First request failed: error 17, and the second request still goes out, without a session.
  m_Owner.Script({Failure("boom"), Reply(StateReply("State='3'"))});
  h.DoRefreshState();
  auto urls = m_Owner.URLs();
  ASSERT_EQ(urls.size(), 2u);
  EXPECT_NE(urls[1].find("_sessid=-1&"), std::string::npos);
  EXPECT_EQ(m_Owner.Errors(), (TErrors{{17, "Refresh Desktop State 1 - boom"}}));
  EXPECT_EQ(m_Owner.StatusValues(), (std::vector<int>{1}));

  // Second request failed: error 17 and status 0.
  m_Owner.Script({Reply(StateReply("ID='9'")), Failure("gone")});
  h.DoRefreshState();
  EXPECT_EQ(m_Owner.Errors().back(),
            (std::pair<int, std::string>{17, "Refresh Desktop State 2 - gone"}));
  EXPECT_EQ(m_Owner.StatusValues().back(), 0);
  EXPECT_EQ(h.GetSessID(), -1);

  // No "StateSess" in the first reply: only a log line, the query goes on.
  m_Owner.Script({Reply("<OQN/>"), Reply(StateReply("State='3'"))});
  h.DoRefreshState();
  EXPECT_TRUE(log.HasLine("RefreshDesktopState - Could not find a session state"));
  EXPECT_EQ(m_Owner.StatusValues().back(), 1);
}

TEST_F(HostRequestsTest, StateQueryReplyNotXmlEndsTheWait) {
  TLogCapture log;
  THost& h = Desktop();
  for (const char* bad : {"<OQN><StateSess", "", "not xml at all"}) {
    size_t before = m_Owner.URLs().size();
    m_Owner.Script({Reply(bad)});
    h.DoRefreshState();
    EXPECT_EQ(m_Owner.URLs().size(), before + 1) << bad;  // ends at the first reply
    EXPECT_EQ(m_Owner.StatusValues().back(), 0);
  }
  m_Owner.Script({Reply(StateReply("ID='3'")), Reply("<<<")});
  h.DoRefreshState();
  EXPECT_EQ(m_Owner.StatusValues().back(), 0);
  EXPECT_EQ(h.GetSessID(), -1);
  EXPECT_EQ(log.Count("RefreshDesktopState - received invalid response"), 4u);
  EXPECT_TRUE(m_Owner.Errors().empty());
}

TEST_F(HostRequestsTest, NoAvailabilityServerMakesNoRequest) {
  TLogCapture log;
  THost& h = Desktop();
  m_Owner.m_DBMng.SetOstraServer("");
  h.DoRefreshState();
  h.DoMonitorWakeup();
  h.PowerupDesktop();
  EXPECT_FALSE(h.DelDesktop());
  EXPECT_TRUE(m_Owner.URLs().empty());
  EXPECT_EQ(log.Count("Ostra is enabled, but Ostra server is not specified"), 2u);
  EXPECT_TRUE(m_Owner.Statuses().empty());
}

TEST_F(HostRequestsTest, WakeupPollsWithOneRequestUntilRunning) {
  THost& h = Desktop();
  h.SetSessID(77);
  m_Owner.Script({Reply(StateReply("State='2'")), Reply(StateReply("State='5'")),
                  Reply(StateReply("State='-1'")), Reply(StateReply("State='3' Host='newhost'"))});
  h.DoMonitorWakeup();
  const std::string url = kServer +
                          "/query/avail?_instid=default&_sessid=77&_objid=10.1.2.3&_port=3390"
                          "&_prov=VMView&_provid=p1&_deskid=d1&_uname=portaluser&_pid=portalpwd";
  EXPECT_EQ(m_Owner.URLs(), (std::vector<std::string>(4, url)));
  EXPECT_EQ(m_Owner.StatusValues(), (std::vector<int>{1}));
  EXPECT_EQ(h.GetHost(), "newhost");
  EXPECT_EQ(h.GetSessID(), -1);
}

TEST_F(HostRequestsTest, WakeupEndings) {
  TLogCapture log;
  THost& h = Desktop();
  struct TCase {
    TScriptedReply Reply;
    int Status;
  };
  const TCase cases[] = {{Reply(StateReply("State='4'")), 9},
                         {Reply(StateReply("State='0'")), 9},
                         {Reply(StateReply("State='1'")), 9},
                         {Reply("<OQN/>"), 9},
                         {Reply(StateReply("State='3'")), 1},
                         {Reply("</broken>"), 9},
                         {Failure("cut"), 0}};
  for (const TCase& c : cases) {
    h.SetSessID(12);
    m_Owner.Script({c.Reply});
    h.DoMonitorWakeup();
    EXPECT_EQ(m_Owner.StatusValues().back(), c.Status) << c.Reply.Body;
    EXPECT_EQ(h.GetSessID(), -1);
  }
  EXPECT_EQ(h.GetHost(), "pc.corp");  // state 3 without "Host" keeps the address
  EXPECT_EQ(m_Owner.Errors(), (TErrors{{17, "Wakeup monitor - cut"}}));
  EXPECT_TRUE(log.HasLine("MonitorWakeup - received invalid response"));
}

TEST_F(HostRequestsTest, WakeupEndsWhenTheOwnerGoes) {
  TLogCapture log;
  THost& h = Desktop();
  h.SetWakeupPollInterval(WAKEUP_POLL_INTERVAL_MS);
  m_Owner.Script({Reply(StateReply("State='2'"))});
  h.MonitorWakeup();
  ASSERT_TRUE(m_Owner.WaitFetches(1));
  // The owner goes: the pause between polls ends and the thread is joined, without a report.
  m_Owner.m_Stop.Set();
  h.StopRequests();
  EXPECT_EQ(m_Owner.URLs().size(), 1u);
  EXPECT_TRUE(m_Owner.Statuses().empty());
  EXPECT_TRUE(m_Owner.Errors().empty());
  EXPECT_TRUE(log.HasLine("MonitorWakeup - stopped"));

  // Once stopped the host starts no more requests.
  h.RefreshState();
  h.MonitorWakeup();
  h.StopRequests();
  EXPECT_EQ(m_Owner.URLs().size(), 1u);
}

TEST_F(HostRequestsTest, DestroyingAPollingHostEndsItsThread) {
  Desktop().SetWakeupPollInterval(WAKEUP_POLL_INTERVAL_MS);
  m_Owner.Script({Reply(StateReply("State='2'"))});
  m_Hosts[0]->MonitorWakeup();
  ASSERT_TRUE(m_Owner.WaitFetches(1));
  m_Hosts.clear();  // the destructor stops and joins the poller
  EXPECT_EQ(m_Owner.URLs().size(), 1u);
  EXPECT_TRUE(m_Owner.Statuses().empty());
}

TEST_F(HostRequestsTest, FetchCutShortByTheOwnerReportsNothing) {
  THost& h = Desktop();
  m_Owner.m_Stop.Set();
  m_Owner.Script({Failure("tunnel closed")});
  h.DoRefreshState();
  h.DoMonitorWakeup();
  h.PowerupDesktop();
  EXPECT_TRUE(m_Owner.Errors().empty());
  EXPECT_TRUE(m_Owner.Statuses().empty());
}

TEST_F(HostRequestsTest, PowerupEncodesAndStartsTheMonitor) {
  m_Owner.m_DBMng.SetOstraInstance("inst 1");
  THost& h = Desktop();
  m_Owner.Script({Reply(StateReply("ID='55'")), Reply(StateReply("State='3'"))});
  h.PowerupDesktop();
  ASSERT_TRUE(m_Owner.WaitStatuses(2));
  EXPECT_EQ(m_Owner.StatusValues(), (std::vector<int>{3, 1}));
  auto urls = m_Owner.URLs();
  ASSERT_EQ(urls.size(), 2u);
  EXPECT_EQ(urls[0], kServer +
                         "/object/powerup?_instid=inst+1&_objid=10.1.2.3&_uname=portaluser"
                         "&_prov=VMView&_provid=p1&_deskid=d1&_desc=My+PC+%26+co");
  EXPECT_NE(urls[1].find("/query/avail?_instid=inst 1&_sessid=55&"), std::string::npos);
}

TEST_F(HostRequestsTest, PowerupFailures) {
  TLogCapture log;
  THost& h = Desktop();
  m_Owner.Script({Failure("no route")});
  h.PowerupDesktop();
  EXPECT_EQ(m_Owner.Errors(), (TErrors{{18, "no route"}}));
  EXPECT_TRUE(m_Owner.Statuses().empty());

  m_Owner.Script({Reply("garbage")});
  h.PowerupDesktop();
  EXPECT_TRUE(log.HasLine("Powerup - received invalid response"));
  m_Owner.Script({Reply("<OQN/>")});
  h.PowerupDesktop();
  EXPECT_TRUE(log.HasLine("Powerup - Could not find a session state"));
  // Neither starts a monitor; the user is told the power-up failed.
  h.StopRequests();
  EXPECT_EQ(m_Owner.URLs().size(), 3u);
  EXPECT_EQ(m_Owner.StatusValues(), (std::vector<int>{9, 9}));
}

TEST_F(HostRequestsTest, DeleteEncodesAndIgnoresTheReply) {
  m_Owner.m_DBMng.SetOstraInstance("inst 1");
  THost& h = Make(R"(<Host ID="pc&amp;1" Provider="XenDesktop" ProviderID="x y">x</Host>)");
  m_Owner.Script({Reply("whatever")});
  EXPECT_TRUE(h.DelDesktop());
  EXPECT_EQ(
      m_Owner.URLs(),
      (std::vector<std::string>{kServer + "/object/del?_instid=inst+1&_objid=pc&1&_uname=portaluser"
                                          "&_prov=XenDesktop&_provid=x y&_deskid="}));
  EXPECT_TRUE(m_Owner.Statuses().empty());
}

TEST_F(HostRequestsTest, BeforeConnectByProviderStatusAndPowerManagement) {
  // XenDesktop and status 5 are available at once, without a query.
  Make(R"(<Host Provider="XenDesktop">x</Host>)").BeforeConnect();
  THost& other = Make(R"(<Host Provider="Other">x</Host>)");
  other.SetStatus(5);
  other.BeforeConnect();
  // Power management off: other providers are not queried...
  Make(R"(<Host Provider="Other" State="0">x</Host>)").BeforeConnect();
  // Provider names are exact: "vmview" is not VMView.
  Make(R"(<Host Provider="vmview">x</Host>)").BeforeConnect();
  EXPECT_EQ(m_Owner.StatusValues(), (std::vector<int>{1, 5, 1, 1, 1}));
  EXPECT_TRUE(m_Owner.URLs().empty());

  // ...but a VMView desktop still is.
  m_Owner.Script({Reply(StateReply("ID='1'")), Reply(StateReply("State='3'"))});
  Make(R"(<Host Provider="VMView">x</Host>)").BeforeConnect();
  ASSERT_TRUE(m_Owner.WaitStatuses(7));
  EXPECT_EQ(m_Owner.StatusValues(), (std::vector<int>{1, 5, 1, 1, 1, 8, 1}));

  // Power management on: every provider but XenDesktop is queried.
  EnablePowerMng();
  m_Owner.Script({Reply(StateReply("ID='1'")), Reply(StateReply("State='1'"))});
  Make(R"(<Host Provider="Other">x</Host>)").BeforeConnect();
  ASSERT_TRUE(m_Owner.WaitStatuses(9));
  EXPECT_EQ(m_Owner.StatusValues().back(), 2);
  EXPECT_EQ(m_Owner.URLs().size(), 4u);
  EXPECT_EQ(m_Owner.Statuses().back().first, 0);  // posted with the host's index
  // ...and "xendesktop" is such another provider, as the launch sees it too.
  m_Owner.Script({Reply(StateReply("ID='1'")), Reply(StateReply("State='3'"))});
  Make(R"(<Host Provider="xendesktop">x</Host>)").BeforeConnect();
  ASSERT_TRUE(m_Owner.WaitStatuses(11));
  EXPECT_EQ(m_Owner.StatusValues().back(), 1);
  EXPECT_EQ(m_Owner.URLs().size(), 6u);
}

}  // namespace
}  // namespace vantrel::test
