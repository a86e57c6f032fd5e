// The certificate choice made while a gateway waits for a client certificate: TDlgSelectCert is
// the list the user picks from (one choice, then disposed of), TCertificateChooser answers the
// channel with it. Both run on the handshake thread.
#pragma once

#include <functional>
#include <vector>

#include "platform/CertStore.h"
#include "platform/Dialogs.h"
#include "tls/CertChooser.h"

namespace vantrel {

class TDlgSelectCert {
 public:
  // Fills the rows from the store, in store order; a single row is selected at once.
  explicit TDlgSelectCert(std::vector<TStoredCert> prmStore);

  size_t RowCount() const { return m_Store.size(); }
  // The selected row, -1 for none.
  int Selected() const { return m_Selected; }
  const std::vector<TCertRow>& Rows() const { return m_Rows; }

  // Shows the list on prmDialogs until it is closed: IDOK with Selected() naming the row, or
  // IDCANCEL. OK without a selection is refused with a warning and the list shown again.
  int ShowModal(IDialogs& prmDialogs);
  // The selected row's certificate, handed out; the dialog releases every other row's when it
  // goes. Empty without a selection.
  TStoredCert Detach();

 private:
  std::vector<TStoredCert> m_Store;
  std::vector<TCertRow> m_Rows;
  int m_Selected = -1;
};

class TCertificateChooser final : public ICertificateChooser {
 public:
  using TOpenStore = std::function<std::vector<TStoredCert>(IDialogs&)>;
  // prmDialogs shows the list and asks passphrases and PINs; borrowed, must outlive the chooser.
  // Once prmStop says so (the session is being released) the choice ends as cancelled, before
  // the list or a PIN is asked for; prmOpenStore is expected to stop reading as well.
  explicit TCertificateChooser(
      IDialogs& prmDialogs,
      TOpenStore prmOpenStore =
          [](IDialogs& prmStoreDialogs) { return OpenPersonalStore(prmStoreDialogs); },
      TStopCheck prmStop = {});

  // The store is read anew on each call, so a file or token added meanwhile is offered.
  TCertChoice ChooseCertificate(TClientCertificate& prmOut) override;

 private:
  IDialogs& m_Dialogs;
  TOpenStore m_OpenStore;
  TStopCheck m_Stop;
};

}  // namespace vantrel
