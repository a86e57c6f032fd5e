// The UI adapter: worker threads report status, errors, alerts and desktop states through it; it
// packs each report into a message posted to the control's window. Codes and message numbers are
// in catalogue/TCSCodes.h so the layers below can use them without including the control.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "catalogue/TCSCodes.h"
#include "platform/Window.h"

namespace vantrel {

class TDBMng;

// Payload of WM_TCSStateNotify.
struct TTCSStatusInfo {
  int32_t ID = 0;
  int32_t LParam = 0;
  std::optional<std::string> SParam;       // none when the status text was empty
  uint64_t BytesDone = 0, BytesTotal = 0;  // a download's, when known
};

// Payload of WM_ReportError.
struct TTCSErrorInfo {
  int32_t ErrorID = 0;
  std::optional<std::string> Extra;  // none when the extra text was empty
};

// The text the user is shown for an error code and its extra text.
std::string ErrorText(int prmErrorID, const std::string& prmExtra);

// The time left in a timeout alert: "1 day(s) 1:1:1", "1:1:1", "1:1", "59 seconds" or empty.
std::string DurationText(int prmSeconds);

// Records travel by pointer in the lParam. The adapter keeps every record it posted until the
// receiver takes it with TakeStatusInfo/TakeErrorInfo, so a record whose post failed, or that a
// window being destroyed dropped, is freed by the adapter's destructor instead of leaking, and a
// stale or forged lParam yields nothing instead of a wild pointer.
class TTCSUserInterface final : public ITCSUserInterface {
 public:
  // Neither is owned; both must outlive the adapter. prmDBMng may be null (no store to change).
  TTCSUserInterface(HWND prmHwnd, TDBMng* prmDBMng);
  ~TTCSUserInterface() override;
  TTCSUserInterface(const TTCSUserInterface&) = delete;
  TTCSUserInterface& operator=(const TTCSUserInterface&) = delete;

  void UpdateTCSStatus(int prmID, int prmLParam, const std::string& prmSParam) override;
  void UpdateDownloadStatus(int prmID, int prmPercent, const std::string& prmText, uint64_t prmDone,
                            uint64_t prmTotal) override;
  void ReportError(int prmErrorID, const std::string& prmExtra) override;
  void IdleTimeoutAlert(int prmSecondsLeft) override;
  void LifetimeTimeoutalert(int prmSecondsLeft) override;
  void IdleTimeoutAlertKM(int prmSecondsLeft) override;
  void ClearTimeoutAlerts() override;
  void UpdateHostStatus(int prmID, int prmLParam) override;
  void DisableCustomDest() override;

  // Window thread: takes ownership of the record a WM_TCSStateNotify / WM_ReportError carries.
  // Null when the lParam is not a record of this adapter or was already taken.
  std::unique_ptr<TTCSStatusInfo> TakeStatusInfo(intptr_t prmLParam);
  std::unique_ptr<TTCSErrorInfo> TakeErrorInfo(intptr_t prmLParam);

  // Records posted and not yet taken.
  size_t PendingRecords() const;

 private:
  template <typename T>
  using TRecords = std::unordered_map<intptr_t, std::unique_ptr<T>>;

  template <typename T>
  void PostRecord(TRecords<T>& prmRecords, uint32_t prmMsg, uintptr_t prmWParam,
                  std::unique_ptr<T> prmRecord);
  template <typename T>
  std::unique_ptr<T> TakeRecord(TRecords<T>& prmRecords, intptr_t prmLParam);
  void PostAlert(int prmKind, int prmSeconds);

  HWND m_HWnd;
  TDBMng* m_DBMng;
  mutable std::mutex m_Lock;
  TRecords<TTCSStatusInfo> m_StatusRecords;
  TRecords<TTCSErrorInfo> m_ErrorRecords;
};

}  // namespace vantrel
