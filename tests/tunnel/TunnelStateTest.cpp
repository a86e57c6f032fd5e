#include "tunnel/TunnelState.h"

#include <gtest/gtest.h>

#include <string>

namespace vantrel {
namespace {

using S = TTunnelState;

TEST(TunnelState, OnlyTheLifecycleOrderIsAllowed) {
  const S all[] = {S::Created, S::Connecting, S::Opened,   S::Up,
                   S::Lost,    S::Halted,     S::Stopping, S::Stopped};
  // Every allowed change; any other pair is refused.
  const std::pair<S, S> allowed[] = {
      {S::Created, S::Connecting},  {S::Connecting, S::Created}, {S::Connecting, S::Opened},
      {S::Opened, S::Up},           {S::Opened, S::Lost},        {S::Up, S::Lost},
      {S::Opened, S::Halted},       {S::Up, S::Halted},          {S::Created, S::Stopping},
      {S::Connecting, S::Stopping}, {S::Opened, S::Stopping},    {S::Up, S::Stopping},
      {S::Lost, S::Stopping},       {S::Halted, S::Stopping},    {S::Stopping, S::Stopped}};
  for (S from : all) {
    for (S to : all) {
      bool expected = false;
      for (auto [f, t] : allowed) expected = expected || (f == from && t == to);
      EXPECT_EQ(IsTunnelTransitionAllowed(from, to), expected)
          << TunnelStateName(from) << " -> " << TunnelStateName(to);
    }
  }
}

}  // namespace
}  // namespace vantrel
