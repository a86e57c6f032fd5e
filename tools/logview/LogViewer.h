// The viewer's side of the debug-log channel: owns the datagram socket the library writes to and
// turns each record into a time-stamped line.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "diag/UniqueFd.h"

namespace vantrel::logview {

class TLogViewer {
 public:
  // Creates the socket's folder (mode 0700), replaces a stale socket file and binds. Raises
  // std::runtime_error when the path is taken by a running viewer or cannot be bound.
  explicit TLogViewer(std::string prmPath);
  // Closes and removes the socket.
  ~TLogViewer();
  TLogViewer(const TLogViewer&) = delete;
  TLogViewer& operator=(const TLogViewer&) = delete;

  int Fd() const { return m_Fd.Get(); }
  const std::string& Path() const { return m_Path; }
  // Takes one queued record without blocking; false when none is queued.
  bool Receive(std::string& prmRecord);

 private:
  std::string m_Path;
  TUniqueFd m_Fd;
};

// "YYYY-MM-DD HH:MM:SS.mmm text": local time, the record's trailing zero byte dropped and its
// 8-bit text shown as UTF-8.
std::string FormatRecord(const timespec& prmWhen, std::string_view prmRecord);

}  // namespace vantrel::logview
