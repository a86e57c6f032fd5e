#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "config/DbMng.h"
#include "platform/Event.h"
#include "platform/LastInput.h"
#include "session/MonitorHost.h"
#include "session/Monitors.h"
#include "session/MonitorsRecordingUI.h"

namespace vantrel::test {
namespace {

// Gateway timers are scripted; once the script is used up the tunnel is gone.
class TMonitorHostDouble : public IMonitorHost {
 public:
  std::deque<std::pair<int, int>> Timers;
  int IdleAlert = 0, LifetimeAlert = 0, IdleTimeoutKM = 0;
  bool Destroying = false;
  std::atomic<int> DestructionChecks{0};  // a keyboard monitor asks before each round
  int Resets = 0;
  TRecordingUI UI;
  TEvent Terminate{true};
  TDBMng Store;

  bool GetTimers(int& prmIdleLeft, int& prmLifetimeLeft) override {
    if (Timers.empty()) return false;
    std::tie(prmIdleLeft, prmLifetimeLeft) = Timers.front();
    Timers.pop_front();
    return true;
  }
  void ResetTimers() override { ++Resets; }
  ITCSUserInterface& GetUI() override { return UI; }
  int GetLifetimeAlert() override { return LifetimeAlert; }
  int GetIdleAlert() override { return IdleAlert; }
  int GetIdleTimeoutKM() override { return IdleTimeoutKM; }
  bool InDestruction() override {
    ++DestructionChecks;
    return Destroying;
  }
  TEvent& GetStopEvent() override { return Terminate; }
  TDBMng& GetDBMng() override { return Store; }
};

// Idle times in seconds, one per query; a negative entry is a failed query.
class TScriptedInput : public ILastInputSource {
 public:
  explicit TScriptedInput(std::deque<int64_t> prmIdle) : m_Idle(std::move(prmIdle)) {}
  bool GetIdleMs(uint64_t& prmIdleMs) override {
    int64_t s = m_Idle.empty() ? 0 : m_Idle.front();
    if (!m_Idle.empty()) m_Idle.pop_front();
    if (s < 0) return false;
    prmIdleMs = static_cast<uint64_t>(s) * 1000 + 999;
    return true;
  }

 private:
  std::deque<int64_t> m_Idle;
};

int CountThreads() {
  return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                        std::filesystem::directory_iterator()));
}

// Records each wait instead of sleeping; reports a stop after prmRounds waits.
struct TWaitLog {
  std::vector<int> Waits;
  size_t StopAfter = 1000;
  TSessionMonitors::TWait Wait() {
    return [this](int prmMs) {
      Waits.push_back(prmMs);
      return Waits.size() > StopAfter;
    };
  }
};

TEST(Monitors, WaitIsHalfTheMarginOfTheNearerLimit) {
  EXPECT_EQ(TimeoutWaitMs(400, 1000, 300, 0), 50000);
  EXPECT_EQ(TimeoutWaitMs(1000, 400, 0, 300), 50000);
  // On a tie the lifetime margin counts.
  EXPECT_EQ(TimeoutWaitMs(500, 500, 100, 300), 100000);
  EXPECT_EQ(TimeoutWaitMs(400, 1000, 399, 0), 500);   // margin 1 s
  EXPECT_EQ(TimeoutWaitMs(400, 1000, 397, 0), 1000);  // margin 3 s: 1 s after rounding down
  EXPECT_EQ(TimeoutWaitMs(400, 1000, 900, 0), 500);   // already inside the alert
  EXPECT_EQ(TimeoutWaitMs(-5, 1000, 0, 0), 500);
  EXPECT_EQ(TimeoutWaitMs(2000000000, 2100000000, -2000000000, 0), INT32_MAX);
}

TEST(Monitors, TimeoutMonitorAlertsEveryHalfSecondThenClears) {
  TMonitorHostDouble host;
  host.IdleAlert = 300;
  host.LifetimeAlert = 60;
  host.Timers = {{400, 1000}, {290, 990},  // first round: wait 50 s, idle alert due
                 {280, 980},               // alerting: 500 ms, still due
                 {900, 970},               // user active again: cleared
                 {900, 970},  {800, 960},  // wait (900-300)/2 s; nothing due or to clear
                 {40, 50},    {0, 50}};    // inside the alert: 500 ms; then idle reached
  TWaitLog waits;
  TSessionMonitors monitors(host, std::make_unique<TScriptedInput>(std::deque<int64_t>{}),
                            waits.Wait());
  monitors.MonitorTimeoutsThd();
  EXPECT_EQ(waits.Waits, (std::vector<int>{50000, 500, 500, 300000, 500}));
  EXPECT_EQ(host.UI.Reports(),
            (std::vector<std::string>{"idle 290", "idle 280", "clear", "idle -1"}));
}

TEST(Monitors, TimeoutMonitorTestsTheNearerLimitFirst) {
  TMonitorHostDouble host;
  host.IdleAlert = 500;
  host.LifetimeAlert = 500;
  // Equal: lifetime first. Idle nearer: idle first. Lifetime nearer: lifetime first.
  host.Timers = {{100, 100}, {100, 100}, {90, 95}, {95, 90}, {50, 0}};
  TWaitLog waits;
  TSessionMonitors monitors(host, nullptr, waits.Wait());
  monitors.MonitorTimeoutsThd();
  EXPECT_EQ(host.UI.Reports(),
            (std::vector<std::string>{"lifetime 100", "idle 90", "lifetime 90", "lifetime -1"}));
}

TEST(Monitors, TimeoutMonitorEndsOnTerminateOrWithoutTunnel) {
  TMonitorHostDouble host;
  host.IdleAlert = 10;
  host.Timers = {{400, 1000}};
  TWaitLog waits;
  waits.StopAfter = 0;
  TSessionMonitors stopped(host, nullptr, waits.Wait());
  stopped.MonitorTimeoutsThd();
  EXPECT_EQ(waits.Waits.size(), 1u);
  EXPECT_TRUE(host.UI.Reports().empty());

  // No tunnel to ask: the monitor ends quietly instead of alerting on made-up values.
  TWaitLog more;
  TSessionMonitors noTunnel(host, nullptr, more.Wait());
  noTunnel.MonitorTimeoutsThd();
  EXPECT_TRUE(more.Waits.empty());
  EXPECT_TRUE(host.UI.Reports().empty());
}

TEST(Monitors, KeyboardMonitorCountsDownTheLastMinute) {
  TMonitorHostDouble host;
  host.IdleTimeoutKM = 600;
  TWaitLog waits;
  TSessionMonitors monitors(
      host, std::make_unique<TScriptedInput>(std::deque<int64_t>{0, 540, 541, 599, 600, 601}),
      waits.Wait());
  monitors.MonitorKeyBoardThd();
  EXPECT_EQ(host.UI.Reports(), (std::vector<std::string>{"clear", "clear", "idlekm 59", "idlekm 1",
                                                         "idlekm 0", "idlekm -1", "error 26 "}));
  EXPECT_EQ(waits.Waits, std::vector<int>(5, 1000));
}

TEST(Monitors, KeyboardMonitorGivesUpAfterTheFifthInputFailure) {
  TMonitorHostDouble host;
  host.IdleTimeoutKM = 600;
  TWaitLog waits;
  TSessionMonitors monitors(
      host, std::make_unique<TScriptedInput>(std::deque<int64_t>{-1, 0, -1, -1, 700000, -1, -1}),
      waits.Wait());
  host.IdleTimeoutKM = 1000000;
  monitors.MonitorKeyBoardThd();
  // Failures are counted over the thread's life, not in a row.
  EXPECT_EQ(waits.Waits.size(), 7u);
  EXPECT_EQ(host.UI.Reports(), (std::vector<std::string>{"clear", "clear"}));
}

TEST(Monitors, KeyboardMonitorEndsWithTheOwner) {
  TMonitorHostDouble host;
  host.IdleTimeoutKM = 600;
  host.Destroying = true;
  TWaitLog waits;
  TSessionMonitors monitors(host, std::make_unique<TScriptedInput>(std::deque<int64_t>{}),
                            waits.Wait());
  monitors.MonitorKeyBoardThd();
  EXPECT_TRUE(waits.Waits.empty());
  // A huge idle time (a source counting from boot) cannot overflow the seconds left.
  host.Destroying = false;
  TWaitLog second;
  TSessionMonitors huge(
      host, std::make_unique<TScriptedInput>(std::deque<int64_t>{INT64_C(1) << 50}), second.Wait());
  huge.MonitorKeyBoardThd();
  ASSERT_EQ(host.UI.Reports().size(), 3u);
  EXPECT_LT(std::stoll(host.UI.Reports()[0].substr(7)), 0);
}

TEST(Monitors, StopJoinsRunningMonitorsWithoutKillingThem) {
  TMonitorHostDouble host;
  host.IdleAlert = 10;
  host.IdleTimeoutKM = 600;
  for (int i = 0; i < 4; ++i) host.Timers.push_back({100000, 200000});
  // A sanitizer starts a thread of its own with the process's first thread; not ours to count.
  std::thread([] {}).join();
  const int threadsBefore = CountThreads();
  int checksAtStop = 0;
  size_t reportsAtStop = 0;
  {
    TSessionMonitors monitors(host, std::make_unique<TScriptedInput>(std::deque<int64_t>{}));
    monitors.StartTimeoutMonitor();
    monitors.StartKeyBoardMonitor();
    monitors.StartTimeoutMonitor();  // a second start is ignored
    // Each keyboard round ends with a report: after the first, both monitors are in a wait.
    for (int i = 0; i < 1000 && host.UI.Reports().empty(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(host.UI.Reports().empty());
    // The timeout monitor now waits about 14 hours and the keyboard monitor a second at a time;
    // both must come back at once.
    const auto start = std::chrono::steady_clock::now();
    monitors.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_EQ(CountThreads(), threadsBefore);
    monitors.Stop();
    checksAtStop = host.DestructionChecks;
    reportsAtStop = host.UI.Reports().size();
    monitors.StartKeyBoardMonitor();  // no restart after a stop
  }
  // A restarted keyboard monitor, joined by the destructor, would have asked once more.
  EXPECT_EQ(host.DestructionChecks, checksAtStop);
  EXPECT_EQ(host.UI.Reports().size(), reportsAtStop);
  // One timeout monitor asked for its first wait and ended in it, without asking again or alerting.
  EXPECT_EQ(host.Timers.size(), 3u);
  for (const std::string& r : host.UI.Reports()) EXPECT_EQ(r, "clear");
}

TEST(Monitors, TerminateEventEndsTheDefaultWait) {
  TMonitorHostDouble host;
  host.IdleAlert = 10;
  host.Timers = {{100000, 200000}};
  TSessionMonitors monitors(host, std::make_unique<TScriptedInput>(std::deque<int64_t>{}));
  host.Terminate.Set();
  monitors.MonitorTimeoutsThd();
  EXPECT_TRUE(host.UI.Reports().empty());
  EXPECT_TRUE(host.Timers.empty());  // asked once for the wait, never after it
}

TEST(LastInput, LogindIdleHint) {
  uint64_t idle = 7;
  EXPECT_TRUE(ParseLogindIdle("IdleHint=no\nIdleSinceHintMonotonic=0\n", 5000000, idle));
  EXPECT_EQ(idle, 0u);
  EXPECT_TRUE(ParseLogindIdle("IdleSinceHintMonotonic=1000000\nIdleHint=yes", 62500000, idle));
  EXPECT_EQ(idle, 61500u);
  for (const char* bad :
       {"", "IdleHint=yes\n", "IdleHint=maybe\nIdleSinceHintMonotonic=1\n",
        "IdleHint=yes\nIdleSinceHintMonotonic=12a\n", "IdleHint=yes\nIdleSinceHintMonotonic=\n",
        "IdleHint=yes\nIdleSinceHintMonotonic=99999999999999999999999\n",
        "IdleHint=yes\nIdleSinceHintMonotonic=9000000\n"})
    EXPECT_FALSE(ParseLogindIdle(bad, 5000000, idle)) << bad;
}

TEST(LastInput, SourceWithoutDisplayNeverHangsOrCrashes) {
  unsetenv("DISPLAY");
  auto source = CreateLastInputSource();
  ASSERT_NE(source, nullptr);
  uint64_t idle = 0;
  // Whether logind answers depends on the machine; either way the call returns.
  (void)source->GetIdleMs(idle);
}

}  // namespace
}  // namespace vantrel::test
