#include "testpeer/AvailabilityHttp.h"

#include <cstdio>

#include "diag/Exceptions.h"
#include "diag/TextCodecs.h"

namespace vantrel::testpeer {

namespace {

bool IsTokenChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view prmText) {
  if (prmText.empty()) return false;
  for (char c : prmText)
    if (!IsTokenChar(c)) return false;
  return true;
}

// Targets and header values may hold any visible byte (8-bit text included) but no controls.
bool HasControl(std::string_view prmText, bool prmAllowTab) {
  for (unsigned char c : prmText)
    if ((c < 0x20 && !(prmAllowTab && c == '\t')) || c == 0x7f) return true;
  return false;
}

THttpParseResult Refuse(int prmStatus, std::string prmWhy) {
  THttpParseResult r;
  r.State = THttpParse::Bad;
  r.Status = prmStatus;
  r.Error = std::move(prmWhy);
  return r;
}

std::string_view StripBlanks(std::string_view prmText) {
  while (!prmText.empty() && (prmText.front() == ' ' || prmText.front() == '\t'))
    prmText.remove_prefix(1);
  while (!prmText.empty() && (prmText.back() == ' ' || prmText.back() == '\t'))
    prmText.remove_suffix(1);
  return prmText;
}

// Reduces an absolute-form target ("http://host:port/path") to its origin form.
bool OriginForm(std::string_view prmTarget, std::string& prmOut) {
  if (!prmTarget.empty() && prmTarget.front() == '/') {
    prmOut = prmTarget;
    return true;
  }
  if (prmTarget.size() < 7 || !SameText(prmTarget.substr(0, 7), "http://")) return false;
  size_t slash = prmTarget.find('/', 7);
  prmOut = slash == std::string_view::npos ? "/" : std::string(prmTarget.substr(slash));
  return true;
}

bool ParseLength(std::string_view prmText, size_t& prmValue) {
  if (prmText.empty() || prmText.size() > 12) return false;
  size_t v = 0;
  for (char c : prmText) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<size_t>(c - '0');
  }
  prmValue = v;
  return true;
}

}  // namespace

std::string THttpRequest::Header(std::string_view prmName) const {
  for (const auto& [n, v] : Headers)
    if (SameText(n, prmName)) return v;
  return {};
}

bool THttpRequest::HasParam(std::string_view prmName) const {
  for (const auto& [n, v] : Query)
    if (n == prmName) return true;
  return false;
}

std::string THttpRequest::RawParam(std::string_view prmName) const {
  for (const auto& [n, v] : Query)
    if (n == prmName) return v;
  return {};
}

std::string THttpRequest::Param(std::string_view prmName) const {
  std::string raw = RawParam(prmName);
  try {
    return FormURLDecode(raw);
  } catch (const EBaseException&) {
    return raw;
  }
}

std::vector<std::string> THttpRequest::ParamNames() const {
  std::vector<std::string> names;
  for (const auto& [n, v] : Query) names.push_back(n);
  return names;
}

TNameValues SplitQuery(std::string_view prmQuery) {
  TNameValues out;
  while (!prmQuery.empty()) {
    size_t amp = prmQuery.find('&');
    std::string_view piece = prmQuery.substr(0, amp);
    prmQuery = amp == std::string_view::npos ? std::string_view() : prmQuery.substr(amp + 1);
    if (piece.empty()) continue;
    size_t eq = piece.find('=');
    if (eq == std::string_view::npos)
      out.emplace_back(std::string(piece), std::string());
    else
      out.emplace_back(std::string(piece.substr(0, eq)), std::string(piece.substr(eq + 1)));
  }
  return out;
}

THttpParseResult ParseHttpRequest(std::string_view prmBuffer, THttpRequest& prmRequest) {
  // Blank lines before a request are tolerated, as HTTP/1.1 asks of servers.
  size_t start = 0;
  while (start + 1 < prmBuffer.size() && prmBuffer[start] == '\r' && prmBuffer[start + 1] == '\n')
    start += 2;
  size_t end = prmBuffer.find("\r\n\r\n", start);
  if (end == std::string_view::npos) {
    if (prmBuffer.size() - start > kMaxHttpHeader)
      return Refuse(431, "header section larger than " + std::to_string(kMaxHttpHeader));
    return {};
  }
  if (end - start > kMaxHttpHeader)
    return Refuse(431, "header section larger than " + std::to_string(kMaxHttpHeader));

  THttpRequest req;
  std::string_view head = prmBuffer.substr(start, end - start);
  size_t eol = head.find("\r\n");
  std::string_view line = head.substr(0, eol);
  head = eol == std::string_view::npos ? std::string_view() : head.substr(eol + 2);

  size_t sp1 = line.find(' ');
  size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos)
    return Refuse(400, "malformed request line");
  req.Method = line.substr(0, sp1);
  std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  std::string_view version = line.substr(sp2 + 1);
  if (!IsToken(req.Method)) return Refuse(400, "malformed method");
  if (target.empty() || HasControl(target, false) || !OriginForm(target, req.Target))
    return Refuse(400, "malformed request target");
  bool http10 = version == "HTTP/1.0";
  if (!http10 && version != "HTTP/1.1") {
    if (version.size() == 8 && version.substr(0, 5) == "HTTP/")
      return Refuse(505, "unsupported version " + std::string(version));
    return Refuse(400, "malformed protocol version");
  }
  size_t q = req.Target.find('?');
  req.Path = req.Target.substr(0, q);
  if (q != std::string::npos) req.RawQuery = req.Target.substr(q + 1);
  req.Query = SplitQuery(req.RawQuery);

  std::optional<size_t> length;
  while (!head.empty()) {
    eol = head.find("\r\n");
    line = head.substr(0, eol);
    head = eol == std::string_view::npos ? std::string_view() : head.substr(eol + 2);
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return Refuse(400, "header line without a colon");
    std::string_view name = line.substr(0, colon);
    std::string_view value = StripBlanks(line.substr(colon + 1));
    if (!IsToken(name)) return Refuse(400, "malformed header name");
    if (HasControl(value, true))
      return Refuse(400, "control character in header " + std::string(name));
    if (SameText(name, "Transfer-Encoding"))
      return Refuse(501, "request bodies must carry a Content-Length");
    if (SameText(name, "Content-Length")) {
      size_t v = 0;
      if (!ParseLength(value, v)) return Refuse(400, "malformed Content-Length");
      if (length && *length != v) return Refuse(400, "conflicting Content-Length headers");
      if (v > kMaxHttpBody) return Refuse(413, "body larger than " + std::to_string(kMaxHttpBody));
      length = v;
    }
    req.Headers.emplace_back(std::string(name), std::string(value));
  }

  std::string connection = req.Header("Connection");
  if (http10)
    req.KeepAlive = FindText(connection, "keep-alive") != std::string::npos;
  else
    req.KeepAlive = FindText(connection, "close") == std::string::npos;

  size_t bodyStart = end + 4;
  size_t bodyLen = length.value_or(0);
  if (prmBuffer.size() - bodyStart < bodyLen) return {};
  req.Body = prmBuffer.substr(bodyStart, bodyLen);
  prmRequest = std::move(req);
  THttpParseResult r;
  r.State = THttpParse::Complete;
  r.Consumed = bodyStart + bodyLen;
  return r;
}

const char* HttpReason(int prmStatus) {
  switch (prmStatus) {
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 302:
      return "Found";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 413:
      return "Content Too Large";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 505:
      return "HTTP Version Not Supported";
    default:
      return "Status";
  }
}

std::string BuildHttpReply(int prmStatus, std::string_view prmBody, bool prmKeepAlive,
                           std::string_view prmContentType, const TNameValues& prmExtraHeaders,
                           bool prmChunked) {
  std::string out = "HTTP/1.1 " + std::to_string(prmStatus) + " " + HttpReason(prmStatus) + "\r\n";
  if (!prmContentType.empty()) out += "Content-Type: " + std::string(prmContentType) + "\r\n";
  if (prmChunked)
    out += "Transfer-Coding: CHUNKED\r\n";
  else
    out += "Content-Length: " + std::to_string(prmBody.size()) + "\r\n";
  out += prmKeepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
  for (const auto& [n, v] : prmExtraHeaders) out += n + ": " + v + "\r\n";
  out += "\r\n";
  if (!prmChunked) {
    out += prmBody;
    return out;
  }
  // Chunks of at most 1000 bytes, so a reader that decodes the coding itself meets several.
  constexpr size_t kChunk = 1000;
  for (size_t at = 0; at < prmBody.size(); at += kChunk) {
    std::string_view part = prmBody.substr(at, kChunk);
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", part.size());
    out += size;
    out += part;
    out += "\r\n";
  }
  out += "0\r\n\r\n";
  return out;
}

}  // namespace vantrel::testpeer
