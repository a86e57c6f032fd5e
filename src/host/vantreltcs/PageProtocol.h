// The page channel's wire format, one JSON object per line. Pure: text in, values out.
//   page -> host  {"id":N,"method":"Name"|"dispid":D,"args":[...]}   call a method
//                 {"id":N,"get":"Name"|D}                            read a property
//                 {"id":N,"put":"Name"|D,"value":V}                  write a property
//                 {"dialog_reply":K,"result":"yes"|"no"|"ok"|"cancel",...,"fields":{...}}
//   host -> page  {"id":N,"result":V,"out":[...]}  or  {"id":N,"error":"text"}
//                 {"event":"Name","args":[...]}
//                 {"dialog":"confirm"|"message"|"login"|"proxycred"|"selectcert"|"secret",
//                  "id":K,...}
// Integers travel as I4, strings as BSTR, true/false as 1/0, null as the empty value.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <variant>
#include <vector>

#include "control/Dispatch.h"

namespace vantrel::host {
// Key order kept as written, so lines read as documented ("id" first).
using TJson = nlohmann::ordered_json;
}  // namespace vantrel::host

namespace vantrel::host {

// A member call: by name when Name is not empty, else by DispID.
struct TPageCall {
  TJson Id;
  std::string Name;
  int32_t DispID = 0;
  TDispKind Kind = TDispKind::Method;
  std::vector<Variant> Args;
};

struct TDialogReply {
  int64_t DialogID = 0;
  std::string Result;
  std::map<std::string, std::string> Fields;  // numbers arrive as their decimal text
};

// A line that could not be used. Id is the request's id when it could be read (null otherwise),
// so the page can match the error to its request.
struct TPageError {
  TJson Id;
  std::string Error;
};

using TPageRequest = std::variant<TPageCall, TDialogReply, TPageError>;

// Arrays and objects nest at most this deep in a page line; no request needs more than three
// levels, and a deeper line is refused before it is parsed, so nothing recurses on its depth.
constexpr int kMaxPageNesting = 32;

// The deepest nesting of arrays and objects in prmLine, brackets inside strings not counted.
// Linear and non-recursive; for text that is not JSON the count is only an upper guide.
int JsonNestingDepth(const std::string& prmLine);

// Never raises: every malformed line becomes a TPageError.
TPageRequest ParsePageLine(const std::string& prmLine);

// Raises EBaseException for JSON that has no Variant form (fractions, arrays, objects, integers
// outside 32 bits).
Variant VariantFromJson(const TJson& prmValue);
// Objects cannot cross the channel; they are sent as null.
TJson JsonFromVariant(const Variant& prmValue);

std::string EncodeReply(const TJson& prmId, const TDispResult& prmResult);
std::string EncodeError(const TJson& prmId, const std::string& prmError);
std::string EncodeEvent(const std::string& prmName, const std::vector<Variant>& prmArgs);

}  // namespace vantrel::host
