#include "host/vantreltcs/PageProtocol.h"

#include <algorithm>
#include <limits>

#include "diag/Exceptions.h"

namespace vantrel::host {

namespace {

// Dumped with replacement so that a text that is not UTF-8 still yields one valid line.
std::string Line(const TJson& prmValue) {
  return prmValue.dump(-1, ' ', false, TJson::error_handler_t::replace);
}

// A member named by text or by DISPID in prmKey.
void ReadTarget(const TJson& prmValue, const char* prmKey, TPageCall& prmCall) {
  if (prmValue.is_string()) {
    prmCall.Name = prmValue.get<std::string>();
    if (prmCall.Name.empty()) throw EBaseException(std::string("\"") + prmKey + "\" is empty");
  } else if (prmValue.is_number_integer()) {
    prmCall.DispID = static_cast<int32_t>(VariantFromJson(prmValue).AsI4());
  } else {
    throw EBaseException(std::string("\"") + prmKey + "\" must be a name or a DISPID");
  }
}

TPageCall ParseCall(const TJson& prmObj) {
  TPageCall call;
  call.Id = prmObj.value("id", TJson());
  if (prmObj.contains("get")) {
    call.Kind = TDispKind::PropertyGet;
    ReadTarget(prmObj["get"], "get", call);
  } else if (prmObj.contains("put")) {
    call.Kind = TDispKind::PropertyPut;
    ReadTarget(prmObj["put"], "put", call);
    if (!prmObj.contains("value")) throw EBaseException("\"put\" needs a \"value\"");
    call.Args.push_back(VariantFromJson(prmObj["value"]));
  } else if (prmObj.contains("method")) {
    ReadTarget(prmObj["method"], "method", call);
  } else if (prmObj.contains("dispid")) {
    ReadTarget(prmObj["dispid"], "dispid", call);
  } else {
    throw EBaseException("request names no member (\"method\", \"dispid\", \"get\" or \"put\")");
  }
  if (call.Kind == TDispKind::Method && prmObj.contains("args")) {
    const TJson& args = prmObj["args"];
    if (!args.is_array()) throw EBaseException("\"args\" must be an array");
    for (size_t i = 0; i < args.size(); ++i) {
      try {
        call.Args.push_back(VariantFromJson(args[i]));
      } catch (const EBaseException& e) {
        throw EBaseException("argument " + std::to_string(i + 1) + ": " + e.GetMsg());
      }
    }
  }
  return call;
}

TDialogReply ParseDialogReply(const TJson& prmObj) {
  TDialogReply r;
  const TJson& id = prmObj["dialog_reply"];
  if (!id.is_number_integer()) throw EBaseException("\"dialog_reply\" must be a dialog id");
  r.DialogID = id.get<int64_t>();
  const TJson result = prmObj.value("result", TJson());
  if (!result.is_string()) throw EBaseException("\"result\" must be a text");
  r.Result = result.get<std::string>();
  if (prmObj.contains("fields")) {
    const TJson& fields = prmObj["fields"];
    if (!fields.is_object()) throw EBaseException("\"fields\" must be an object");
    for (const auto& [name, v] : fields.items()) {
      if (v.is_string())
        r.Fields[name] = v.get<std::string>();
      else if (v.is_number_integer())
        r.Fields[name] = std::to_string(v.get<int64_t>());
      else
        throw EBaseException("field \"" + name + "\" must be a text or an integer");
    }
  }
  return r;
}

}  // namespace

Variant VariantFromJson(const TJson& prmValue) {
  if (prmValue.is_null()) return Variant();
  if (prmValue.is_boolean()) return Variant(int32_t{prmValue.get<bool>() ? 1 : 0});
  if (prmValue.is_string()) return Variant(prmValue.get<std::string>());
  if (prmValue.is_number_unsigned()) {
    uint64_t v = prmValue.get<uint64_t>();
    if (v > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
      throw EBaseException("integer out of the 32-bit range");
    return Variant(static_cast<int32_t>(v));
  }
  if (prmValue.is_number_integer()) {
    int64_t v = prmValue.get<int64_t>();
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
      throw EBaseException("integer out of the 32-bit range");
    return Variant(static_cast<int32_t>(v));
  }
  if (prmValue.is_number_float()) throw EBaseException("fractions are not supported");
  throw EBaseException(std::string("unsupported value type ") + prmValue.type_name());
}

TJson JsonFromVariant(const Variant& prmValue) {
  switch (prmValue.Type()) {
    case TVarType::I4:
      return prmValue.AsI4();
    case TVarType::BStr:
      return prmValue.AsBStr();
    case TVarType::Empty:
    case TVarType::Object:
      break;
  }
  return nullptr;
}

int JsonNestingDepth(const std::string& prmLine) {
  int depth = 0, deepest = 0;
  bool inString = false, escaped = false;
  for (char c : prmLine) {
    if (inString) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

TPageRequest ParsePageLine(const std::string& prmLine) {
  if (JsonNestingDepth(prmLine) > kMaxPageNesting)
    return TPageError{nullptr, "malformed request: nested deeper than " +
                                   std::to_string(kMaxPageNesting) + " levels"};
  TJson obj = TJson::parse(prmLine, nullptr, false);
  if (obj.is_discarded()) return TPageError{nullptr, "malformed request: not JSON"};
  if (!obj.is_object()) return TPageError{nullptr, "malformed request: not a JSON object"};
  TJson id = obj.value("id", TJson());
  try {
    if (obj.contains("dialog_reply")) return ParseDialogReply(obj);
    if (!id.is_number_integer() && !id.is_string())
      throw EBaseException("\"id\" must be an integer or a text");
    return ParseCall(obj);
  } catch (const EBaseException& e) {
    return TPageError{id, "malformed request: " + e.GetMsg()};
  } catch (const TJson::exception& e) {
    return TPageError{id, std::string("malformed request: ") + e.what()};
  }
}

std::string EncodeReply(const TJson& prmId, const TDispResult& prmResult) {
  if (!prmResult.Ok()) return EncodeError(prmId, prmResult.Error);
  TJson out = TJson::array();
  for (const Variant& v : prmResult.Outs) out.push_back(JsonFromVariant(v));
  return Line({{"id", prmId}, {"result", JsonFromVariant(prmResult.Value)}, {"out", out}});
}

std::string EncodeError(const TJson& prmId, const std::string& prmError) {
  return Line({{"id", prmId}, {"error", prmError}});
}

std::string EncodeEvent(const std::string& prmName, const std::vector<Variant>& prmArgs) {
  TJson args = TJson::array();
  for (const Variant& v : prmArgs) args.push_back(JsonFromVariant(v));
  return Line({{"event", prmName}, {"args", args}});
}

}  // namespace vantrel::host
