// The UI adapter: what each report posts to the control's window, the records it hands over and
// who frees them, and the texts the user is shown.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "config/DbMng.h"
#include "control/Locals.h"

namespace vantrel::test {
namespace {

struct TPosted {
  uint32_t Msg;
  uintptr_t W;
  intptr_t L;
  std::shared_ptr<TTCSStatusInfo> Status;
  std::shared_ptr<TTCSErrorInfo> Error;
};

// A control double: a real window whose handler takes the records as the control does.
class LocalsTest : public ::testing::Test {
 protected:
  LocalsTest()
      : m_Window([this](uint32_t m, uintptr_t w, intptr_t l) {
          TPosted p{m, w, l, nullptr, nullptr};
          if (m == WM_TCSStateNotify) p.Status = m_UI->TakeStatusInfo(l);
          if (m == WM_ReportError) p.Error = m_UI->TakeErrorInfo(l);
          m_Posted.push_back(std::move(p));
          return intptr_t{0};
        }),
        m_UI(std::make_unique<TTCSUserInterface>(&m_Window, &m_DBMng)) {}

  std::vector<TPosted> Handle() {
    m_Window.ProcessMessages();
    return std::exchange(m_Posted, {});
  }

  TDBMng m_DBMng;
  std::vector<TPosted> m_Posted;
  TWindow m_Window;
  std::unique_ptr<TTCSUserInterface> m_UI;
};

TEST_F(LocalsTest, StatusPostsItsRecord) {
  m_UI->UpdateTCSStatus(TCS_STATUS_DOWNLOAD, 42, "Downloading RDP Client");
  m_UI->UpdateTCSStatus(TCS_STATUS_CONNECTING, 0, "");
  m_UI->UpdateTCSStatus(TCS_STATUS_NONE, 7, "never");
  auto p = Handle();
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0].Msg, WM_USER + 101);
  EXPECT_EQ(p[0].W, 5u);
  ASSERT_TRUE(p[0].Status);
  EXPECT_EQ(p[0].Status->ID, 5);
  EXPECT_EQ(p[0].Status->LParam, 42);
  EXPECT_EQ(p[0].Status->SParam, "Downloading RDP Client");
  ASSERT_TRUE(p[1].Status);
  EXPECT_EQ(p[1].Status->ID, 1);
  EXPECT_FALSE(p[1].Status->SParam.has_value());  // an empty text travels as none
  EXPECT_EQ(m_UI->PendingRecords(), 0u);
}

TEST_F(LocalsTest, ErrorPostsItsRecord) {
  m_UI->ReportError(TCS_ERR_DESKTOP_STATE, "Refresh Desktop State 1 - x");
  m_UI->ReportError(26, "");
  auto p = Handle();
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0].Msg, WM_USER + 103);
  EXPECT_EQ(p[0].W, 0u);
  ASSERT_TRUE(p[0].Error);
  EXPECT_EQ(p[0].Error->ErrorID, 17);
  EXPECT_EQ(p[0].Error->Extra, "Refresh Desktop State 1 - x");
  ASSERT_TRUE(p[1].Error);
  EXPECT_EQ(p[1].Error->ErrorID, 26);
  EXPECT_FALSE(p[1].Error->Extra.has_value());
}

TEST_F(LocalsTest, AlertsAndHostStatusCarryTheirValues) {
  m_UI->IdleTimeoutAlert(300);
  m_UI->LifetimeTimeoutalert(-1);
  m_UI->IdleTimeoutAlertKM(12);
  m_UI->ClearTimeoutAlerts();
  m_UI->UpdateHostStatus(3, 9);
  auto p = Handle();
  ASSERT_EQ(p.size(), 5u);
  const std::tuple<uint32_t, uintptr_t, intptr_t> expected[] = {{WM_USER + 100, 1, 300},
                                                                {WM_USER + 100, 2, -1},
                                                                {WM_USER + 100, 3, 12},
                                                                {WM_USER + 100, 0, 0},
                                                                {WM_USER + 102, 3, 9}};
  for (size_t i = 0; i < p.size(); ++i)
    EXPECT_EQ(std::make_tuple(p[i].Msg, p[i].W, p[i].L), expected[i]) << i;
}

TEST_F(LocalsTest, DisableCustomDestChangesTheStore) {
  m_DBMng.SetAllowCustomDest(true);
  m_UI->DisableCustomDest();
  EXPECT_FALSE(m_DBMng.AllowCustomDest());
  EXPECT_TRUE(Handle().empty());
  TTCSUserInterface noStore(&m_Window, nullptr);
  noStore.DisableCustomDest();  // no store: nothing to change, no failure
}

TEST_F(LocalsTest, RecordsAreTakenOnceAndOnlyByType) {
  intptr_t key = 0;
  TWindow other([&](uint32_t, uintptr_t, intptr_t l) {
    key = l;
    return intptr_t{0};
  });
  TTCSUserInterface ui(&other, nullptr);
  ui.UpdateTCSStatus(4, 10, "x");
  other.ProcessMessages();
  EXPECT_EQ(ui.TakeErrorInfo(key), nullptr);      // a status record is not an error record
  EXPECT_EQ(m_UI->TakeStatusInfo(key), nullptr);  // nor another adapter's
  EXPECT_NE(ui.TakeStatusInfo(key), nullptr);
  EXPECT_EQ(ui.TakeStatusInfo(key), nullptr);  // taken already
  EXPECT_EQ(ui.TakeStatusInfo(12345), nullptr);
  EXPECT_EQ(ui.PendingRecords(), 0u);
}

TEST_F(LocalsTest, RecordsOfADestroyedWindowAreFreed) {
  // Queued, then the window goes before handling them: the adapter still holds them and frees
  // them when it goes (the sanitizer build checks nothing leaks).
  m_UI->UpdateTCSStatus(3, 0, "queued");
  m_UI->ReportError(1, "queued");
  EXPECT_EQ(m_UI->PendingRecords(), 2u);
  m_Window.Destroy();
  EXPECT_EQ(m_Window.ProcessMessages(), 0);
  // Posts to a window being destroyed fail and free their record at once.
  m_UI->UpdateTCSStatus(3, 0, "late");
  m_UI->ReportError(2, "late");
  EXPECT_EQ(m_UI->PendingRecords(), 2u);
  m_UI.reset();

  TTCSUserInterface noWindow(nullptr, nullptr);
  noWindow.UpdateTCSStatus(1, 0, "x");
  noWindow.ReportError(1, "x");
  noWindow.IdleTimeoutAlert(1);
  EXPECT_EQ(noWindow.PendingRecords(), 0u);
}

TEST_F(LocalsTest, ReportsFromManyThreadsAllArrive) {
  constexpr int kThreads = 4, kEach = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([this, t] {
      for (int i = 0; i < kEach; ++i) {
        m_UI->UpdateTCSStatus(TCS_STATUS_GET_DESKTOPS, t * kEach + i, "p");
        m_UI->ReportError(t, "e");
      }
    });
  for (auto& th : threads) th.join();
  auto p = Handle();
  ASSERT_EQ(p.size(), 2u * kThreads * kEach);
  std::vector<bool> seen(kThreads * kEach);
  for (auto& r : p) {
    ASSERT_TRUE(r.Status || r.Error);
    if (r.Status) seen[r.Status->LParam] = true;
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), kThreads * kEach);
  EXPECT_EQ(m_UI->PendingRecords(), 0u);
}

TEST(ErrorText, TextsExtrasAndUnknownCodes) {
  EXPECT_EQ(ErrorText(1, "ignored"), "Faild to retrieve registered desktops");
  EXPECT_EQ(ErrorText(3, "Failed to get Ostra Info"),
            "Failed to start client (please try to restart the client).\n\rFailed to get Ostra "
            "Info");
  EXPECT_EQ(ErrorText(5, "a.dll"), "The following plugins are missing\n\ra.dll");
  EXPECT_EQ(ErrorText(7, "pc.corp"), "Could not resolve host name (pc.corp)");
  EXPECT_EQ(ErrorText(8, ""), "Failed to open a connection to host ()");
  EXPECT_EQ(ErrorText(17, "x"), "Generic Error\n\rx");
  EXPECT_EQ(ErrorText(18, ""), "Power up Failed\n\r");
  EXPECT_EQ(ErrorText(10, ""),
            "The thin-client is not connected to the gateway, please re-start thin-client.");
  EXPECT_EQ(ErrorText(26, "x"), "Unknown error (26)");
  EXPECT_EQ(ErrorText(-5, ""), "Unknown error (-5)");
  EXPECT_EQ(ErrorText(9, ""), "Unknown error (9)");
}

TEST(ErrorText, ApplicationLaunchByExtra) {
  EXPECT_EQ(ErrorText(20, "-2"), "The application you selected have no servers available");
  EXPECT_EQ(ErrorText(20, "-1"), "Encountered unknown error");
  EXPECT_EQ(ErrorText(20, "5"), "Encountered unknown error (5)");
  EXPECT_EQ(ErrorText(20, "abc"), "Encountered unknown error (abc)");
  EXPECT_EQ(ErrorText(20, "-2x"), "Encountered unknown error (-2x)");
}

TEST(DurationText, UnpaddedParts) {
  EXPECT_EQ(DurationText(90061), "1 day(s) 1:1:1");
  EXPECT_EQ(DurationText(86400), "1 day(s) 0:0:0");
  EXPECT_EQ(DurationText(3600), "1:0:0");
  EXPECT_EQ(DurationText(61), "1:1");
  EXPECT_EQ(DurationText(59), "59 seconds");
  EXPECT_EQ(DurationText(0), "");
  EXPECT_EQ(DurationText(-1), "");
}

}  // namespace
}  // namespace vantrel::test
