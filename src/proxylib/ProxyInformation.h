// The work behind GetProxyInformation: the module state it shares with its worker thread, the
// worker (ActiveX) and the caller's bounded wait for the worker's completion event.
//
// The completion event is the POSIX named semaphore CompletionEventName(): created by the
// caller before the worker starts (so a quick worker cannot signal before anyone listens) and
// posted by the worker. The caller waits at most 30 s; a worker still running then is parked
// (the library is never unmapped, see Exports.cpp) and joined by the next call or at process
// exit.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace vantrel::proxylib {

// Used for a null host: a private test address.
inline constexpr char kNullHostAddress[] = "10.0.0.1";
// Results outside 2 to 126 characters are not handed out.
inline constexpr size_t kMinProxyText = 2;
inline constexpr size_t kMaxProxyText = 126;

// "/Global\SaveFinished{...}.<uid>.<pid>": the event's name (with its missing closing brace),
// one per process, so that no other process's worker can end this one's wait; removed after
// each call.
std::string CompletionEventName();

// Host and result are UTF-8; prmHost null = the test address. Kinds 10 and above count as 0.
// Returns the proxy text to hand out, or nothing (empty) when it is outside the length rule.
std::u16string GetProxyInformationText(
    const char16_t* prmHost, uint32_t prmBrowser,
    std::chrono::milliseconds prmLimit = std::chrono::seconds(30));

}  // namespace vantrel::proxylib
