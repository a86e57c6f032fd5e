#include "testpeer/ProxyPeerSquid.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "diag/TextCodecs.h"
#include "testpeer/PeerSocket.h"

namespace vantrel::testpeer {

const char* const kSquidBasic =
    "auth_param basic program /usr/lib/squid/basic_ncsa_auth $DIR/htpasswd\n"
    "auth_param basic realm test\n";
const char* const kSquidNtlm =
    "auth_param ntlm program /usr/lib/squid/ntlm_fake_auth\nauth_param ntlm children 2\n";
const char* const kSquidAlwaysClose =
    "client_persistent_connections off\nreply_header_add Proxy-Connection close all\n";

namespace {

constexpr const char* kSquid = "/usr/sbin/squid";
constexpr const char* kDirPrefix = "/tmp/vantrel-squid-";

std::string RunText(const char* prmCommand) {
  std::string out;
  if (FILE* p = popen(prmCommand, "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, p) != nullptr) out += buf;
    pclose(p);
  }
  return Trim(out);
}

bool Within(int prmMs, const std::function<bool()>& prmDone) {
  for (int waited = 0; !prmDone(); waited += 20) {
    if (waited >= prmMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace

TProxyPeerSquid::TProxyPeerSquid(const std::string& prmName, const std::string& prmConfigLines) {
  // Not inside a private test folder: squid drops to its own user, which must write its log here
  // and read the password file.
  std::string dir = kDirPrefix + prmName + "-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) return;
  m_Dir = dir;
  chmod(m_Dir.c_str(), 0777);
  std::ofstream(m_Dir + "/htpasswd")
      << "alice:" << RunText("openssl passwd -apr1 right-pass") << "\n";
  chmod((m_Dir + "/htpasswd").c_str(), 0644);
  std::string auth = prmConfigLines;
  for (size_t at; (at = auth.find("$DIR")) != std::string::npos;) auth.replace(at, 4, m_Dir);
  m_Port = FreeLoopbackPort();
  std::ofstream(m_Dir + "/squid.conf")
      << "http_port 127.0.0.1:" << m_Port << "\npid_filename " << m_Dir << "/squid.pid\n"
      << "cache_log " << m_Dir << "/cache.log\naccess_log " << m_Dir << "/access.log\n"
      << "cache_store_log none\n"
      << "pinger_enable off\ncoredump_dir " << m_Dir << "\ncache deny all\n"
      << "shutdown_lifetime 0 seconds\n"
      << auth << "acl auth proxy_auth REQUIRED\nhttp_access allow auth\nhttp_access deny all\n";
  const std::string conf = m_Dir + "/squid.conf";
  const std::string outLog = m_Dir + "/out.log";
  // Squid names its shared-memory segments after its service name; peers started side by side by
  // parallel tests must not meet on the default one.
  const std::string service = "vantrel" + m_Dir.substr(m_Dir.size() - 6);
  m_Pid = fork();
  if (m_Pid == 0) {
    const int out = open(outLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(out, 2);
    execl(kSquid, kSquid, "-N", "-n", service.c_str(), "-f", conf.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
}

TProxyPeerSquid::~TProxyPeerSquid() {
  if (m_Pid > 0) {
    kill(m_Pid, SIGTERM);
    int status = 0;
    if (!Within(10000, [&] { return waitpid(m_Pid, &status, WNOHANG) == m_Pid; })) {
      kill(m_Pid, SIGKILL);
      waitpid(m_Pid, &status, 0);
    }
  }
  if (m_Dir.rfind(kDirPrefix, 0) == 0) std::filesystem::remove_all(m_Dir);
}

std::string TProxyPeerSquid::WaitReady() const {
  if (access(kSquid, X_OK) != 0) return std::string(kSquid) + " is not installed";
  if (m_Pid <= 0) return "squid could not be started in " + m_Dir;
  if (Within(20000, [&] {
        const int fd = ConnectLoopback(m_Port);
        if (fd >= 0) close(fd);
        return fd >= 0;
      }))
    return {};
  std::ifstream log(m_Dir + "/cache.log");
  return "squid did not start: " + std::string(std::istreambuf_iterator<char>(log), {});
}

bool TProxyPeerSquid::AccessLogShows(const std::string& prmText) const {
  return Within(5000, [&] {
    std::ifstream log(m_Dir + "/access.log");
    return std::string(std::istreambuf_iterator<char>(log), {}).find(prmText) != std::string::npos;
  });
}

}  // namespace vantrel::testpeer
