#include "session/AppMngFactory.h"

#include "diag/Exceptions.h"
#include "tunnel/TCSProtocolMorv.h"

namespace vantrel {

std::unique_ptr<CAppMng> CreateAppMng(int prmPlatformType, const TAppMngParams& prmParams) {
  if (prmPlatformType == PLATFORM_TYPE_MORV)
    return std::make_unique<CAppMngMorv>(prmParams.SP, prmParams.SPPort, prmParams.SPCookie,
                                         prmParams.SessID, prmParams.ModID, prmParams.DevID);
  // The legacy-header manager plugs in here once it exists.
  throw EBaseException::CreateFmt("Platform type %d is not supported", prmPlatformType);
}

}  // namespace vantrel
