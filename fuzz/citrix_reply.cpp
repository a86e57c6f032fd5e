// A XenApp service reply on arbitrary bytes: the service's own chunked coding read in pieces of
// the first byte's size, then the body (or, when the reading stopped, the bytes as sent) read as
// an application list, an icon reply, a refusal and an address. The chunked body never outgrows
// its input; every application the farm lists is one the catalogue kept.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "catalogue/AppCatalogue.h"
#include "catalogue/XenAppFarm.h"
#include "citrix/AppData.h"
#include "citrix/ChunkedBody.h"
#include "citrix/XmlReplies.h"
#include "diag/Xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = data[0] % 64 + 1;
  std::string_view in(reinterpret_cast<const char*>(data + 1), size - 1);
  vantrel::TChunkedReader reader(1u << 20);
  for (size_t at = 0; at < in.size(); at += piece) reader.Feed(in.substr(at, piece));
  if (reader.Body().size() > in.size()) __builtin_trap();

  const std::string body = reader.Finished() ? reader.Body() : std::string(in);
  vantrel::TXmlDoc reply = vantrel::TXmlDoc::ParseBytes(body.data(), body.size());
  if (vantrel::GetErrorCode(reply) > 16) __builtin_trap();
  vantrel::ParseAddressReply(reply);
  vantrel::TXmlDoc farmDoc = vantrel::TXmlDoc::Parse("<Farm Folder=\"F\">3</Farm>");
  vantrel::TXenAppFarm farm(farmDoc.Root());
  vantrel::TAppCatalogue catalogue;
  vantrel::ParseAppData(reply, farm, "xa", catalogue, farm.GetFolder(), true);
  if (farm.GetApps().size() != catalogue.AppCount()) __builtin_trap();
  for (const auto& [seqNo, app] : farm.GetApps())
    if (catalogue.FindApp(app->GetID()) != app || seqNo != app->GetSeqNo()) __builtin_trap();
  vantrel::ParseAppIcons(reply, farm);
  return 0;
}
