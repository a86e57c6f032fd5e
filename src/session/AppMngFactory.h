// The one place that turns a gateway's platform type into a tunnel manager.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "tunnel/TCSProtocolBase.h"

namespace vantrel {

constexpr int PLATFORM_TYPE_PELX = 1;  // legacy-header gateway
constexpr int PLATFORM_TYPE_MORV = 2;  // first-protocol gateway

// What a tunnel manager is built from. DevID is used by the first protocol only.
struct TAppMngParams {
  std::string SP;
  int SPPort = 0;
  std::string SPCookie;
  std::string SessID;
  std::string ModID;
  std::string DevID;
};

// Builds the manager of prmPlatformType (2: first protocol; anything else: legacy header).
// Raises EBaseException when the manager cannot be built.
using TAppMngFactory =
    std::function<std::unique_ptr<CAppMng>(int prmPlatformType, const TAppMngParams& prmParams)>;

std::unique_ptr<CAppMng> CreateAppMng(int prmPlatformType, const TAppMngParams& prmParams);

}  // namespace vantrel
