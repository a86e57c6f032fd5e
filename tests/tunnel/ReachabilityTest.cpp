#include "tunnel/Reachability.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "testpeer/GatewayPeer.h"

namespace vantrel {
namespace {

TEST(Reachability, DefaultRouteIsTheNetworkGate) {
  const std::string v4Head = "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\n";
  const std::string v6Zero(32, '0');
  struct TCase {
    const char* Name;
    std::string Table;
    bool IPv6;
    bool Expected;
  };
  const TCase cases[] = {
      {"v4 default up", v4Head + "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\n", false,
       true},
      {"v4 subnet only", v4Head + "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\n", false,
       false},
      {"v4 default down", v4Head + "eth0\t00000000\t010200C0\t0002\t0\t0\t0\t00000000\n", false,
       false},
      {"v4 default on loopback", v4Head + "lo\t00000000\t00000000\t0001\t0\t0\t0\t00000000\n",
       false, false},
      {"v4 titles only", v4Head, false, false},
      {"v6 default up",
       v6Zero + " 00 " + v6Zero + " 00 fd000000000000000000000000000001 00000400 00000003 " +
           "00000000 00000003     eth0\n",
       true, true},
      {"v6 reject route on loopback",
       v6Zero + " 00 " + v6Zero + " 00 " + v6Zero + " ffffffff 00000001 00000000 00200200 lo\n",
       true, false},
      {"v6 prefix route",
       "fd00" + std::string(28, '0') + " 40 " + v6Zero + " 00 " + v6Zero +
           " 00000100 00000001 00000000 00000001     eth0\n",
       true, false},
  };
  for (const TCase& c : cases) EXPECT_EQ(HasDefaultRoute(c.Table, c.IPv6), c.Expected) << c.Name;
}

TEST(Reachability, OnlineCheckCountsOnlyConnectedAttemptsAndEndsOnStop) {
  testpeer::TGatewayPeer gateway;
  const int live = gateway.Start();
  int closedPort = 0;
  {
    testpeer::TGatewayPeer gone;
    closedPort = gone.Start();
  }
  TEvent stop(true);
  int networkAsked = 0;
  auto offline = [&] {
    ++networkAsked;
    return false;
  };
  struct TCase {
    const char* Name;
    std::string Addr;
    int Port;
    bool Online;
    bool Expected;
    int MaxMs;
  };
  const TCase cases[] = {
      {"gateway answers", "127.0.0.1", live, true, true, 2000},
      {"gateway gone: every counted attempt fails", "127.0.0.1", closedPort, true, false, 2000},
      {"nothing to probe", "", live, true, false, 50},
      // Offline the attempts are not counted: only the stop ends the wait.
      {"offline until stopped", "192.0.2.1", live, false, false, 2000},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TOnlineCheck check;
    check.Attempts = 3;
    check.PauseMs = 20;
    networkAsked = 0;
    check.Network = c.Online ? TOnlineCheck{}.Network : offline;
    stop.Reset();
    std::thread stopper;
    if (!c.Online)
      stopper = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop.Set();
      });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitGatewayOnline(c.Addr, c.Port, stop, check), c.Expected);
    EXPECT_LE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(c.MaxMs));
    if (stopper.joinable()) {
      stopper.join();
      EXPECT_GT(networkAsked, check.Attempts);
    }
  }
}

}  // namespace
}  // namespace vantrel
