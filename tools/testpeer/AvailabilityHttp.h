// The HTTP/1.1 framing of the availability peer, pure: a request is parsed from the bytes received
// so far and a reply is built as bytes. No sockets here, so every limit and every garbage case can
// be tested byte for byte.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel::testpeer {

using TNameValues = std::vector<std::pair<std::string, std::string>>;

// Largest header section (request line and headers) and body the peer accepts.
constexpr size_t kMaxHttpHeader = 16384;
constexpr size_t kMaxHttpBody = 4u << 20;

struct THttpRequest {
  std::string Method;
  std::string Target;    // as sent: origin form, or absolute form reduced to its path and query
  std::string Path;      // Target up to "?"
  std::string RawQuery;  // after "?", empty when there is none
  TNameValues Query;     // RawQuery split at "&" and the first "=", values as sent
  TNameValues Headers;   // names and values as sent, values without surrounding blanks
  std::string Body;
  bool KeepAlive = true;  // HTTP/1.1 without "Connection: close", or 1.0 with "keep-alive"

  // The first header of that name (case-insensitive); empty when absent.
  std::string Header(std::string_view prmName) const;
  bool HasParam(std::string_view prmName) const;
  // The first query value of that name, form-URL decoded (as sent when it does not decode).
  std::string Param(std::string_view prmName) const;
  // The first query value of that name as sent; empty when absent.
  std::string RawParam(std::string_view prmName) const;
  // The query names in order, for checking the order a client uses.
  std::vector<std::string> ParamNames() const;
};

enum class THttpParse { Incomplete, Complete, Bad };

struct THttpParseResult {
  THttpParse State = THttpParse::Incomplete;
  size_t Consumed = 0;  // bytes of the buffer that made up the request (Complete only)
  int Status = 0;       // reply status for Bad: 400, 413, 431, 501 or 505
  std::string Error;    // why it was refused (Bad only)
};

// Parses one request from the front of prmBuffer. Incomplete asks for more bytes; it is never
// returned once the header section exceeds kMaxHttpHeader or a declared body kMaxHttpBody, so the
// caller's buffer stays bounded. Request bodies must be framed by Content-Length (no chunked
// uploads).
THttpParseResult ParseHttpRequest(std::string_view prmBuffer, THttpRequest& prmRequest);

// Splits a query text at "&" and the first "=" of each piece; empty pieces are skipped.
TNameValues SplitQuery(std::string_view prmQuery);

// "HTTP/1.1 <status> <reason>" with Content-Length (or none when prmChunked), Connection and the
// extra headers, then the body. prmChunked sends the body in the chunked coding under the header
// "Transfer-Coding: CHUNKED" that some servers write in place of Transfer-Encoding.
std::string BuildHttpReply(int prmStatus, std::string_view prmBody, bool prmKeepAlive,
                           std::string_view prmContentType = "text/xml",
                           const TNameValues& prmExtraHeaders = {}, bool prmChunked = false);

const char* HttpReason(int prmStatus);

}  // namespace vantrel::testpeer
