// Lookups the caller can leave: answers, failures, a stop request and a limit, and a lookup that
// was left behind still ending on its own.
#include "platform/Resolver.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/Event.h"

namespace vantrel {
namespace {

std::atomic<bool> g_Release{false};
std::atomic<int> g_Started{0};
std::atomic<int> g_Finished{0};

int NeverFound(const char*, const char*, const addrinfo*, addrinfo**) {
  return EAI_NONAME;
}

// A resolver that does not answer until the test lets it.
int Stalled(const char*, const char*, const addrinfo*, addrinfo**) {
  ++g_Started;
  while (!g_Release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ++g_Finished;
  return EAI_AGAIN;
}

std::string Text(in_addr prmAddr) {
  char buf[INET_ADDRSTRLEN];
  return inet_ntop(AF_INET, &prmAddr, buf, sizeof buf);
}

TEST(Resolver, AnswersFailuresStopAndLimit) {
  in_addr addr{};
  int error = 0;
  EXPECT_EQ(ResolveIPv4("10.1.2.3", addr, {-1, -1, &Stalled}), TResolveResult::Resolved)
      << "a dotted address needs no lookup";
  EXPECT_EQ(Text(addr), "10.1.2.3");
  EXPECT_EQ(ResolveIPv4("localhost", addr, {}), TResolveResult::Resolved);
  EXPECT_EQ(Text(addr), "127.0.0.1");
  EXPECT_EQ(ResolveIPv4("gw.example", addr, {-1, -1, &NeverFound}, &error),
            TResolveResult::NotFound);
  EXPECT_EQ(error, EAI_NONAME);

  // A stop during the lookup, one before it (no lookup is started), and the caller's limit.
  TEvent stop(true);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop.Set();
  });
  EXPECT_EQ(ResolveIPv4("gw.example", addr, {stop.Fd(), -1, &Stalled}), TResolveResult::Cancelled);
  stopper.join();
  EXPECT_EQ(ResolveIPv4("gw.example", addr, {stop.Fd(), -1, &Stalled}), TResolveResult::Cancelled);
  EXPECT_EQ(ResolveIPv4("gw.example", addr, {-1, 50, &Stalled}), TResolveResult::TimedOut);
  EXPECT_EQ(g_Finished, 0);
  // The two lookups left behind end once the resolver answers, and free what they hold.
  g_Release = true;
  for (int i = 0; i < 5000 && g_Finished < 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(g_Finished, 2);
  EXPECT_EQ(g_Started, 2);
}

}  // namespace
}  // namespace vantrel
