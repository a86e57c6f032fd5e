#include "tunnel/ConnTable.h"

namespace vantrel {

namespace {
int NextID(int prmID) {
  int next = (prmID + 1) % kMaxConns;
  return next == 0 ? 1 : next;
}
}  // namespace

int TConnTable::GetFreeConnID() {
  int i = m_CurConn;
  do {
    if (!m_Conns[i]) {
      m_CurConn = NextID(i);
      return i;
    }
    i = NextID(i);
  } while (i != m_CurConn);
  return -1;
}

int TConnTable::Add(std::shared_ptr<CConn> prmConn) {
  int id = GetFreeConnID();
  if (id > 0) m_Conns[id] = std::move(prmConn);
  return id;
}

std::shared_ptr<CConn> TConnTable::Get(int prmID) const {
  if (prmID < 1 || prmID >= kMaxConns) return nullptr;
  return m_Conns[prmID];
}

std::shared_ptr<CConn> TConnTable::Remove(int prmID, const CConn* prmConn) {
  if (prmID < 1 || prmID >= kMaxConns || m_Conns[prmID].get() != prmConn) return nullptr;
  return std::move(m_Conns[prmID]);
}

std::vector<std::shared_ptr<CConn>> TConnTable::TakeAll() {
  std::vector<std::shared_ptr<CConn>> all;
  for (auto& c : m_Conns)
    if (c) all.push_back(std::move(c));
  return all;
}

int TConnTable::Count() const {
  int n = 0;
  for (const auto& c : m_Conns) n += c ? 1 : 0;
  return n;
}

}  // namespace vantrel
