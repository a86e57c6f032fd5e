#include "LogViewer.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "diag/TextCodecs.h"

namespace vantrel::logview {

namespace {

// Records are single log lines; this is far above any the library sends.
constexpr size_t kMaxRecord = 256 * 1024;

sockaddr_un AddressOf(const std::string& prmPath) {
  sockaddr_un addr{};
  if (prmPath.size() >= sizeof addr.sun_path)
    throw std::runtime_error("socket path too long: " + prmPath);
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, prmPath.c_str(), prmPath.size() + 1);
  return addr;
}

// True when something is bound and reading at prmAddr (a live viewer, not a stale file).
bool ViewerAlive(const sockaddr_un& prmAddr) {
  TUniqueFd fd(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  return fd && connect(fd.Get(), reinterpret_cast<const sockaddr*>(&prmAddr), sizeof prmAddr) == 0;
}

}  // namespace

TLogViewer::TLogViewer(std::string prmPath) : m_Path(std::move(prmPath)) {
  sockaddr_un addr = AddressOf(m_Path);
  std::filesystem::path dir = std::filesystem::path(m_Path).parent_path();
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) throw std::runtime_error("cannot create " + dir.string() + ": " + ec.message());
  chmod(dir.c_str(), 0700);
  if (ViewerAlive(addr)) throw std::runtime_error("another viewer is running on " + m_Path);
  unlink(m_Path.c_str());
  m_Fd.Reset(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!m_Fd) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  if (bind(m_Fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    int err = errno;
    throw std::runtime_error("cannot bind " + m_Path + ": " + std::strerror(err));
  }
}

TLogViewer::~TLogViewer() {
  m_Fd.Reset();
  unlink(m_Path.c_str());
}

bool TLogViewer::Receive(std::string& prmRecord) {
  static std::vector<char> buf(kMaxRecord);
  ssize_t n = recv(m_Fd.Get(), buf.data(), buf.size(), MSG_DONTWAIT);
  if (n < 0) return false;
  prmRecord.assign(buf.data(), static_cast<size_t>(n));
  return true;
}

std::string FormatRecord(const timespec& prmWhen, std::string_view prmRecord) {
  if (!prmRecord.empty() && prmRecord.back() == '\0') prmRecord.remove_suffix(1);
  tm local{};
  localtime_r(&prmWhen.tv_sec, &local);
  char stamp[64];
  size_t len = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(stamp + len, sizeof stamp - len, ".%03ld ", prmWhen.tv_nsec / 1000000);
  return stamp + FromAnsi(prmRecord);
}

}  // namespace vantrel::logview
