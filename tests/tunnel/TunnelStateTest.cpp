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

TEST(TunnelState, SetUpStagesOnlyMoveForward) {
  const S setup[] = {S::Proxying, S::Connecting, S::Securing, S::Requesting, S::Opened};
  // A set-up starts with the proxies or the direct connection; each stage may skip those with
  // nothing to do, never go back, and falls back to Created when it fails.
  const std::pair<S, S> allowed[] = {
      {S::Created, S::Proxying},    {S::Created, S::Connecting},    {S::Proxying, S::Connecting},
      {S::Proxying, S::Securing},   {S::Proxying, S::Requesting},   {S::Proxying, S::Opened},
      {S::Connecting, S::Securing}, {S::Connecting, S::Requesting}, {S::Connecting, S::Opened},
      {S::Securing, S::Requesting}, {S::Securing, S::Opened},       {S::Requesting, S::Opened}};
  for (S from : {S::Created, S::Proxying, S::Connecting, S::Securing, S::Requesting, S::Opened,
                 S::Up, S::Lost}) {
    for (S to : setup) {
      bool expected = false;
      for (auto [f, t] : allowed) expected = expected || (f == from && t == to);
      EXPECT_EQ(IsTunnelTransitionAllowed(from, to), expected)
          << TunnelStateName(from) << " -> " << TunnelStateName(to);
    }
  }
  for (S stage : {S::Proxying, S::Securing, S::Requesting}) {
    EXPECT_TRUE(IsTunnelTransitionAllowed(stage, S::Created)) << TunnelStateName(stage);
    EXPECT_TRUE(IsTunnelTransitionAllowed(stage, S::Stopping)) << TunnelStateName(stage);
    EXPECT_FALSE(IsTunnelTransitionAllowed(stage, S::Up)) << TunnelStateName(stage);
  }
}

}  // namespace
}  // namespace vantrel
