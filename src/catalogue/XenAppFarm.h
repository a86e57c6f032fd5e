// XenApp farms of the catalogue and their published applications. A farm is read from its
// "Farm" element; its applications come from the farm's XenApp service.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/AppTree.h"

namespace vantrel {

class TXmlNode;
class TXenApp;

// A farm's servers: at most this many, each a host name with its port at most this long.
constexpr size_t kMaxFarmServers = 4096;
constexpr size_t kMaxFarmServerName = 512;

class TXenAppFarm {
 public:
  // From a "Farm" element: number (-1 when the text is not an integer), "FarmName", "Folder"
  // and "Servers" (its last character, a trailing ",", dropped, the rest split at every ",").
  // Empty and overlong server names are skipped, names past kMaxFarmServers or past the room
  // left in prmListBytesLeft (shared by the farms of one reply; null: room of its own) are left
  // out.
  explicit TXenAppFarm(const TXmlNode& prmFarmNode, size_t* prmListBytesLeft = nullptr);
  TXenAppFarm(const TXenAppFarm&) = delete;
  TXenAppFarm& operator=(const TXenAppFarm&) = delete;

  int GetID() const { return m_ID; }
  const std::string& GetName() const { return m_Name; }
  const std::vector<std::string>& GetServers() const { return m_Servers; }
  const std::string& GetFolder() const { return m_Folder; }
  // The farm's applications by name; not owned (the catalogue's list owns them).
  std::vector<std::pair<std::string, TXenApp*>>& GetApps() { return m_Apps; }

  void SetCreds(const std::string& prmUsername, const std::string& prmPwd,
                const std::string& prmDomain);
  bool HasCreds() const { return !m_Username.empty(); }
  void GetCreds(std::string& prmUsername, std::string& prmPwd, std::string& prmDomain) const;

 private:
  int m_ID = -1;
  std::string m_Name;
  std::vector<std::string> m_Servers;
  std::string m_Folder;
  std::vector<std::pair<std::string, TXenApp*>> m_Apps;
  std::string m_Username, m_Pwd, m_Domain;
};

// One published XenApp application or desktop, filled from the farm's XenApp service.
class TXenApp final : public TApp {
 public:
  // "c", the farm number in decimal and the application's name within the farm.
  std::string GetID() const override;

  void SetFarm(TXenAppFarm* prmFarm) { m_Farm = prmFarm; }
  TXenAppFarm* GetFarm() const { return m_Farm; }
  void SetSeqNo(const std::string& prmSeqNo) { m_SeqNo = prmSeqNo; }
  const std::string& GetSeqNo() const { return m_SeqNo; }
  void SetName(const std::string& prmName) { m_Name = prmName; }
  void SetDescription(const std::string& prmDescription) { m_Description = prmDescription; }
  void SetLocation(const std::string& prmLocation) { m_Location = prmLocation; }
  // The window size the service asks for, in the inherited fields.
  void SetSize(int prmHeight, int prmWidth) {
    m_Height = prmHeight;
    m_Width = prmWidth;
  }

  int m_WinType = 3;
  int m_ColorDepth = 16;
  bool m_Sound = false;
  std::string m_Server;
  bool m_IsDesktop = false;
  std::string m_Enc;
  int m_WinPercent = 0;
  std::string m_Icon;  // PNG bytes; empty: none

 private:
  std::string m_SeqNo;
  TXenAppFarm* m_Farm = nullptr;
};

}  // namespace vantrel
