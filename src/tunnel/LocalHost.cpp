#include "tunnel/LocalHost.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "diag/DebugLog.h"
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

void LocalHostTestThd(int prmServer, TAcceptState* prmState) {
  try {
    while (!g_LocalHostTestDone) {
      pollfd p{prmServer, POLLIN, 0};
      int r = poll(&p, 1, kAcceptStepMs);
      if (r < 0 && errno != EINTR) break;
      if (r <= 0 || !(p.revents & POLLIN)) continue;
      int conn = accept4(prmServer, nullptr, nullptr, SOCK_CLOEXEC);
      if (conn >= 0) {
        close(conn);  // the test only needs to see the connection arrive
        break;
      }
      // Out of descriptors or similar: retrying would only spin until the caller gives up.
      if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED) break;
    }
  } catch (...) {
    WriteDebugLog("SetFixedLocalHostAddr - Test thread failed");
  }
  close(prmServer);
  std::lock_guard<std::mutex> g(prmState->Lock);
  prmState->Finished = true;
  prmState->Cv.notify_all();
}

void SetLoopbackText() {
  // Only ever the same value; skip the write so readers on other threads never race with it.
  if (std::memcmp(g_FixedLocalHostAddr, kLoopback, sizeof kLoopback) != 0)
    std::memcpy(g_FixedLocalHostAddr, kLoopback, sizeof kLoopback);
}

// Creates, binds and starts listening on the test server socket; -1 after logging the failure.
int OpenTestServer(uint16_t& prmPort) {
  int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (server < 0) {
    WriteDebugLog("SetFixedLocalHostAddr - Failed to create server socket");
    return -1;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  addr.sin_port = 0;
  const char* failure = nullptr;
  socklen_t len = sizeof addr;
  if (bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    failure = "SetFixedLocalHostAddr - Failed to bind server socket";
  else if (getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    failure = "SetFixedLocalHostAddr - Failed to get local binding port number";
  else if (listen(server, SOMAXCONN) != 0)
    failure = "SetFixedLocalHostAddr - Failed to start listening for connections";
  if (failure) {
    WriteDebugLog(failure);
    close(server);
    return -1;
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
  int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (client < 0) {
    WriteDebugLog("SetFixedLocalHostAddr - Failed to create client socket (" +
                  std::to_string(errno) + ")");
    return false;
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(prmPort);
  int err = inet_pton(AF_INET, g_FixedLocalHostAddr, &addr.sin_addr) == 1
                ? ConnectBounded(client, addr)
                : EINVAL;
  close(client);
  if (err == 0) return true;
  WriteDebugLog("SetFixedLocalHostAddr - Failed to connect to test socket" + std::to_string(err) +
                ") using 127.0.0.1");
  return false;
}

void RunSelfTest() {
  WriteDebugLog("SetFixedLocalHostAddr - Begin");
  g_LocalHostTestDone = false;
  uint16_t port = 0;
  int server = OpenTestServer(port);
  if (server < 0) return;
  TAcceptState state;
  std::thread thd;
  try {
    thd = std::thread(LocalHostTestThd, server, &state);
  } catch (...) {
    WriteDebugLog("SetFixedLocalHostAddr - Failed to start test thread");
    close(server);
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
