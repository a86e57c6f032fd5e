#include "session/FileExchangeFormat.h"

#include <algorithm>

#include "diag/TextCodecs.h"

namespace vantrel {

bool IsGatewayFile(std::string_view prmURL) {
  return prmURL.size() >= 8 && SameText(prmURL.substr(0, 8), "local://");
}

std::string GatewayFileURL(int prmPlatformType, const std::string& prmSP, int prmSPPort,
                           const std::string& prmModID, std::string_view prmPath) {
  std::string url = "https://" + prmSP;
  // Appended in two steps: gcc 12 at -O3 reports a false -Wrestrict on ":" + to_string(...).
  if (prmSPPort != 443) {
    url += ':';
    url += std::to_string(prmSPPort);
  }
  url += "/prx/000/http/localhost/";
  if (prmPlatformType == 2) {
    if (prmPath.find("/client_sec/l3vpn") == std::string_view::npos)
      url += "tcs/global/" + prmModID + "/";
  } else {
    url += "vantrel_clients/1/";
  }
  url += prmPath;
  return url;
}

namespace {

// A chunk can never be larger than what is left of the body, so sizes beyond this many digits
// are refused before they could overflow.
constexpr size_t kMaxSizeDigits = 15;

}  // namespace

TChunkResult DecodeChunkedBody(std::string_view prmBody, std::string& prmOut) {
  size_t pos = 0;
  for (;;) {
    size_t eol = prmBody.find("\r\n", pos);
    if (eol == std::string_view::npos) return TChunkResult::Truncated;
    std::string_view line = prmBody.substr(pos, eol - pos);
    size_t semi = line.find(';');
    std::string_view digits = line.substr(0, semi);
    while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\t'))
      digits.remove_suffix(1);
    if (digits.empty() || digits.size() > kMaxSizeDigits) return TChunkResult::Malformed;
    uint64_t size = 0;
    for (char c : digits) {
      int d = HexDigit(c);
      if (d < 0) return TChunkResult::Malformed;
      size = size * 16 + static_cast<uint64_t>(d);
    }
    pos = eol + 2;
    if (size == 0) return TChunkResult::Complete;
    size_t left = prmBody.size() - pos;
    if (size > left || left - size < 2) return TChunkResult::Truncated;
    if (prmBody.substr(pos + size, 2) != "\r\n") return TChunkResult::Malformed;
    prmOut.append(prmBody.substr(pos, size));
    pos += size + 2;
  }
}

TBlockReader::TBlockReader(std::ostream& prmOut, TProgress prmProgress)
    : m_Out(prmOut), m_Progress(std::move(prmProgress)) {
  m_Block.reserve(kFileBlockSize);
}

void TBlockReader::Feed(const char* prmData, size_t prmLen) {
  while (prmLen > 0) {
    size_t take = std::min(prmLen, kFileBlockSize - m_Block.size());
    m_Block.append(prmData, take);
    prmData += take;
    prmLen -= take;
    if (m_Block.size() == kFileBlockSize) CompleteBlock();
  }
}

void TBlockReader::Finish() {
  CompleteBlock();
}

void TBlockReader::CompleteBlock() {
  m_Out.write(m_Block.data(), static_cast<std::streamsize>(m_Block.size()));
  m_Total += m_Block.size();
  m_Block.clear();
  int index = m_Blocks++;
  if (index % kProgressEveryBlocks != 0 || m_Length <= 0 || !m_Progress) return;
  uint64_t percent = m_Total * 100 / static_cast<uint64_t>(m_Length);
  m_Progress(static_cast<int>(std::min<uint64_t>(percent, 100)), m_Total,
             static_cast<uint64_t>(m_Length));
}

}  // namespace vantrel
