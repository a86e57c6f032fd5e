#include "tls/DlgSelectCert.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "diag/DebugLog.h"

namespace vantrel {

namespace {

const char* const kSelectWarning = "You must select a certificate or select cancel";
const char* const kCaption = "Select a Certificate...";

}  // namespace

TDlgSelectCert::TDlgSelectCert(std::vector<TStoredCert> prmStore) : m_Store(std::move(prmStore)) {
  for (const TStoredCert& c : m_Store)
    m_Rows.push_back({CertDisplayName(X509_get_subject_name(c.Cert.get())),
                      CertDisplayName(X509_get_issuer_name(c.Cert.get()))});
  if (m_Store.size() == 1) m_Selected = 0;
}

int TDlgSelectCert::ShowModal(IDialogs& prmDialogs) {
  for (;;) {
    int answer = prmDialogs.SelectCertificate(m_Rows);
    if (answer >= 0 && static_cast<size_t>(answer) < m_Rows.size()) {
      m_Selected = answer;
      return IDOK;
    }
    if (answer != kCertNotSelected) return IDCANCEL;
    prmDialogs.MessageBox(kSelectWarning, kCaption, MB_OK | MB_ICONWARNING);
  }
}

TStoredCert TDlgSelectCert::Detach() {
  if (m_Selected < 0) return {};
  return std::move(m_Store[size_t(m_Selected)]);
}

TCertificateChooser::TCertificateChooser(IDialogs& prmDialogs, TOpenStore prmOpenStore,
                                         TStopCheck prmStop)
    : m_Dialogs(prmDialogs), m_OpenStore(std::move(prmOpenStore)), m_Stop(std::move(prmStop)) {}

TCertChoice TCertificateChooser::ChooseCertificate(TClientCertificate& prmOut) {
  auto stopped = [this] { return m_Stop && m_Stop(); };
  TStoredCert chosen;
  {
    TDlgSelectCert dlg(m_OpenStore(m_Dialogs));
    WriteDebugLog("TDlgSelectCert - " + std::to_string(dlg.RowCount()) + " certificates");
    if (stopped()) return TCertChoice::Cancelled;
    if (dlg.RowCount() == 0) return TCertChoice::NoneInStore;
    if (dlg.Selected() < 0 && dlg.ShowModal(m_Dialogs) != IDOK) return TCertChoice::Cancelled;
    chosen = dlg.Detach();
  }
  if (!chosen.Key && chosen.Unlock && (stopped() || !chosen.Unlock(m_Dialogs, chosen)))
    return TCertChoice::Cancelled;
  if (!chosen.Cert || !chosen.Key) return TCertChoice::Cancelled;
  WriteDebugLog("TDlgSelectCert - using " +
                CertDisplayName(X509_get_subject_name(chosen.Cert.get())) + " from " +
                chosen.Origin);
  X509_up_ref(chosen.Cert.get());
  EVP_PKEY_up_ref(chosen.Key.get());
  prmOut.Cert.reset(chosen.Cert.get());
  prmOut.Key.reset(chosen.Key.get());
  prmOut.KeyOwner = chosen.Key;
  return TCertChoice::Chosen;
}

}  // namespace vantrel
