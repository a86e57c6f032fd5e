#include "tunnel/AppMngFactory.h"

#include "tunnel/TCSProtocolMorv.h"
#include "tunnel/TCSProtocolPelx.h"

namespace vantrel {

std::unique_ptr<CAppMng> CreateAppMng(int prmPlatformType, const TAppMngParams& prmParams) {
  if (prmPlatformType == PLATFORM_TYPE_MORV) {
    auto mng = std::make_unique<CAppMngMorv>(prmParams.SP, prmParams.SPPort, prmParams.SPCookie,
                                             prmParams.SessID, prmParams.ModID, prmParams.DevID,
                                             prmParams.Options);
    mng->Link().SetDialogs(prmParams.Dialogs);
    return mng;
  }
  // Every other platform type speaks the legacy-header protocol, which has none of the options.
  auto mng = std::make_unique<CAppMngPelx>(prmParams.SP, prmParams.SPPort, prmParams.SPCookie,
                                           prmParams.SessID, prmParams.ModID);
  mng->Link().SetDialogs(prmParams.Dialogs);
  return mng;
}

}  // namespace vantrel
