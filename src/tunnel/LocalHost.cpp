#include "tunnel/LocalHost.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "diag/DebugLog.h"
#include "diag/NetAddress.h"
#include "diag/UniqueFd.h"
#include "platform/Event.h"

namespace vantrel {

char g_FixedLocalHostAddr[10] = "127.0.0.1";
std::atomic<bool> g_LocalHostTestDone{false};

namespace {

constexpr char kLoopback[] = "127.0.0.1";
constexpr int kAcceptStepMs = 100;
// How long a successful connect waits for the accept thread to take it; the connection is already
// queued, so this only matters on a machine that does not schedule the thread at all.
constexpr int kAcceptWaitMs = 5000;
constexpr int kConnectWaitMs = 5000;

// Signals the caller once the accept thread has taken its connection (or given up).
struct TAcceptState {
  std::mutex Lock;
  std::condition_variable Cv;
  bool Finished = false;
};

void LocalHostTestThd(TUniqueFd prmServer, TAcceptState* prmState) {
  try {
    while (!g_LocalHostTestDone) {
      pollfd p{prmServer.Get(), POLLIN, 0};
      int r = poll(&p, 1, kAcceptStepMs);
      if (r < 0 && errno != EINTR) break;
      if (r <= 0 || !(p.revents & POLLIN)) continue;
      // The test only needs to see the connection arrive; it is closed at once.
      if (TUniqueFd(accept4(prmServer.Get(), nullptr, nullptr, SOCK_CLOEXEC))) break;
      // Out of descriptors or similar: retrying would only spin until the caller gives up.
      if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) break;
    }
  } catch (...) {
    WriteDebugLog("SetFixedLocalHostAddr - Test thread failed");
  }
  prmServer.Reset();
  std::lock_guard<std::mutex> g(prmState->Lock);
  prmState->Finished = true;
  prmState->Cv.notify_all();
}

void SetLoopbackText() {
  // Only ever the same value; skip the write so readers on other threads never race with it.
  if (std::memcmp(g_FixedLocalHostAddr, kLoopback, sizeof kLoopback) != 0)
    std::memcpy(g_FixedLocalHostAddr, kLoopback, sizeof kLoopback);
}

// Creates, binds and starts listening on the test server socket; none after logging the failure.
TUniqueFd OpenTestServer(uint16_t& prmPort) {
  TUniqueFd server(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!server) {
    WriteDebugLog("SetFixedLocalHostAddr - Failed to create server socket");
    return server;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  addr.sin_port = 0;
  const char* failure = nullptr;
  socklen_t len = sizeof addr;
  if (bind(server.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    failure = "SetFixedLocalHostAddr - Failed to bind server socket";
  else if (getsockname(server.Get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    failure = "SetFixedLocalHostAddr - Failed to get local binding port number";
  else if (listen(server.Get(), SOMAXCONN) != 0)
    failure = "SetFixedLocalHostAddr - Failed to start listening for connections";
  if (failure) {
    WriteDebugLog(failure);
    return TUniqueFd();
  }
  prmPort = ntohs(addr.sin_port);
  return server;
}

// A loopback that silently drops packets would otherwise hold the connect thread for the
// kernel's full SYN retry time; 0 or the error number.
int ConnectBounded(int prmSock, const sockaddr_in& prmAddr) {
  int flags = fcntl(prmSock, F_GETFL, 0);
  if (flags < 0 || fcntl(prmSock, F_SETFL, flags | O_NONBLOCK) != 0) return errno;
  if (connect(prmSock, reinterpret_cast<const sockaddr*>(&prmAddr), sizeof prmAddr) == 0) return 0;
  if (errno != EINPROGRESS && errno != EINTR) return errno;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectWaitMs);
  for (;;) {
    pollfd p{prmSock, POLLOUT, 0};
    int r = poll(&p, 1, MsLeft(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return errno;
    if (r == 0) return ETIMEDOUT;
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(prmSock, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
    return err;
  }
}

// Connects the test client; logs the failure and returns false when it cannot.
bool ConnectTestClient(uint16_t prmPort) {
  TUniqueFd client(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!client) {
    WriteDebugLog("SetFixedLocalHostAddr - Failed to create client socket (" +
                  std::to_string(errno) + ")");
    return false;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(prmPort);
  uint32_t loopback = 0;
  int err = EINVAL;
  if (ParseDottedQuad(GetFixedLocalHostAddr(), loopback)) {
    addr.sin_addr.s_addr = htonl(loopback);
    err = ConnectBounded(client.Get(), addr);
  }
  client.Reset();
  if (err == 0) return true;
  WriteDebugLog("SetFixedLocalHostAddr - Failed to connect to test socket" + std::to_string(err) +
                ") using 127.0.0.1");
  return false;
}

void RunSelfTest() {
  WriteDebugLog("SetFixedLocalHostAddr - Begin");
  g_LocalHostTestDone = false;
  uint16_t port = 0;
  TUniqueFd server = OpenTestServer(port);
  if (!server) return;
  TAcceptState state;
  std::thread thd;
  try {
    thd = std::thread(LocalHostTestThd, std::move(server), &state);
  } catch (...) {
    WriteDebugLog("SetFixedLocalHostAddr - Failed to start test thread");
    return;
  }
  if (ConnectTestClient(port)) {
    std::unique_lock<std::mutex> g(state.Lock);
    state.Cv.wait_for(g, std::chrono::milliseconds(kAcceptWaitMs), [&] { return state.Finished; });
  } else {
    SetLoopbackText();
  }
  // Whatever happened, the accept thread ends within one poll step and is joined here, so no
  // thread or socket of the test outlives this call.
  g_LocalHostTestDone = true;
  thd.join();
  WriteDebugLog("SetFixedLocalHostAddr - End");
}

}  // namespace

void SetFixedLocalHostAddr() {
  // One test at a time: the stop flag is process-wide, and a second test resetting it could leave
  // the first one's accept thread running.
  static std::mutex s_Serial;
  try {
    std::lock_guard<std::mutex> g(s_Serial);
    RunSelfTest();
  } catch (...) {
    WriteDebugLog("SetFixedLocalHostAddr - Failed");
  }
}

std::string GetFixedLocalHostAddr() {
  return std::string(g_FixedLocalHostAddr,
                     strnlen(g_FixedLocalHostAddr, sizeof g_FixedLocalHostAddr));
}

}  // namespace vantrel
