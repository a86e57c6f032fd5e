// The embedded form on the terminal: the status line, the desktop list and the settings are
// printed to the controlling terminal whenever they change, and message boxes and prompts are
// asked there; lines typed while no prompt waits are commands (TerminalCommands.h). Standard
// input and output stay free for the page channel.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "control/Dispatch.h"
#include "diag/UniqueFd.h"
#include "host/vantreltcs/TtyLines.h"
#include "platform/Dialogs.h"
#include "platform/Event.h"
#include "platform/Window.h"

namespace vantrel {
class TVantrelTCSX;
}

namespace vantrel::host {

class TTerminalUI final : public IDialogs {
 public:
  // Opens the controlling terminal; without one the UI stays silent (HasTerminal false).
  TTerminalUI();
  ~TTerminalUI() override;
  TTerminalUI(const TTerminalUI&) = delete;
  TTerminalUI& operator=(const TTerminalUI&) = delete;

  bool HasTerminal() const { return m_Tty.Valid(); }
  // Prompts on the window's thread keep handling its messages.
  void SetWindow(HWND prmWindow) { m_Window = prmWindow; }
  // Ends every prompt, now and later, with the answer of a dismissed box. Any thread.
  void Cancel() { m_Cancel.Set(); }

  // Window thread: prints the form when what it shows changed since the last call.
  void Render(TVantrelTCSX& prmControl);

  // Prints the command help and from now on hands typed lines to the host: prmWake runs on the
  // terminal's reader thread after each line (it must only post), prmQuit on the window thread
  // for "quit" and for the end of the terminal.
  void StartCommands(std::function<void()> prmWake, std::function<void()> prmQuit);
  // Window thread: runs the commands typed since the last call, unless a prompt waits for them.
  void RunCommands(const TDispatchTable& prmTable);

  VANTREL_IDIALOGS_OVERRIDES;

 private:
  void Print(const std::string& prmText);
  // One line typed on the terminal; nothing when cancelled or the terminal went away.
  bool ReadLine(std::string& prmLine);
  // One entry after prmLabel (the current value shown unless secret; typing hidden if secret).
  // An empty line keeps a visible value. False when cancelled.
  bool AskText(const std::string& prmLabel, std::string& prmValue, bool prmSecret);
  // Asks until one of prmButtons is named (full name or its first letter).
  int AskButton(const std::vector<int>& prmButtons, int prmDismissed);

  TUniqueFd m_Tty;
  std::unique_ptr<TTtyLines> m_Lines;  // while the terminal is open
  std::atomic<int> m_Prompting{0};     // prompts waiting for a line
  std::function<void()> m_Quit;        // set by StartCommands; cleared once it ran
  HWND m_Window = nullptr;
  TEvent m_Cancel{true};
  std::string m_Shown;  // the form as last printed
};

// The form as text: status line, desktop list, size, colour, sound and redirection settings.
std::string FormText(TVantrelTCSX& prmControl);

}  // namespace vantrel::host
