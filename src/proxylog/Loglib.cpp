#include "proxylog/Loglib.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "diag/TextCodecs.h"
#include "diag/UniqueFd.h"
#include "platform/Settings.h"
#include "proxylog/LogShared.h"
#include "proxylog/UtilityLib.h"

namespace vantrel::proxylog {

namespace {

using namespace std::chrono_literals;

const char16_t* const kLevelNames[] = {u"OFF", u"ERROR", u"WARNING", u"INFO"};

struct TLog {
  std::mutex Lock;  // held from LogBegin to LogEnd
  bool Active = false;
  int Module = 0;
  uint32_t Class = kIntegrityMedium;
  TSharedBlock Block;
  TNamedSem BlockReady;
  std::string Folder;
  std::string Process;
  bool ViewerKnown = false;
  // The record being written, between LogBegin and LogEnd.
  int Level = 0;
  std::string File;
  int Line = 0;
  bool ToViewer = false;
};

TLog& Log() {
  static TLog* log = new TLog;  // outlives every static destructor that may still log
  return *log;
}

timespec (*g_Clock)() = nullptr;

timespec Now() {
  if (g_Clock) return g_Clock();
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return ts;
}

std::string ProcessBaseName() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  std::string path(buf, static_cast<size_t>(n));
  return path.substr(path.rfind('/') + 1);
}

bool ViewerPresent(TLog& prmLog) {
  TNamedSem presence;
  if (!presence.Open(LogObjectName(TLogObject::Presence, prmLog.Class), false)) {
    prmLog.ViewerKnown = false;
    return false;
  }
  if (prmLog.ViewerKnown) return true;
  // The viewer-ready mark is looked at, not taken: a taken mark would hide the viewer from
  // every other writing process until the viewer next asks for a record.
  TNamedSem ready;
  prmLog.ViewerKnown =
      ready.Open(LogObjectName(TLogObject::ViewerReady, prmLog.Class), false) && ready.Wait(100ms);
  if (prmLog.ViewerKnown) ready.Post();
  return prmLog.ViewerKnown;
}

void AppendToFile(TLog& prmLog, const TLogLine& prmLine) {
  // The gate stands for a manual-reset event: waiting passes while it is set and leaves it set.
  // Appends are single O_APPEND writes, so lines of several processes never interleave.
  TNamedSem gate;
  if (!gate.Open(LogObjectName(TLogObject::FileGate, prmLog.Class), true, 1) || !gate.Wait(1000ms))
    return;
  gate.Post();
  std::u16string text = FormatLogLine(prmLine);
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  if (!MakePrivateDir(prmLog.Folder)) return;
  TUniqueFd fd(open((prmLog.Folder + LogFileName(prmLine.Local)).c_str(),
                    O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
  if (fd.Valid()) {
    ssize_t written = write(fd.Get(), bytes.data(), bytes.size());
    (void)written;  // a record that cannot be written is lost, as any undeliverable one
  }
}

void SendToViewer(TLog& prmLog, const TLogLine& prmLine) {
  TNamedSem slotFree;
  TNamedSem recordReady;
  if (!slotFree.Open(LogObjectName(TLogObject::SlotFree, prmLog.Class), false) ||
      !recordReady.Open(LogObjectName(TLogObject::RecordReady, prmLog.Class), false) ||
      !slotFree.Wait(1000ms))
    return;
  uint8_t* b = prmLog.Block.Data();
  PutText(b + block::kSourceFile, block::kTextChars, Utf8ToUtf16(prmLine.File));
  PutText(b + block::kProcessName, block::kTextChars, Utf8ToUtf16(prmLine.Process));
  PutU32(b + block::kLine, prmLine.Line);
  PutU32(b + block::kProcessId, prmLine.ProcessId);
  PutU32(b + block::kThreadId, prmLine.ThreadId);
  PutU32(b + block::kModule, static_cast<uint32_t>(prmLog.Module));
  PutU32(b + block::kLevel, static_cast<uint32_t>(prmLine.Level));
  const tm& t = prmLine.Local;
  const unsigned fields[8] = {
      static_cast<unsigned>(t.tm_year + 1900), static_cast<unsigned>(t.tm_mon + 1),
      static_cast<unsigned>(t.tm_wday),        static_cast<unsigned>(t.tm_mday),
      static_cast<unsigned>(t.tm_hour),        static_cast<unsigned>(t.tm_min),
      static_cast<unsigned>(t.tm_sec),         prmLine.Millis};
  for (int i = 0; i < 8; ++i) {
    b[block::kTime + 2 * i] = static_cast<uint8_t>(fields[i]);
    b[block::kTime + 2 * i + 1] = static_cast<uint8_t>(fields[i] >> 8);
  }
  PutText(b + block::kMessage, block::kMessageChars, prmLine.Message);
  recordReady.Post();
}

void Deliver(const std::string& prmMessage) {
  TLog& log = Log();
  timespec now = Now();
  TLogLine line;
  localtime_r(&now.tv_sec, &line.Local);
  line.Millis = static_cast<unsigned>(now.tv_nsec / 1000000);
  line.ProcessId = static_cast<unsigned>(getpid());
  line.ThreadId = static_cast<unsigned>(gettid());
  line.Module = ModuleName(log.Block.Data(), log.Module);
  line.Level = log.Level;
  line.File = log.File;
  line.Line = static_cast<unsigned>(log.Line);
  line.Process = log.Process;
  line.Message = Utf8ToUtf16(prmMessage);
  AppendToFile(log, line);
  if (log.ToViewer) SendToViewer(log, line);
}

// False for a message that does not fit: it is dropped whole rather than cut.
bool Format(std::string& prmText, const char* prmFormat, va_list prmArgs) {
  std::vector<char> buf(block::kMessageChars + 1);
  int n = vsnprintf(buf.data(), buf.size(), prmFormat, prmArgs);
  if (n < 0 || static_cast<size_t>(n) > block::kMessageChars - 1) return false;
  prmText.assign(buf.data(), static_cast<size_t>(n));
  return true;
}

// The message of one record; prmAnsi: the arguments are 8-bit text in the locale's code set.
void FormatAndDeliver(const char* prmFormat, va_list prmArgs, bool prmAnsi) {
  std::string text;
  if (!Format(text, prmFormat, prmArgs)) return;
  Deliver(prmAnsi ? FromAnsi(text) : text);
}

}  // namespace

bool LogOpen(int prmModule) {
  TLog& log = Log();
  std::lock_guard<std::mutex> lock(log.Lock);
  log.Active = false;
  if (prmModule < 1 || prmModule >= kModuleCount) return false;
  log.Class = CurrentIntegrityClass();
  if (!log.Block.Data() && !log.Block.Open(LogObjectName(TLogObject::Block, log.Class), true))
    return false;
  if (!log.BlockReady.Open(LogObjectName(TLogObject::BlockReady, log.Class), true, 0)) return false;
  if (log.BlockReady.Value() == 0) log.BlockReady.Post();
  log.Folder = LogFolder();
  if (!MakePrivateDir(log.Folder)) return false;
  log.Process = ProcessBaseName();
  log.Module = prmModule;
  log.Active = true;
  return true;
}

void LogClose() {
  TLog& log = Log();
  std::lock_guard<std::mutex> lock(log.Lock);
  log.Active = false;
  log.BlockReady.Close();
}

bool LogBegin(int prmLevel, const char* prmFile, int prmLine) {
  TLog& log = Log();
  log.Lock.lock();
  if (!log.Active || prmLevel < kLevelError || prmLevel > kLevelInfo ||
      ModuleLevel(log.Block.Data(), log.Module) < static_cast<uint32_t>(prmLevel)) {
    log.Lock.unlock();
    return false;
  }
  log.ToViewer = ViewerPresent(log);
  log.Level = prmLevel;
  log.File = std::string(prmFile ? prmFile : "").substr(0, block::kTextChars - 1);
  log.Line = prmLine;
  return true;
}

void LogWrite(const char* prmFormat, ...) {
  va_list args;
  va_start(args, prmFormat);
  FormatAndDeliver(prmFormat, args, false);
  va_end(args);
}

void LogWriteA(const char* prmFormat, ...) {
  va_list args;
  va_start(args, prmFormat);
  FormatAndDeliver(prmFormat, args, true);
  va_end(args);
}

void LogEnd() {
  Log().Lock.unlock();
}

void LogRecord(int prmLevel, const char* prmFile, int prmLine, const char* prmFormat, ...) {
  int savedErrno = errno;
  if (LogBegin(prmLevel, prmFile, prmLine)) {
    va_list args;
    va_start(args, prmFormat);
    FormatAndDeliver(prmFormat, args, false);
    va_end(args);
    LogEnd();
  }
  errno = savedErrno;
}

std::string LogFolder() {
  return ConfigDir() + "/VPN/Log/";
}

std::string LogFileName(const tm& prmLocal) {
  char name[32];
  snprintf(name, sizeof name, "%04u-%02u-%02u.txt",
           static_cast<unsigned>(prmLocal.tm_year + 1900) % 10000,
           static_cast<unsigned>(prmLocal.tm_mon + 1) % 100,
           static_cast<unsigned>(prmLocal.tm_mday) % 100);
  return name;
}

std::u16string FormatLogLine(const TLogLine& prmLine) {
  const tm& t = prmLine.Local;
  char head[160];
  snprintf(head, sizeof head, "%02u/%02u/%02u %02u:%02u:%02u.%03u P-%u: T-%u: ",
           static_cast<unsigned>(t.tm_mon + 1) % 100, static_cast<unsigned>(t.tm_mday) % 100,
           static_cast<unsigned>(t.tm_year + 1900) % 100, static_cast<unsigned>(t.tm_hour) % 100,
           static_cast<unsigned>(t.tm_min) % 100, static_cast<unsigned>(t.tm_sec) % 100,
           prmLine.Millis % 1000, prmLine.ProcessId, prmLine.ThreadId);
  std::string file = prmLine.File.substr(prmLine.File.rfind('/') + 1);
  int level = prmLine.Level >= 0 && prmLine.Level <= 3 ? prmLine.Level : 0;
  std::u16string out =
      Utf8ToUtf16(head) + prmLine.Module + u": (" + kLevelNames[level] + u"): " +
      Utf8ToUtf16(file) + u":" + Utf8ToUtf16(std::to_string(prmLine.Line)) + u"  <" +
      Utf8ToUtf16(prmLine.Process.empty() ? "Unknown Moudle" : prmLine.Process) + u"> ";
  for (char16_t c : prmLine.Message) {
    if (c == u'\n') out += u'\r';
    out += c;
  }
  return out + u"\r\n";
}

void SetLogClockForTest(timespec (*prmClock)()) {
  g_Clock = prmClock;
}

}  // namespace vantrel::proxylog
