// The forwarded connections by identifier, with the round-robin identifier search. Not locked:
// the manager guards it with its connection lock.
#pragma once

#include <array>
#include <memory>
#include <vector>

#include "tunnel/TunnelWire.h"

namespace vantrel {

class CConn;

class TConnTable {
 public:
  // Registers prmConn under the next free identifier (1..kMaxConns-1, round-robin from the
  // search position, skipping those in use); -1 when all are in use.
  int Add(std::shared_ptr<CConn> prmConn);
  // The connection with identifier prmID, or none (also for identifiers out of range).
  std::shared_ptr<CConn> Get(int prmID) const;
  // Unregisters prmID if it still holds prmConn; returns what was removed.
  std::shared_ptr<CConn> Remove(int prmID, const CConn* prmConn);
  std::vector<std::shared_ptr<CConn>> TakeAll();
  int Count() const;
  int CurConn() const { return m_CurConn; }

 private:
  int GetFreeConnID();

  std::array<std::shared_ptr<CConn>, kMaxConns + 1> m_Conns;
  int m_CurConn = 1;
};

}  // namespace vantrel
