// The proxy library's log: dated UTF-16 log files in the user's log folder, and each record
// handed to an outside viewer through the shared block (proxylog/LogShared.h) when one is
// present. Levels per module live in the shared block, so a viewer can change them at run time.
// Safe from any thread: LogBegin takes the process's log lock, LogEnd releases it. Logging never
// reports failures and never waits more than about a second.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "proxylog/LogShared.h"

namespace vantrel::proxylog {

// Starts logging as module prmModule (1-15) of the module table; true when logging is active.
bool LogOpen(int prmModule);
// Stops logging (the library's unload); later calls do nothing until the next LogOpen.
void LogClose();

// True when a record of prmLevel (1-3) is to be written; the log lock is then held until LogEnd.
bool LogBegin(int prmLevel, const char* prmFile, int prmLine);
// Program text (UTF-8) / 8-bit text in the process locale's code set. A message of more than
// 4,095 characters is dropped.
void LogWrite(const char* prmFormat, ...) __attribute__((format(printf, 1, 2)));
void LogWriteA(const char* prmFormat, ...) __attribute__((format(printf, 1, 2)));
void LogEnd();

// LogBegin, LogWrite and LogEnd in one, keeping errno as the caller had it.
void LogRecord(int prmLevel, const char* prmFile, int prmLine, const char* prmFormat, ...)
    __attribute__((format(printf, 4, 5)));

// Where the day's files go: ConfigDir() + "/VPN/Log/".
std::string LogFolder();
// "YYYY-MM-DD.txt" of the local date.
std::string LogFileName(const tm& prmLocal);

struct TLogLine {
  tm Local{};
  unsigned Millis = 0;
  unsigned ProcessId = 0;
  unsigned ThreadId = 0;
  std::u16string Module;
  int Level = 0;
  std::string File;  // as the caller gave it; the folder is dropped
  unsigned Line = 0;
  std::string Process;  // executable's base name; empty = unknown
  std::u16string Message;
};
// One line of a log file, CR LF inside the message and at its end.
std::u16string FormatLogLine(const TLogLine& prmLine);

// Tests move the clock (a new day) without waiting for midnight; null restores the real clock.
void SetLogClockForTest(timespec (*prmClock)());

}  // namespace vantrel::proxylog

#define PROXY_LOG(level, ...) ::vantrel::proxylog::LogRecord(level, __FILE__, __LINE__, __VA_ARGS__)
