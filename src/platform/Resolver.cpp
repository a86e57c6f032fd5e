#include "platform/Resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>

#include <chrono>
#include <memory>
#include <system_error>
#include <thread>

#include "platform/Event.h"

namespace vantrel {
namespace {

// Shared by the caller and the lookup thread; whichever lets go last frees it.
struct TLookupState {
  std::string Host;
  TLookupFn Lookup;
  TEvent Done{true};
  // Written before Done is set, read only after the thread is joined.
  int Error = 0;
  in_addr Addr{};
};

void RunLookup(const std::shared_ptr<TLookupState>& prmState) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  const int rc = prmState->Lookup(prmState->Host.c_str(), nullptr, &hints, &res);
  if (rc != 0 || res == nullptr || res->ai_addr == nullptr)
    prmState->Error = rc != 0 ? rc : EAI_NONAME;
  else
    prmState->Addr = reinterpret_cast<const sockaddr_in*>(res->ai_addr)->sin_addr;
  if (res) freeaddrinfo(res);
  prmState->Done.Set();
}

}  // namespace

TResolveResult ResolveIPv4(const std::string& prmHost, in_addr& prmAddr,
                           const TResolveWait& prmWait, int* prmError) {
  if (inet_aton(prmHost.c_str(), &prmAddr) != 0) return TResolveResult::Resolved;
  // Already asked to stop: no lookup to leave behind.
  if (pollfd stop{prmWait.StopFd, POLLIN, 0}; prmWait.StopFd >= 0 && poll(&stop, 1, 0) > 0)
    return TResolveResult::Cancelled;
  std::shared_ptr<TLookupState> state;
  std::thread worker;
  try {
    state = std::make_shared<TLookupState>();  // its event needs a descriptor
    state->Host = prmHost;
    state->Lookup = prmWait.Lookup ? prmWait.Lookup : &getaddrinfo;
    worker = std::thread(RunLookup, state);
  } catch (const std::system_error&) {
    if (prmError) *prmError = EAI_SYSTEM;
    return TResolveResult::NotFound;
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(prmWait.LimitMs);
  for (;;) {
    pollfd fds[2] = {{state->Done.Fd(), POLLIN, 0}, {prmWait.StopFd, POLLIN, 0}};
    const int timeout = prmWait.LimitMs < 0 ? -1 : MsLeft(deadline);
    const int n = poll(fds, prmWait.StopFd >= 0 ? 2 : 1, timeout);
    if (n < 0 && errno == EINTR) continue;
    if (state->Done.IsSet()) break;
    // The lookup cannot be stopped; it ends on the resolver's own timeouts and frees the state.
    worker.detach();
    return n > 0 && (fds[1].revents & POLLIN) ? TResolveResult::Cancelled
                                              : TResolveResult::TimedOut;
  }
  worker.join();
  if (state->Error != 0) {
    if (prmError) *prmError = state->Error;
    return TResolveResult::NotFound;
  }
  prmAddr = state->Addr;
  return TResolveResult::Resolved;
}

}  // namespace vantrel
