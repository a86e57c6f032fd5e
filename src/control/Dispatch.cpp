#include "control/Dispatch.h"

#include <array>
#include <exception>

#include "diag/Exceptions.h"
#include "diag/TextCodecs.h"

namespace vantrel {

namespace {

// The text of an enumerator, by its value; "?" for a value outside the enumeration.
template <typename TEnum, size_t N>
const char* EnumText(TEnum prmValue, const std::array<const char*, N>& prmNames) {
  const auto index = static_cast<size_t>(prmValue);
  return index < N ? prmNames[index] : "?";
}

[[noreturn]] void Mismatch(TVarType prmWanted, TVarType prmGot) {
  throw EBaseException::CreateFmt("Type mismatch: %s expected, %s given", VarTypeName(prmWanted),
                                  VarTypeName(prmGot));
}

bool Accepts(TVarType prmParam, TVarType prmArg) {
  return prmParam == prmArg || (prmParam == TVarType::Object && prmArg == TVarType::Empty);
}

TDispResult Failed(HRESULT prmCode, std::string prmError) {
  TDispResult res;
  res.Result = prmCode;
  res.Error = std::move(prmError);
  return res;
}

}  // namespace

const char* VarTypeName(TVarType prmType) {
  static constexpr std::array<const char*, 4> kNames = {"empty", "I4", "BSTR", "object"};
  return EnumText(prmType, kNames);
}

const char* DispKindName(TDispKind prmKind) {
  static constexpr std::array<const char*, 4> kNames = {"method", "property get", "property put",
                                                        "property put by reference"};
  return EnumText(prmKind, kNames);
}

int32_t Variant::AsI4() const {
  if (Type() != TVarType::I4) Mismatch(TVarType::I4, Type());
  return std::get<int32_t>(m_Value);
}

const std::string& Variant::AsBStr() const {
  if (Type() != TVarType::BStr) Mismatch(TVarType::BStr, Type());
  return std::get<std::string>(m_Value);
}

std::shared_ptr<IUnknownObject> Variant::AsObject() const {
  if (Type() == TVarType::Empty) return nullptr;
  if (Type() != TVarType::Object) Mismatch(TVarType::Object, Type());
  return std::get<std::shared_ptr<IUnknownObject>>(m_Value);
}

void TDispatchTable::Add(TDispMember prmMember) {
  if (!prmMember.Invoker)
    throw EBaseException("Dispatch member without invoker: " + prmMember.Name);
  if (Find(prmMember.Name, prmMember.Kind) != nullptr ||
      Find(prmMember.DispID, prmMember.Kind) != nullptr)
    throw EBaseException::CreateFmt("Dispatch member %s (%d) declared twice", prmMember.Name,
                                    prmMember.DispID);
  m_Members.push_back(std::move(prmMember));
}

const TDispMember* TDispatchTable::Find(std::string_view prmName, TDispKind prmKind) const {
  for (const auto& m : m_Members)
    if (m.Kind == prmKind && SameText(m.Name, prmName)) return &m;
  return nullptr;
}

const TDispMember* TDispatchTable::Find(int32_t prmDispID, TDispKind prmKind) const {
  for (const auto& m : m_Members)
    if (m.Kind == prmKind && m.DispID == prmDispID) return &m;
  return nullptr;
}

std::optional<int32_t> TDispatchTable::GetIDOfName(std::string_view prmName) const {
  for (const auto& m : m_Members)
    if (SameText(m.Name, prmName)) return m.DispID;
  return std::nullopt;
}

TDispResult TDispatchTable::Invoke(int32_t prmDispID, TDispKind prmKind,
                                   const std::vector<Variant>& prmArgs) const {
  return Call(Find(prmDispID, prmKind), "DISPID " + std::to_string(prmDispID), prmKind, prmArgs);
}

TDispResult TDispatchTable::Invoke(std::string_view prmName, TDispKind prmKind,
                                   const std::vector<Variant>& prmArgs) const {
  const TDispMember* member = Find(prmName, prmKind);
  if (member == nullptr && !GetIDOfName(prmName))
    return Failed(DISP_E_UNKNOWNNAME, "Unknown member " + std::string(prmName));
  return Call(member, std::string(prmName), prmKind, prmArgs);
}

TDispResult TDispatchTable::Call(const TDispMember* prmMember, const std::string& prmWhat,
                                 TDispKind prmKind, const std::vector<Variant>& prmArgs) const {
  if (prmMember == nullptr)
    return Failed(DISP_E_MEMBERNOTFOUND, "Member " + prmWhat + " has no " + DispKindName(prmKind));
  if (prmArgs.size() != prmMember->Params.size())
    return Failed(DISP_E_BADPARAMCOUNT,
                  FormatMsg("%s takes %d argument(s), %d given",
                            {prmMember->Name, prmMember->Params.size(), prmArgs.size()}));
  for (size_t i = 0; i < prmArgs.size(); ++i)
    if (!Accepts(prmMember->Params[i], prmArgs[i].Type()))
      return Failed(DISP_E_TYPEMISMATCH,
                    FormatMsg("%s argument %d: %s expected, %s given",
                              {prmMember->Name, i + 1, VarTypeName(prmMember->Params[i]),
                               VarTypeName(prmArgs[i].Type())}));
  TDispResult res;
  res.Outs.resize(prmMember->OutCount);
  try {
    prmMember->Invoker(prmArgs, res);
    return res;
  } catch (const EBaseException& e) {
    return Failed(E_FAIL, e.GetMsg());
  } catch (const std::exception& e) {
    return Failed(E_FAIL, e.what());
  } catch (...) {
    return Failed(E_FAIL, prmMember->Name + " failed");
  }
}

TDispMember DispGetI4(std::string prmName, int32_t prmDispID, std::function<int32_t()> prmGet) {
  return {
      std::move(prmName),
      prmDispID,
      TDispKind::PropertyGet,
      {},
      0,
      [get = std::move(prmGet)](const std::vector<Variant>&, TDispResult& r) { r.Value = get(); }};
}

TDispMember DispGetBStr(std::string prmName, int32_t prmDispID,
                        std::function<std::string()> prmGet) {
  return {
      std::move(prmName),
      prmDispID,
      TDispKind::PropertyGet,
      {},
      0,
      [get = std::move(prmGet)](const std::vector<Variant>&, TDispResult& r) { r.Value = get(); }};
}

TDispMember DispPutI4(std::string prmName, int32_t prmDispID, std::function<void(int32_t)> prmPut) {
  return {
      std::move(prmName),
      prmDispID,
      TDispKind::PropertyPut,
      {TVarType::I4},
      0,
      [put = std::move(prmPut)](const std::vector<Variant>& a, TDispResult&) { put(a[0].AsI4()); }};
}

TDispMember DispPutBStr(std::string prmName, int32_t prmDispID,
                        std::function<void(const std::string&)> prmPut) {
  return {std::move(prmName),
          prmDispID,
          TDispKind::PropertyPut,
          {TVarType::BStr},
          0,
          [put = std::move(prmPut)](const std::vector<Variant>& a, TDispResult&) {
            put(a[0].AsBStr());
          }};
}

TDispMember DispMethod(std::string prmName, int32_t prmDispID, std::vector<TVarType> prmParams,
                       std::function<void(const std::vector<Variant>&)> prmBody) {
  return {std::move(prmName),
          prmDispID,
          TDispKind::Method,
          std::move(prmParams),
          0,
          [body = std::move(prmBody)](const std::vector<Variant>& a, TDispResult&) { body(a); }};
}

}  // namespace vantrel
