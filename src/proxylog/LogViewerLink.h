// The viewer's side of the proxy library's log hand-off: marks a viewer present, takes one
// record at a time out of the shared block and frees the slot for the next. One viewer per user
// at a time; the presence mark goes when the viewer does.
#pragma once

#include <chrono>

#include "proxylog/LogShared.h"
#include "proxylog/Loglib.h"

namespace vantrel::proxylog {

struct TViewerRecord {
  int Module = 0;
  TLogLine Line;
};

class TProxyLogViewer {
 public:
  TProxyLogViewer() = default;
  ~TProxyLogViewer();
  TProxyLogViewer(const TProxyLogViewer&) = delete;
  TProxyLogViewer& operator=(const TProxyLogViewer&) = delete;

  // False when the shared objects cannot be created.
  bool Open();
  // Waits at most prmLimit for the next record.
  bool Receive(std::chrono::milliseconds prmLimit, TViewerRecord& prmRecord);
  // The shared block, where a viewer changes the modules' levels.
  uint8_t* Block() const { return m_Block.Data(); }

 private:
  uint32_t m_Class = kIntegrityMedium;
  TSharedBlock m_Block;
  TNamedSem m_Presence, m_ViewerReady, m_SlotFree, m_RecordReady;
};

}  // namespace vantrel::proxylog
