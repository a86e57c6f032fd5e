// A farm's application list and icons as the XenApp service returns them, read into the
// catalogue. Every "AppData" element is read on its own: one that lacks a required element, or
// whose icon does not decode, costs that application (or its icon) and nothing else.
#pragma once

#include <string>

#include "diag/TextCodecs.h"

namespace vantrel {

class TAppCatalogue;
class TXenAppFarm;
class TXmlDoc;

// The PNG of a 16-colour "Icon" element's letters; empty when they do not make an icon.
std::string Icon16ToPng(const std::string& prmLetters);

// One TXenApp of prmFarm per complete "AppData" of prmReply, in document order: filed under
// prmFarmFolder + "\" + its "Folder" in prmCatalogue's tree, then listed in the catalogue under
// its identity and in the farm under its "SeqNo" (an identity the catalogue already lists drops
// the new application). prmServer becomes each application's server. The "Icon" elements are
// decoded only with prmDecodeIcons.
void ParseAppData(const TXmlDoc& prmReply, TXenAppFarm& prmFarm, const std::string& prmServer,
                  TAppCatalogue& prmCatalogue, const std::string& prmFarmFolder,
                  bool prmDecodeIcons);

// Each "AppData" whose first "SeqNo" names one of the farm's applications (without regard to
// case) gives it its icon: the first "IconData" with "bpp" and "size" 32, else the 16-colour
// "Icon". An icon that does not decode leaves the application's icon as it was.
void ParseAppIcons(const TXmlDoc& prmReply, TXenAppFarm& prmFarm);

}  // namespace vantrel
