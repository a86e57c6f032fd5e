// Lines typed on the controlling terminal, read by a thread of their own, so that the host's
// loop (commands) and a dialog's prompt can both wait for the next line without either reading
// the terminal itself. The reader reads only while the program is the terminal's foreground job,
// so a host started in the background is never stopped by the terminal.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/Event.h"

namespace vantrel::host {

class TTtyLines {
 public:
  // prmTty is borrowed and outlives this object. The reader starts at once.
  explicit TTtyLines(int prmTty);
  // Stops and joins the reader.
  ~TTtyLines();
  TTtyLines(const TTtyLines&) = delete;
  TTtyLines& operator=(const TTtyLines&) = delete;

  // Runs on the reader thread after each line and at the end of the terminal; must only post.
  void SetOnInput(std::function<void()> prmOnInput);
  // The oldest line not yet taken (without its newline), if any. Any thread.
  std::optional<std::string> Take();
  // True once the terminal ended (end of file typed, or hung up) and every line was taken.
  bool Ended() const;
  // Readable while a line waits or the terminal ended; for poll().
  int Fd() const { return m_Ready.Fd(); }

 private:
  void ReadThd();
  void ReadLines();
  void Push(std::string prmLine);
  void Notify();

  int m_Tty;
  TEvent m_Stop{true};
  TEvent m_Ready{true};
  mutable std::mutex m_Lock;
  std::deque<std::string> m_Lines;
  bool m_Ended = false;
  std::function<void()> m_OnInput;
  std::thread m_Reader;
};

}  // namespace vantrel::host
