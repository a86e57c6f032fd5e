// The dispatch interface in portable form: a small Variant and a table of members (name, DISPID,
// kind, invoker) that a host calls by name or by DISPID. Every failure comes back as a failed
// result carrying its message; nothing a member raises escapes Invoke.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vantrel {

using HRESULT = int32_t;
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003u);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);
constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000Eu);

// Anything a page can hand over as an object. Interfaces are asked for with dynamic_cast, so an
// object offers an interface by deriving from it as well.
class IUnknownObject {
 public:
  virtual ~IUnknownObject() = default;
};

enum class TVarType { Empty, I4, BStr, Object };

class Variant {
 public:
  Variant() = default;
  Variant(int32_t prmValue) : m_Value(prmValue) {}  // NOLINT: implicit like the automation type
  Variant(std::string prmValue) : m_Value(std::move(prmValue)) {}                      // NOLINT
  Variant(const char* prmValue) : m_Value(std::string(prmValue)) {}                    // NOLINT
  Variant(std::shared_ptr<IUnknownObject> prmValue) : m_Value(std::move(prmValue)) {}  // NOLINT

  TVarType Type() const { return static_cast<TVarType>(m_Value.index()); }
  // Each raises EBaseException naming the expected and the actual type on a mismatch.
  int32_t AsI4() const;
  const std::string& AsBStr() const;
  // Empty and Object both convert: an empty variant is the null object.
  std::shared_ptr<IUnknownObject> AsObject() const;

  bool operator==(const Variant& prmOther) const { return m_Value == prmOther.m_Value; }

 private:
  std::variant<std::monostate, int32_t, std::string, std::shared_ptr<IUnknownObject>> m_Value;
};

const char* VarTypeName(TVarType prmType);

enum class TDispKind { Method, PropertyGet, PropertyPut, PropertyPutRef };

// What one call returned: Value is the property value or the method's return value, Outs the
// out parameters in declaration order. Error is set whenever Result is not S_OK.
struct TDispResult {
  HRESULT Result = S_OK;
  Variant Value;
  std::vector<Variant> Outs;
  std::string Error;
  bool Ok() const { return Result == S_OK; }
};

// An invoker gets the in-arguments, already checked against the declared types, and fills the
// result's Value and Outs. It may raise; Invoke turns that into a failed result.
using TDispInvoker = std::function<void(const std::vector<Variant>& prmArgs, TDispResult& prmRes)>;

struct TDispMember {
  std::string Name;
  int32_t DispID = 0;
  TDispKind Kind = TDispKind::Method;
  std::vector<TVarType> Params;  // in-parameters; Object also accepts Empty (the null object)
  size_t OutCount = 0;           // out parameters the invoker fills
  TDispInvoker Invoker;
};

class TDispatchTable {
 public:
  // Raises EBaseException when the name or the DISPID is already taken for the same kind, or the
  // invoker is missing: a table is built once, so that is a programming error.
  void Add(TDispMember prmMember);

  // Names compare without regard to case, as automation names do.
  const TDispMember* Find(std::string_view prmName, TDispKind prmKind) const;
  const TDispMember* Find(int32_t prmDispID, TDispKind prmKind) const;
  std::optional<int32_t> GetIDOfName(std::string_view prmName) const;

  TDispResult Invoke(int32_t prmDispID, TDispKind prmKind,
                     const std::vector<Variant>& prmArgs) const;
  TDispResult Invoke(std::string_view prmName, TDispKind prmKind,
                     const std::vector<Variant>& prmArgs) const;

  const std::vector<TDispMember>& Members() const { return m_Members; }

 private:
  TDispResult Call(const TDispMember* prmMember, const std::string& prmWhat, TDispKind prmKind,
                   const std::vector<Variant>& prmArgs) const;
  std::vector<TDispMember> m_Members;
};

// Shorthands for the common member shapes; the getter and setter functions run on the caller's
// thread (the control's window thread).
TDispMember DispGetI4(std::string prmName, int32_t prmDispID, std::function<int32_t()> prmGet);
TDispMember DispGetBStr(std::string prmName, int32_t prmDispID,
                        std::function<std::string()> prmGet);
TDispMember DispPutI4(std::string prmName, int32_t prmDispID, std::function<void(int32_t)> prmPut);
TDispMember DispPutBStr(std::string prmName, int32_t prmDispID,
                        std::function<void(const std::string&)> prmPut);
TDispMember DispMethod(std::string prmName, int32_t prmDispID, std::vector<TVarType> prmParams,
                       std::function<void(const std::vector<Variant>&)> prmBody);

const char* DispKindName(TDispKind prmKind);

}  // namespace vantrel
