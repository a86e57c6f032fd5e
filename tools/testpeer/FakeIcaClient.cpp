#include "testpeer/FakeIcaClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>

#include "diag/TextCodecs.h"
#include "diag/UniqueFd.h"

namespace vantrel::testpeer {

namespace {

constexpr size_t kMaxSettingsBytes = 64u << 10;
constexpr int kEchoWaitMs = 10000;

// Sends the piece to prmAddress ("127.x.y.z:port") and reads as many bytes back.
bool EchoThrough(const std::string& prmAddress, std::string& prmError) {
  std::string host;
  int port = 0;
  SplitHostPort(prmAddress, 0, host, port);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, host.c_str(), &sa.sin_addr) != 1) {
    prmError = "address " + prmAddress + " is not dotted";
    return false;
  }
  TUniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  timeval tv{kEchoWaitMs / 1000, 0};
  setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd.Get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  if (connect(fd.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    prmError = "cannot connect to " + prmAddress;
    return false;
  }
  const std::string piece = kFakeIcaPiece;
  if (send(fd.Get(), piece.data(), piece.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(piece.size())) {
    prmError = "cannot send to " + prmAddress;
    return false;
  }
  std::string back;
  char buf[256];
  while (back.size() < piece.size()) {
    ssize_t n = recv(fd.Get(), buf, sizeof buf, 0);
    if (n <= 0) break;
    back.append(buf, static_cast<size_t>(n));
  }
  if (back != piece) prmError = "the server sent back " + std::to_string(back.size()) + " bytes";
  return back == piece;
}

}  // namespace

TIcaSettings ReadIcaSettings(const std::string& prmText) {
  TIcaSettings s;
  size_t start = 0;
  bool first = true;
  while (start < prmText.size()) {
    size_t end = prmText.find("\r\n", start);
    if (end == std::string::npos) {
      s.Error = "a line does not end with CR LF";
      return s;
    }
    const std::string line = prmText.substr(start, end - start);
    if (line.find_first_of("\r\n") != std::string::npos) {
      s.Error = "a bare CR or LF inside a line";
      return s;
    }
    if (first && line != "[WFClient]") {
      s.Error = "the first line is not [WFClient]";
      return s;
    }
    first = false;
    if (size_t eq = line.find('='); eq != std::string::npos && line[0] != '[')
      s.Entries[line.substr(0, eq)] = line.substr(eq + 1);
    start = end + 2;
  }
  if (first) s.Error = "the file is empty";
  auto address = s.Entries.find("Address");
  if (s.Error.empty() && (address == s.Entries.end() || address->second.rfind("127.", 0) != 0 ||
                          address->second.find(':') == std::string::npos))
    s.Error = "no loopback Address=";
  return s;
}

int RunFakeIcaClient(const std::string& prmFile) {
  std::ifstream in(prmFile, std::ios::binary);
  std::string text(kMaxSettingsBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  TIcaSettings settings =
      text.size() > kMaxSettingsBytes ? TIcaSettings{{}, "file too large"} : ReadIcaSettings(text);
  if (!in.eof() && settings.Error.empty()) settings.Error = "cannot read " + prmFile;
  if (settings.Entries["RemoveICAFile"] == "yes") unlink(prmFile.c_str());
  std::string echoError;
  const bool echoed = settings.Error.empty() && EchoThrough(settings.Entries["Address"], echoError);
  nlohmann::ordered_json report;
  report["file"] = prmFile;
  report["error"] = settings.Error.empty() ? echoError : settings.Error;
  report["echoed"] = echoed;
  report["mentionsPassword"] = LowerCase(text).find("password") != std::string::npos;
  report["entries"] = settings.Entries;
  if (const char* path = std::getenv(kFakeIcaReportVar)) {
    std::ofstream out(path, std::ios::app);
    out << report.dump() << "\n";
  }
  if (!echoed) std::fprintf(stderr, "ica-client: %s\n", report["error"].get<std::string>().c_str());
  return echoed ? 0 : 1;
}

}  // namespace vantrel::testpeer
