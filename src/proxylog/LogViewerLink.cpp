#include "proxylog/LogViewerLink.h"

#include <semaphore.h>

#include "proxylog/UtilityLib.h"

namespace vantrel::proxylog {

TProxyLogViewer::~TProxyLogViewer() {
  if (!m_Presence.IsOpen()) return;
  for (TLogObject o : {TLogObject::Presence, TLogObject::ViewerReady, TLogObject::SlotFree,
                       TLogObject::RecordReady})
    sem_unlink(LogObjectName(o, m_Class).c_str());
}

bool TProxyLogViewer::Open() {
  m_Class = CurrentIntegrityClass();
  // Objects a previous viewer left behind carry its counts; start from fresh ones.
  for (TLogObject o : {TLogObject::ViewerReady, TLogObject::SlotFree, TLogObject::RecordReady})
    sem_unlink(LogObjectName(o, m_Class).c_str());
  return m_Block.Open(LogObjectName(TLogObject::Block, m_Class), true) &&
         m_ViewerReady.Open(LogObjectName(TLogObject::ViewerReady, m_Class), true, 1) &&
         m_SlotFree.Open(LogObjectName(TLogObject::SlotFree, m_Class), true, 1) &&
         m_RecordReady.Open(LogObjectName(TLogObject::RecordReady, m_Class), true, 0) &&
         m_Presence.Open(LogObjectName(TLogObject::Presence, m_Class), true, 0);
}

bool TProxyLogViewer::Receive(std::chrono::milliseconds prmLimit, TViewerRecord& prmRecord) {
  // Writers leave the mark set; set it again should one have died between looking and leaving.
  if (m_ViewerReady.Value() == 0) m_ViewerReady.Post();
  if (!m_RecordReady.Wait(prmLimit)) return false;
  const uint8_t* b = m_Block.Data();
  TLogLine& l = prmRecord.Line;
  l.File = Utf16ToUtf8(GetText(b + block::kSourceFile, block::kTextChars));
  l.Process = Utf16ToUtf8(GetText(b + block::kProcessName, block::kTextChars));
  l.Line = GetU32(b + block::kLine);
  l.ProcessId = GetU32(b + block::kProcessId);
  l.ThreadId = GetU32(b + block::kThreadId);
  prmRecord.Module = static_cast<int>(GetU32(b + block::kModule) % kModuleCount);
  l.Module = ModuleName(b, prmRecord.Module);
  l.Level = static_cast<int>(GetU32(b + block::kLevel) & 3);
  auto field = [b](int i) { return b[block::kTime + 2 * i] | b[block::kTime + 2 * i + 1] << 8; };
  l.Local = tm{};
  l.Local.tm_year = field(0) - 1900;
  l.Local.tm_mon = field(1) - 1;
  l.Local.tm_wday = field(2);
  l.Local.tm_mday = field(3);
  l.Local.tm_hour = field(4);
  l.Local.tm_min = field(5);
  l.Local.tm_sec = field(6);
  l.Millis = static_cast<unsigned>(field(7));
  l.Message = GetText(b + block::kMessage, block::kMessageChars);
  m_SlotFree.Post();
  return true;
}

}  // namespace vantrel::proxylog
