// The one place that turns a gateway's platform type into a tunnel manager. Callers see only
// the CAppMng contract; protocol settings travel in TTunnelOptions.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Dialogs.h"
#include "tunnel/TCSProtocolBase.h"
#include "tunnel/TunnelOptions.h"

namespace vantrel {

constexpr int PLATFORM_TYPE_PELX = 1;  // legacy-header gateway
constexpr int PLATFORM_TYPE_MORV = 2;  // first-protocol gateway

// What a tunnel manager is built from. DevID is used by the first protocol only; Options, when
// given, is shared with the caller, who may change it while the tunnel runs.
struct TAppMngParams {
  std::string SP;
  int SPPort = 0;
  std::string SPCookie;
  std::string SessID;
  std::string ModID;
  std::string DevID;
  std::shared_ptr<TTunnelOptions> Options;
  // Asks for proxy credentials; borrowed, must outlive the manager. Null: nobody is asked.
  IDialogs* Dialogs = nullptr;
};

// Builds the manager of prmPlatformType (2: first protocol; anything else: legacy header).
// Raises EBaseException when the manager cannot be built.
using TAppMngFactory =
    std::function<std::unique_ptr<CAppMng>(int prmPlatformType, const TAppMngParams& prmParams)>;

std::unique_ptr<CAppMng> CreateAppMng(int prmPlatformType, const TAppMngParams& prmParams);

}  // namespace vantrel
