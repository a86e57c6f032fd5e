// The process-wide loopback address every listener binds to and every launched client is pointed
// at, and the self-test that shows in the debug log whether loopback connections work.
#pragma once

#include <atomic>
#include <string>

namespace vantrel {

// Dotted address plus its terminating zero; written once at start-up and only ever rewritten with
// the same value, so readers on other threads need no lock.
extern char g_FixedLocalHostAddr[10];
// Tells the self-test's accept thread to stop.
extern std::atomic<bool> g_LocalHostTestDone;

// Runs the loopback self-test. Failures go to the debug log only; never raises. Returns only after
// its accept thread has ended and both test sockets are closed. Concurrent calls run one at a time.
void SetFixedLocalHostAddr();

// The address without its terminating zero ("127.0.0.1").
std::string GetFixedLocalHostAddr();

}  // namespace vantrel
