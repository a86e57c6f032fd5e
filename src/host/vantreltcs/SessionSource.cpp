#include "host/vantreltcs/SessionSource.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string_view>

#include "diag/Exceptions.h"
#include "diag/TextCodecs.h"
#include "diag/UniqueFd.h"
#include "host/vantreltcs/StartParams.h"

namespace vantrel::host {

namespace {

constexpr char kUrlScheme[] = "vantrel:";

std::string_view TrimBlanks(std::string_view prmText) {
  while (!prmText.empty() && (prmText.front() == ' ' || prmText.front() == '\t'))
    prmText.remove_prefix(1);
  while (!prmText.empty() && (prmText.back() == ' ' || prmText.back() == '\t'))
    prmText.remove_suffix(1);
  return prmText;
}

// RFC 3986 percent-decoding; false on a '%' not followed by two hexadecimal digits.
bool PercentDecode(std::string_view prmText, std::string& prmOut) {
  prmOut.clear();
  for (size_t i = 0; i < prmText.size(); ++i) {
    if (prmText[i] != '%') {
      prmOut += prmText[i];
      continue;
    }
    int hi = i + 2 < prmText.size() ? HexDigit(prmText[i + 1]) : -1;
    int lo = hi >= 0 ? HexDigit(prmText[i + 2]) : -1;
    if (lo < 0) return false;
    prmOut += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

[[noreturn]] void Refuse(const std::string& prmPath, const std::string& prmWhy) {
  throw EBaseException("session file " + prmPath + " " + prmWhy);
}

// Removes the name prmName of folder prmDir when it still names the file prmOpened describes.
void RemoveOpened(int prmDir, const std::string& prmName, const struct stat& prmOpened,
                  const std::string& prmPath) {
  struct stat now {};
  if (fstatat(prmDir, prmName.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
      now.st_dev != prmOpened.st_dev || now.st_ino != prmOpened.st_ino)
    Refuse(prmPath, "was replaced while it was read; refused");
  if (unlinkat(prmDir, prmName.c_str(), 0) != 0)
    Refuse(prmPath, std::string("could not be removed (") + std::strerror(errno) + "); refused");
}

std::string ReadBounded(int prmFd, const std::string& prmPath) {
  std::string text;
  char chunk[8192];
  for (;;) {
    ssize_t n = read(prmFd, chunk, sizeof(chunk));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Refuse(prmPath, std::string("cannot be read (") + std::strerror(errno) + ")");
    if (n == 0) return text;
    text.append(chunk, static_cast<size_t>(n));
    if (text.size() > kMaxSessionSource)
      Refuse(prmPath, "is too large (more than " + std::to_string(kMaxSessionSource) + " bytes)");
  }
}

}  // namespace

bool IsSessionUrl(const std::string& prmArg) {
  return prmArg.size() >= std::strlen(kUrlScheme) &&
         SameText(std::string_view(prmArg).substr(0, std::strlen(kUrlScheme)), kUrlScheme);
}

void AddSessionUrl(const std::string& prmUrl, TMapPropertyBag& prmBag) {
  if (prmUrl.size() > kMaxSessionSource)
    throw EBaseException("session URL is too long (more than " + std::to_string(kMaxSessionSource) +
                         " characters)");
  std::string_view rest = std::string_view(prmUrl).substr(std::strlen(kUrlScheme));
  if (rest.empty() || rest.front() != '?')
    throw EBaseException("a session URL has the form vantrel:?NAME=VALUE&NAME=VALUE...");
  rest.remove_prefix(1);
  if (rest.find('#') != std::string_view::npos)
    throw EBaseException("session URL: unexpected '#'; escape it as %23");
  TStartParamChecker checker(prmBag);
  int no = 0;
  while (!rest.empty()) {
    size_t amp = rest.find('&');
    std::string_view piece = rest.substr(0, amp);
    rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
    if (piece.empty()) continue;
    std::string place = "session URL parameter " + std::to_string(++no);
    size_t eq = piece.find('=');
    if (eq == std::string_view::npos) throw EBaseException(place + ": expected NAME=VALUE");
    std::string name, value;
    if (!PercentDecode(piece.substr(0, eq), name) || !PercentDecode(piece.substr(eq + 1), value))
      throw EBaseException(place + ": broken %-escape (a '%' must be followed by two hex digits)");
    checker.Add(name, value, place);
  }
}

void AddSessionFile(const std::string& prmPath, TMapPropertyBag& prmBag) {
  std::filesystem::path path(prmPath);
  std::string name = path.filename().string();
  if (name.size() <= std::strlen(kSessionFileExtension) ||
      name.compare(name.size() - std::strlen(kSessionFileExtension), std::string::npos,
                   kSessionFileExtension) != 0)
    Refuse(prmPath, std::string("is not a session file (its name must end in ") +
                        kSessionFileExtension + ")");
  // The folder first, then the file by name within it, so the removal below hits the file read.
  std::string dir = path.has_parent_path() ? path.parent_path().string() : ".";
  TUniqueFd dirFd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dirFd) Refuse(prmPath, std::string("cannot be opened (") + std::strerror(errno) + ")");
  // Non-blocking, so a FIFO planted under the name cannot hold the open.
  TUniqueFd fd(
      openat(dirFd.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd && errno == ELOOP) Refuse(prmPath, "is a symbolic link; refused");
  if (!fd) Refuse(prmPath, std::string("cannot be opened (") + std::strerror(errno) + ")");
  struct stat st {};
  if (fstat(fd.Get(), &st) != 0) Refuse(prmPath, "cannot be examined");
  if (!S_ISREG(st.st_mode)) Refuse(prmPath, "is not a regular file; refused");
  if (st.st_uid != geteuid()) Refuse(prmPath, "belongs to another user; refused");
  if (st.st_nlink != 1) Refuse(prmPath, "has more than one name (a hard link); refused");
  // From here the file is the user's own: it goes before its contents are judged, so the cookie
  // it holds is never left behind, whatever follows.
  RemoveOpened(dirFd.Get(), name, st, prmPath);
  if (st.st_size > static_cast<off_t>(kMaxSessionSource))
    Refuse(prmPath, "is too large (more than " + std::to_string(kMaxSessionSource) + " bytes)");
  std::string text = ReadBounded(fd.Get(), prmPath);

  TStartParamChecker checker(prmBag);
  size_t start = 0;
  for (int no = 1; start < text.size(); ++no) {
    size_t nl = text.find('\n', start);
    std::string_view line(text.data() + start,
                          (nl == std::string::npos ? text.size() : nl) - start);
    start = nl == std::string::npos ? text.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = TrimBlanks(line);
    if (line.empty() || line.front() == '#') continue;
    std::string place = "session file " + prmPath + " line " + std::to_string(no);
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) throw EBaseException(place + ": expected NAME=VALUE");
    checker.Add(std::string(TrimBlanks(line.substr(0, eq))),
                std::string(TrimBlanks(line.substr(eq + 1))), place);
  }
}

void AddSessionSource(const std::string& prmArg, TMapPropertyBag& prmBag) {
  if (IsSessionUrl(prmArg)) return AddSessionUrl(prmArg, prmBag);
  // Desktop launchers may hand a local file over as a file: URL.
  constexpr std::string_view kFileScheme = "file://";
  if (prmArg.size() <= kFileScheme.size() ||
      !SameText(std::string_view(prmArg).substr(0, kFileScheme.size()), kFileScheme))
    return AddSessionFile(prmArg, prmBag);
  std::string_view rest = std::string_view(prmArg).substr(kFileScheme.size());
  size_t slash = rest.find('/');
  std::string_view host = rest.substr(0, slash);
  std::string path;
  if (slash == std::string_view::npos || (!host.empty() && !SameText(host, "localhost")))
    throw EBaseException("session file URL " + prmArg + " does not name a local file");
  if (!PercentDecode(rest.substr(slash), path) || path.find('\0') != std::string::npos)
    throw EBaseException("session file URL " + prmArg + " has a broken %-escape");
  AddSessionFile(path, prmBag);
}

}  // namespace vantrel::host
