#include "host/vantreltcs/TerminalUI.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "control/VantrelTCSImpl.h"
#include "diag/TextCodecs.h"
#include "host/vantreltcs/PageDialogs.h"
#include "host/vantreltcs/TerminalCommands.h"

namespace vantrel::host {

namespace {

std::string Mark(const TCheckBox& prmBox) {
  return std::string(prmBox.Checked ? "[x] " : "[ ] ") + prmBox.Caption;
}

std::string Selected(const TComboBox& prmBox) {
  if (prmBox.ItemIndex >= 0 && static_cast<size_t>(prmBox.ItemIndex) < prmBox.Items.size())
    return prmBox.Items[prmBox.ItemIndex];
  return prmBox.Text;
}

}  // namespace

std::string FormText(TVantrelTCSX& prmControl) {
  const TVantrelTCSForm& f = prmControl.Form();
  std::string out = "== " + f.Caption + " ==\n";
  if (f.lblInfo.Visible && !f.lblInfo.Caption.empty())
    out += std::string(f.lblInfo.Red ? "!! " : ".. ") + f.lblInfo.Caption + "\n";
  if (f.cbHost.Visible) {
    out += "Desktops:\n";
    for (size_t i = 0; i < f.cbHost.Items.size(); ++i)
      out += std::string(static_cast<int>(i) == f.cbHost.ItemIndex ? " * " : "   ") +
             std::to_string(i) + " " + f.cbHost.Items[i] + "\n";
  } else {
    out += "Host\\IP Address: " + f.edHost.Text + "\n";
  }
  out += "Size: " + Selected(f.cbSize);
  if (f.edWidth.Enabled) out += " " + f.edWidth.Text + "x" + f.edHeight.Text;
  out += "  Color Depth: " + Selected(f.cbColor) + "  Sound: " + Selected(f.cbSound) + "\n";
  if (f.gbRedirection.Visible)
    out += "Redirection: " + Mark(f.cbDrv) + " " + Mark(f.cbPrt) + " " + Mark(f.cbPorts) + " " +
           Mark(f.cbSmartCards) + " " + Mark(f.cbClipboard) + " " + Mark(f.cbPOS) + "\n";
  out += std::string("Connect: ") + (f.btConnect.Enabled ? "enabled" : "disabled") + "\n";
  return out;
}

TTerminalUI::TTerminalUI() : m_Tty(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {
  if (m_Tty) m_Lines = std::make_unique<TTtyLines>(m_Tty.Get());
}

TTerminalUI::~TTerminalUI() = default;

void TTerminalUI::StartCommands(std::function<void()> prmWake, std::function<void()> prmQuit) {
  if (!m_Lines) return;
  m_Quit = std::move(prmQuit);
  m_Lines->SetOnInput(std::move(prmWake));
  Print(TerminalCommandsHelp());
}

void TTerminalUI::RunCommands(const TDispatchTable& prmTable) {
  if (!m_Lines || !m_Quit) return;
  bool quit = false;
  while (!quit && m_Prompting.load() == 0) {
    auto line = m_Lines->Take();
    if (!line) {
      quit = m_Lines->Ended();  // the person closed the terminal
      break;
    }
    std::string answer;
    quit = RunTerminalCommand(*line, prmTable, answer) == TCommandResult::Quit;
    Print(answer);
  }
  if (!quit) return;
  Print("quitting\n");
  std::exchange(m_Quit, nullptr)();
}

void TTerminalUI::Print(const std::string& prmText) {
  if (!m_Tty) return;
  size_t done = 0;
  while (done < prmText.size()) {
    ssize_t n = write(m_Tty.Get(), prmText.data() + done, prmText.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void TTerminalUI::Render(TVantrelTCSX& prmControl) {
  if (!m_Tty) return;
  std::string text = FormText(prmControl);
  if (text == m_Shown) return;
  m_Shown = text;
  Print(text);
}

bool TTerminalUI::ReadLine(std::string& prmLine) {
  prmLine.clear();
  if (!m_Lines) return false;
  bool onWindow = m_Window != nullptr && m_Window->IsWindowThread();
  // While a prompt waits, the lines typed are its answers, not commands.
  ++m_Prompting;
  struct TDone {
    std::atomic<int>& Count;
    ~TDone() { --Count; }
  } done{m_Prompting};
  for (;;) {
    if (auto line = m_Lines->Take()) {
      prmLine = std::move(*line);
      return true;
    }
    if (m_Lines->Ended()) return false;
    pollfd fds[3] = {{m_Lines->Fd(), POLLIN, 0}, {m_Cancel.Fd(), POLLIN, 0}, {-1, POLLIN, 0}};
    if (onWindow) fds[2].fd = m_Window->Fd();
    if (poll(fds, 3, -1) < 0 && errno != EINTR) return false;
    if (fds[1].revents != 0) return false;
    if (fds[2].revents != 0) m_Window->ProcessMessages();
  }
}

int TTerminalUI::AskButton(const std::vector<int>& prmButtons, int prmDismissed) {
  std::string choices;
  for (int b : prmButtons) choices += std::string(choices.empty() ? "" : "/") + ButtonName(b);
  for (;;) {
    Print("[" + choices + "]? ");
    std::string line;
    if (!ReadLine(line)) return prmDismissed;
    std::string answer = LowerCase(Trim(line));
    for (int b : prmButtons) {
      std::string name = ButtonName(b);
      if (!answer.empty() && (answer == name || answer == name.substr(0, 1))) return b;
    }
  }
}

int TTerminalUI::MessageBox(const std::string& prmText, const std::string& prmCaption,
                            uint32_t prmFlags) {
  if (!m_Tty) return TLoggingDialogs().MessageBox(prmText, prmCaption, prmFlags);
  Print("\n-- " + prmCaption + " --\n" + prmText + "\n");
  std::vector<int> buttons = MessageBoxButtons(prmFlags);
  bool question = (prmFlags & MB_TYPEMASK) == MB_YESNO;
  return AskButton(buttons, question ? IDNO : DefaultMessageBoxResult(prmFlags));
}

int TTerminalUI::AskButtons(const std::string& prmText, const std::string& prmCaption,
                            const std::string& prmFirst, const std::string& prmSecond) {
  if (!m_Tty) return TLoggingDialogs().AskButtons(prmText, prmCaption, prmFirst, prmSecond);
  Print("\n-- " + prmCaption + " --\n" + prmText + "\n yes = " + prmFirst + ", no = " + prmSecond +
        ", cancel = close\n");
  return AskButton({IDYES, IDNO, IDCANCEL}, IDCANCEL);
}

bool TTerminalUI::AskText(const std::string& prmLabel, std::string& prmValue, bool prmSecret) {
  Print(prmLabel + (prmSecret || prmValue.empty() ? "" : " [" + prmValue + "]") + ": ");
  termios saved{};
  bool hidden = prmSecret && tcgetattr(m_Tty.Get(), &saved) == 0;
  if (hidden) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(m_Tty.Get(), TCSANOW, &quiet);
  }
  std::string line;
  bool ok = ReadLine(line);
  if (hidden) {
    tcsetattr(m_Tty.Get(), TCSANOW, &saved);
    Print("\n");
  }
  if (ok && (prmSecret || !line.empty())) prmValue = line;
  std::fill(line.begin(), line.end(), '\0');
  return ok;
}

int TTerminalUI::Login(TLoginPrompt& prmPrompt) {
  if (!m_Tty) return TLoggingDialogs().Login(prmPrompt);
  Print("\n-- " + prmPrompt.Caption + " --\n");
  TLoginPrompt entered = prmPrompt;
  if (!AskText("User", entered.User, false) || !AskText("Password", entered.Password, true) ||
      (entered.DomainVisible && !AskText("Domain", entered.Domain, false)))
    return IDCANCEL;
  Print(prmPrompt.ButtonText + " ");
  if (AskButton({IDOK, IDCANCEL}, IDCANCEL) != IDOK) return IDCANCEL;
  prmPrompt = entered;
  return IDOK;
}

int TTerminalUI::SelectCertificate(const std::vector<TCertRow>& prmRows) {
  if (!m_Tty) return TLoggingDialogs().SelectCertificate(prmRows);
  Print("\n-- Select a certificate --\n");
  // Appended piece by piece: gcc 12 misreads a literal joined to a temporary under -Wrestrict.
  for (size_t i = 0; i < prmRows.size(); ++i)
    Print(std::string(" ")
              .append(std::to_string(i))
              .append(" ")
              .append(prmRows[i].Subject)
              .append(" (")
              .append(prmRows[i].Issuer)
              .append(")\n"));
  for (;;) {
    Print("number, ok, or empty to cancel: ");
    std::string line;
    if (!ReadLine(line) || Trim(line).empty()) return -1;
    if (LowerCase(Trim(line)) == "ok") return kCertNotSelected;
    int index = -1;
    if (TryStrToInt(Trim(line), index) && index >= 0 && static_cast<size_t>(index) < prmRows.size())
      return index;
  }
}

TServerCertAnswer TTerminalUI::ConfirmServerCert(const TServerCertInfo& prmInfo) {
  if (!m_Tty) return TLoggingDialogs().ConfirmServerCert(prmInfo);
  std::string text = "\n-- The gateway's certificate could not be verified --\n";
  text.append(" gateway:     ")
      .append(prmInfo.Host)
      .append(":")
      .append(std::to_string(prmInfo.Port));
  text.append("\n reason:      ").append(prmInfo.Reason);
  text.append("\n subject:     ").append(prmInfo.Subject);
  text.append("\n issuer:      ").append(prmInfo.Issuer);
  text.append("\n valid:       ").append(prmInfo.NotBefore).append(" to ").append(prmInfo.NotAfter);
  text.append("\n fingerprint: ").append(prmInfo.Fingerprint).append("\n");
  Print(text);
  for (;;) {
    Print("[r]efuse, accept [o]nce, accept and re[m]ember: ");
    std::string line;
    if (!ReadLine(line)) return TServerCertAnswer::Refuse;
    std::string a = Trim(line);
    if (a == "o" || a == "once") return TServerCertAnswer::AcceptOnce;
    if (a == "m" || a == "remember") return TServerCertAnswer::AcceptAndRemember;
    if (a.empty() || a == "r" || a == "refuse") return TServerCertAnswer::Refuse;
  }
}

int TTerminalUI::AskSecret(const std::string& prmText, const std::string& prmCaption,
                           std::string& prmSecret) {
  if (!m_Tty) return TLoggingDialogs().AskSecret(prmText, prmCaption, prmSecret);
  Print("\n-- " + prmCaption + " --\n");
  std::string entered;
  if (!AskText(prmText, entered, true)) return IDCANCEL;
  prmSecret = entered;
  std::fill(entered.begin(), entered.end(), '\0');
  return IDOK;
}

}  // namespace vantrel::host
