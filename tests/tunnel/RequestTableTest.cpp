#include "tunnel/RequestTable.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace vantrel {
namespace {

using TAnswer = TRequestTable::TAnswer;
using namespace std::chrono_literals;

// What ends a request's wait, and with what.
TEST(RequestTable, AWaitEndsWithTheAnswerOrTheFailureValue) {
  enum class TEnd { Answered, Lost, Silent, NotSent, StaleAnswer };
  struct TCase {
    TEnd End;
    uint32_t Expected;
    bool ToldSilent;
  };
  const TCase cases[] = {{TEnd::Answered, 7, false},
                         {TEnd::Lost, 99, false},
                         {TEnd::Silent, 99, true},
                         {TEnd::NotSent, 99, false},
                         // An answer nobody asked for ends the next wait with the failure value.
                         {TEnd::StaleAnswer, 99, false}};
  for (const TCase& c : cases) {
    TEvent lost(true);
    std::string silent;
    TRequestTable table(lost, [&](const std::string& prmWhy) { silent = prmWhy; });
    table.SetTimeout(c.End == TEnd::Silent ? 50 : 5000);
    if (c.End == TEnd::StaleAnswer) table.Answer(TRequestTable::rkHost, {7, 0, {}});
    std::thread gateway([&] {
      std::this_thread::sleep_for(20ms);
      if (c.End == TEnd::Answered) table.Answer(TRequestTable::rkHost, {7, 0, {}});
      if (c.End == TEnd::Lost) {
        lost.Set();
        table.Wake();
      }
    });
    const auto start = std::chrono::steady_clock::now();
    TAnswer a =
        table.Ask(TRequestTable::rkHost, {99, 0, {}}, [&] { return c.End != TEnd::NotSent; });
    gateway.join();
    EXPECT_EQ(a.First, c.Expected) << static_cast<int>(c.End);
    EXPECT_EQ(!silent.empty(), c.ToldSilent) << static_cast<int>(c.End);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << static_cast<int>(c.End);
    table.Drain();  // nobody left waiting
  }
}

TEST(RequestTable, OneRequestOfAKindAtATimeOthersGoOn) {
  TEvent lost(true);
  TRequestTable table(lost, [](const std::string&) {});
  std::atomic<int> sent{0};
  std::string names[2];
  auto askName = [&](std::string& prmOut) {
    prmOut = table.Ask(TRequestTable::rkUserName, {}, [&] { return ++sent, true; }).Text;
  };
  std::thread first([&] { askName(names[0]); });
  std::thread second([&] { askName(names[1]); });
  // Another kind is not held up by the names.
  std::thread timers([&] {
    EXPECT_EQ(table.Ask(TRequestTable::rkTimers, {}, [&] { return ++sent, true; }).Second, 5u);
  });
  while (sent < 2) std::this_thread::yield();
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(sent, 2);  // one name and the timers; the second name waits its turn
  table.Answer(TRequestTable::rkTimers, {0, 5, {}});
  table.Answer(TRequestTable::rkUserName, {0, 0, "u1"});
  while (sent < 3) std::this_thread::yield();
  table.Answer(TRequestTable::rkUserName, {0, 0, "u2"});
  first.join();
  second.join();
  timers.join();
  EXPECT_EQ(names[0] + names[1] == "u1u2" || names[0] + names[1] == "u2u1", true);
}

TEST(RequestTable, ReadyWaitEndsOnAnswerLossGiveUpOrTime) {
  struct TCase {
    const char* Name;
    bool Signal, Lose, GiveUp;
    bool Expected;
  };
  const TCase cases[] = {{"answered", true, false, false, true},
                         {"lost", false, true, false, false},
                         {"given up", false, false, true, false},
                         {"timed out", false, false, false, false}};
  for (const TCase& c : cases) {
    TEvent lost(true);
    TRequestTable table(lost, [](const std::string&) {});
    const uint64_t seen = table.ReadyCount();
    std::thread gateway([&] {
      std::this_thread::sleep_for(20ms);
      if (c.Signal) table.SignalReady();
      if (c.Lose) lost.Set();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(table.WaitReady(seen, 300, [&] { return c.GiveUp; }), c.Expected) << c.Name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << c.Name;
    gateway.join();
  }
}

TEST(RequestTable, ReadyWaitFollowsTheInjectedClock) {
  TEvent lost(true);
  TRequestTable table(lost, [](const std::string&) {});
  auto now = std::chrono::steady_clock::now();
  table.SetClock([&now] { return now += 1s; });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(table.WaitReady(table.ReadyCount(), 10000, [] { return false; }));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);  // not the ten seconds it names
}

}  // namespace
}  // namespace vantrel
