#include "support/LogCapture.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "platform/DebugLogSetup.h"

namespace vantrel::test {

namespace {

// The library's datagrams are at most a log line; anything larger is cut, which tests would see.
constexpr size_t kMaxRecord = 256 * 1024;

std::string LineOf(const std::string& prmRecord) {
  if (!prmRecord.empty() && prmRecord.back() == '\0')
    return prmRecord.substr(0, prmRecord.size() - 1);
  return prmRecord;
}

}  // namespace

TLogCapture::TLogCapture(bool prmConnectLibrary) : m_Path(DebugLogSocketPath()) {
  std::filesystem::path dir = std::filesystem::path(m_Path).parent_path();
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  chmod(dir.c_str(), 0700);
  Bind();
  StartReader();
  if (prmConnectLibrary) InitDebugLog();
}

TLogCapture::~TLogCapture() {
  StopReader();
  close(m_Fd);
  unlink(m_Path.c_str());
  InitDebugLog();
}

void TLogCapture::Bind() {
  sockaddr_un addr{};
  if (m_Path.size() >= sizeof addr.sun_path) throw std::runtime_error("log socket path too long");
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, m_Path.c_str(), m_Path.size() + 1);
  m_Fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (m_Fd < 0) throw std::runtime_error("log socket: " + std::string(std::strerror(errno)));
  unlink(m_Path.c_str());
  if (bind(m_Fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    int err = errno;
    close(m_Fd);
    m_Fd = -1;
    throw std::runtime_error("bind " + m_Path + ": " + std::strerror(err));
  }
  int size = 4 * 1024 * 1024;
  setsockopt(m_Fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

void TLogCapture::StartReader() {
  m_Stop.Reset();
  m_Reader = std::thread([this] { ReadThd(); });
}

void TLogCapture::StopReader() {
  m_Stop.Set();
  if (m_Reader.joinable()) m_Reader.join();
}

void TLogCapture::RestartViewer() {
  StopReader();
  Drain();
  close(m_Fd);
  unlink(m_Path.c_str());
  Bind();
  StartReader();
}

bool TLogCapture::ReceiveOne() const {
  static thread_local std::vector<char> buf(kMaxRecord);
  std::lock_guard<std::mutex> r(m_RecvLock);
  ssize_t n = recv(m_Fd, buf.data(), buf.size(), MSG_DONTWAIT);
  if (n < 0) return false;
  std::lock_guard<std::mutex> g(m_Lock);
  m_Records.emplace_back(buf.data(), static_cast<size_t>(n));
  m_Changed.notify_all();
  return true;
}

bool TLogCapture::Drain() const {
  bool any = false;
  while (ReceiveOne()) any = true;
  return any;
}

void TLogCapture::ReadThd() {
  for (;;) {
    pollfd fds[2] = {{m_Fd, POLLIN, 0}, {m_Stop.Fd(), POLLIN, 0}};
    int r = poll(fds, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return;
    // Queued records are taken before the stop request is looked at.
    if ((fds[0].revents & POLLIN) && Drain()) continue;
    if (fds[1].revents & POLLIN) return;
  }
}

std::vector<std::string> TLogCapture::Records() const {
  Drain();
  std::lock_guard<std::mutex> g(m_Lock);
  return m_Records;
}

std::vector<std::string> TLogCapture::Lines() const {
  Drain();
  std::lock_guard<std::mutex> g(m_Lock);
  std::vector<std::string> out;
  out.reserve(m_Records.size());
  for (const auto& r : m_Records) out.push_back(LineOf(r));
  return out;
}

bool TLogCapture::AnyLine(std::string_view prmText, bool prmExact) const {
  for (const auto& r : m_Records) {
    std::string line = LineOf(r);
    if (prmExact ? line == prmText : line.find(prmText) != std::string::npos) return true;
  }
  return false;
}

bool TLogCapture::Contains(std::string_view prmText) const {
  Drain();
  std::lock_guard<std::mutex> g(m_Lock);
  return AnyLine(prmText, false);
}

bool TLogCapture::HasLine(std::string_view prmText) const {
  Drain();
  std::lock_guard<std::mutex> g(m_Lock);
  return AnyLine(prmText, true);
}

size_t TLogCapture::Count(std::string_view prmText) const {
  Drain();
  std::lock_guard<std::mutex> g(m_Lock);
  size_t n = 0;
  for (const auto& r : m_Records)
    if (LineOf(r).find(prmText) != std::string::npos) ++n;
  return n;
}

bool TLogCapture::WaitFor(std::string_view prmText, int prmTimeoutMs) const {
  Drain();
  std::unique_lock<std::mutex> g(m_Lock);
  return m_Changed.wait_for(g, std::chrono::milliseconds(prmTimeoutMs),
                            [&] { return AnyLine(prmText, false); });
}

bool TLogCapture::WaitForRecords(size_t prmCount, int prmTimeoutMs) const {
  Drain();
  std::unique_lock<std::mutex> g(m_Lock);
  return m_Changed.wait_for(g, std::chrono::milliseconds(prmTimeoutMs),
                            [&] { return m_Records.size() >= prmCount; });
}

void TLogCapture::Clear() {
  Drain();
  std::lock_guard<std::mutex> g(m_Lock);
  m_Records.clear();
}

}  // namespace vantrel::test
