// Proxy authentication scheme objects of the legacy CONNECT procedure: the common base and the
// Basic scheme. A scheme object lives inside one CONNECT call, on that call's thread.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel {

enum TIdAuthWhatsNext { wnAskTheProgram = 0, wnDoRequest = 1, wnFail = 2 };

class TMIdAuthentication {
 public:
  virtual ~TMIdAuthentication() = default;

  // The next step of the handshake; may move CurrentStep on.
  TIdAuthWhatsNext Next() { return DecideNext(); }
  virtual int Steps() const = 0;
  virtual void SetPassword(const std::string& prmValue) { SetParam("Password", prmValue); }
  virtual void SetUsername(const std::string& prmValue) { SetParam("Username", prmValue); }
  // Clears user name and password and starts over at step 0.
  virtual void Reset();
  // The whole Proxy-Authorization value, scheme name included. May raise.
  virtual std::string Authentication() = 0;
  virtual bool KeepAlive() const = 0;

  std::string Username() const { return Param("Username"); }
  std::string Password() const { return Param("Password"); }
  // The Proxy-Authenticate values of the last reply (text after "Proxy-Authenticate: ").
  std::vector<std::string>& AuthParams() { return m_AuthParams; }
  int CurrentStep = 0;

 protected:
  virtual TIdAuthWhatsNext DecideNext() = 0;
  // Names compare without regard to case.
  std::string Param(std::string_view prmName) const;
  void SetParam(std::string_view prmName, const std::string& prmValue);
  // The AuthParams entry that begins with prmScheme, without its first word; empty when none.
  std::string OfferAfterScheme(std::string_view prmScheme) const;

 private:
  std::vector<std::pair<std::string, std::string>> m_Params;
  std::vector<std::string> m_AuthParams;
};

class TMIdBasicAuthentication : public TMIdAuthentication {
 public:
  int Steps() const override { return 1; }
  std::string Authentication() override;
  bool KeepAlive() const override { return false; }
  const std::string& Realm() const { return FRealm; }

 protected:
  TIdAuthWhatsNext DecideNext() override;

 private:
  std::string FRealm;
};

// "Basic " and the Base64 text of user ":" password, each character taken as its low 8 bits.
std::string BasicAuthValue(const std::string& prmUser, const std::string& prmPassword);
// The first protocol's Basic value: the pair converted to the 8-bit code page first.
std::string BasicAuthValue1(const std::string& prmUser, const std::string& prmPassword);

}  // namespace vantrel
