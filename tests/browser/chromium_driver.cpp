#include "browser/chromium_driver.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/ProcessSpawn.h"

namespace vantrel::test {

namespace fs = std::filesystem;
using host::TJson;

namespace {

constexpr char kChromium[] = "/usr/bin/chromium";
constexpr char kExtensionOrigin[] = "chrome-extension://iehefmjbcgmminjmdjnjkpcclofglcof/";
constexpr int kAnswerTimeoutMs = 30000;

TJson Discarded() {
  return TJson(TJson::value_t::discarded);
}

}  // namespace

TChromium::TChromium(const std::string& prmProfileDir, const std::string& prmExtensionDir,
                     const std::string& prmHostProgram) {
  if (access(kChromium, X_OK) != 0) {
    ADD_FAILURE() << kChromium << " is missing: install Debian's chromium package";
    return;
  }
  fs::create_directories(fs::path(prmProfileDir) / "NativeMessagingHosts");
  std::ofstream(fs::path(prmProfileDir) / "NativeMessagingHosts" / "com.vantrel.tcs.json") << TJson{
      {"name", "com.vantrel.tcs"},
      {"description", "Vantrel thin client"},
      {"path", prmHostProgram},
      {"type", "stdio"},
      {"allowed_origins", {kExtensionOrigin}}}.dump();
  int commands[2], answers[2];
  if (pipe2(commands, O_CLOEXEC) != 0 || pipe2(answers, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "no pipes for the browser";
    return;
  }
  // As root the browser's own sandbox cannot start; the network stays closed to it.
  std::vector<std::string> args = {kChromium,
                                   "--headless=new",
                                   "--no-sandbox",
                                   "--disable-gpu",
                                   "--disable-quic",
                                   "--no-first-run",
                                   "--disable-background-networking",
                                   "--disable-component-update",
                                   "--disable-sync",
                                   "--user-data-dir=" + prmProfileDir,
                                   "--load-extension=" + prmExtensionDir,
                                   "--remote-debugging-pipe",
                                   "about:blank"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  m_Pid = fork();
  if (m_Pid == 0) {
    setpgid(0, 0);
    dup2(commands[0], 3);
    dup2(answers[1], 4);
    int devNull = open("/dev/null", O_WRONLY);
    if (getenv("VANTREL_TEST_BROWSER_LOG") == nullptr) dup2(devNull, 2);
    execv(kChromium, argv.data());
    _exit(127);
  }
  close(commands[0]);
  close(answers[1]);
  m_ToBrowser = commands[1];
  m_FromBrowser = answers[0];
  if (m_Pid < 0) ADD_FAILURE() << "fork failed";
}

TChromium::~TChromium() {
  if (m_Pid > 0) {
    Send("Browser.close", TJson::object());
    int code = 0;
    if (!WaitProcess(m_Pid, nullptr, 10000, code)) {
      kill(-m_Pid, SIGKILL);
      WaitProcess(m_Pid, nullptr, -1, code);
    }
    kill(-m_Pid, SIGKILL);  // helpers the browser left behind
  }
  for (int fd : {m_ToBrowser, m_FromBrowser})
    if (fd >= 0) close(fd);
}

TJson TChromium::Send(const std::string& prmMethod, TJson prmParams,
                      const std::string& prmSession) {
  if (m_Pid <= 0) return Discarded();
  const int id = ++m_NextId;
  TJson msg = {{"id", id}, {"method", prmMethod}, {"params", std::move(prmParams)}};
  if (!prmSession.empty()) msg["sessionId"] = prmSession;
  std::string text = msg.dump() + '\0';
  for (size_t done = 0; done < text.size();) {
    ssize_t n = write(m_ToBrowser, text.data() + done, text.size() - done);
    if (n <= 0) return Discarded();
    done += static_cast<size_t>(n);
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
  for (;;) {
    size_t end;
    while ((end = m_Buffer.find('\0')) != std::string::npos) {
      TJson answer = TJson::parse(m_Buffer.substr(0, end), nullptr, false);
      m_Buffer.erase(0, end + 1);
      if (answer.is_discarded() || answer.value("id", -1) != id) continue;  // events, others
      if (answer.contains("error")) {
        ADD_FAILURE() << prmMethod << ": " << answer["error"].dump();
        return Discarded();
      }
      return answer["result"];
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p = {m_FromBrowser, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char chunk[65536];
    ssize_t n = read(m_FromBrowser, chunk, sizeof(chunk));
    if (n <= 0) break;
    m_Buffer.append(chunk, static_cast<size_t>(n));
  }
  ADD_FAILURE() << prmMethod << ": the browser did not answer";
  return Discarded();
}

std::string TChromium::OpenTab(const std::string& prmUrl, std::string* prmTargetId) {
  TJson target = Send("Target.createTarget", {{"url", prmUrl}});
  if (target.is_discarded()) return "";
  if (prmTargetId) *prmTargetId = target["targetId"];
  TJson attached =
      Send("Target.attachToTarget", {{"targetId", target["targetId"]}, {"flatten", true}});
  return attached.is_discarded() ? "" : attached.value("sessionId", "");
}

void TChromium::CloseTab(const std::string& prmTargetId) {
  Send("Target.closeTarget", {{"targetId", prmTargetId}});
}

TJson TChromium::Eval(const std::string& prmSession, const std::string& prmExpression) {
  TJson r = Send("Runtime.evaluate",
                 {{"expression", prmExpression}, {"awaitPromise", true}, {"returnByValue", true}},
                 prmSession);
  if (r.is_discarded() || r.contains("exceptionDetails")) return Discarded();
  return r["result"].value("value", TJson());
}

bool TChromium::WaitFor(const std::string& prmSession, const std::string& prmExpression,
                        int prmTimeoutMs) {
  for (int waited = 0; waited <= prmTimeoutMs; waited += 100) {
    if (Eval(prmSession, prmExpression) == true) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

int CountProcesses(const std::string& prmProgram, const std::string& prmArgPrefix,
                   const std::string& prmEnvLine) {
  int count = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    std::ifstream in(entry.path() / "cmdline");
    std::string program, arg;
    if (!std::getline(in, program, '\0') || !std::getline(in, arg, '\0')) continue;
    if (program != prmProgram || arg.rfind(prmArgPrefix, 0) != 0) continue;
    std::ifstream env(entry.path() / "environ");
    for (std::string line; std::getline(env, line, '\0');)
      if (line == prmEnvLine) {
        ++count;
        break;
      }
  }
  return count;
}

}  // namespace vantrel::test
