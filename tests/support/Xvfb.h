// An X server for tests that show windows: Xvfb on a display it chooses itself.
#pragma once

#include <sys/types.h>

#include <string>

namespace vantrel::test {

// Xvfb started by StartXvfb; stopped when this goes.
struct TXvfb {
  TXvfb() = default;
  TXvfb(const TXvfb&) = delete;
  TXvfb& operator=(const TXvfb&) = delete;
  ~TXvfb();
  pid_t Pid = -1;
  std::string Display;  // ":N"
};

// Starts Xvfb and waits (bounded) until it names its display; false with the reason in prmWhy.
bool StartXvfb(TXvfb& prmXvfb, std::string& prmWhy);

}  // namespace vantrel::test
