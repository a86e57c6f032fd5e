// Name lookups the caller can walk away from. getaddrinfo cannot be interrupted and a resolver
// that does not answer holds it for the resolver's own timeouts (up to half a minute), so the
// lookup runs on a thread of its own while the caller waits on its stop event and a limit; a
// lookup left behind finishes alone and frees what it holds.
#pragma once

#include <netinet/in.h>

#include <string>

struct addrinfo;

namespace vantrel {

enum class TResolveResult { Resolved, NotFound, Cancelled, TimedOut };

// The lookup itself, replaceable for tests; getaddrinfo's signature and ownership rules.
using TLookupFn = int (*)(const char*, const char*, const addrinfo*, addrinfo**);

struct TResolveWait {
  int StopFd = -1;             // readable when the caller is asked to stop; -1 for none
  int LimitMs = -1;            // < 0: no limit of the caller's own
  TLookupFn Lookup = nullptr;  // nullptr: getaddrinfo
};

// A dotted IPv4 address at once, or else the first IPv4 address of the name. prmError gets the
// lookup's EAI_* code when the result is NotFound.
TResolveResult ResolveIPv4(const std::string& prmHost, in_addr& prmAddr,
                           const TResolveWait& prmWait, int* prmError = nullptr);

}  // namespace vantrel
