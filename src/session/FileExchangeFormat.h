// The byte-level parts of the file exchange, free of sockets and clocks: the gateway URL of a
// "local://" file, the manager's own decoding of a "Transfer-Coding: CHUNKED" body and the
// 8,192-byte block accounting of a download with its progress reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

constexpr size_t kFileBlockSize = 8192;
// Every this many blocks (the first, the 51st, ...) a download reports its progress.
constexpr int kProgressEveryBlocks = 50;

// True when the first eight characters, lower-cased, are "local://".
bool IsGatewayFile(std::string_view prmURL);

// The HTTPS URL of a gateway file; prmPath is the text after "local://". The port is written
// only when it is not 443.
std::string GatewayFileURL(int prmPlatformType, const std::string& prmSP, int prmSPPort,
                           const std::string& prmModID, std::string_view prmPath);

enum class TChunkResult { Complete, Truncated, Malformed };

// Decodes chunked transfer coding: a hexadecimal size line (extensions after ";" ignored) ended
// by CR LF, that many bytes, CR LF; size 0 ends the body. Every complete chunk is appended to
// prmOut; the first truncated or malformed chunk stops decoding and is not appended. Never reads
// outside prmBody.
TChunkResult DecodeChunkedBody(std::string_view prmBody, std::string& prmOut);

// Cuts a download into the read loop's 8,192-byte blocks. Each completed block is written to the
// stream; after block 0, 50, 100, ... and when the content length is known (> 0) the progress
// callback receives the truncated percentage of bytes so far (at most 100).
class TBlockReader {
 public:
  // The share done and the bytes behind it (prmTotal: the announced length).
  using TProgress = std::function<void(int prmPercent, uint64_t prmDone, uint64_t prmTotal)>;
  TBlockReader(std::ostream& prmOut, TProgress prmProgress);

  // Set once the reply's headers are known; -1 or 0 when absent.
  void SetContentLength(int64_t prmLength) { m_Length = prmLength; }
  void Feed(const char* prmData, size_t prmLen);
  // The loop's last read: the short (possibly empty) remainder.
  void Finish();

  uint64_t BytesRead() const { return m_Total; }
  int BlocksRead() const { return m_Blocks; }

 private:
  void CompleteBlock();

  std::ostream& m_Out;
  TProgress m_Progress;
  std::string m_Block;
  int64_t m_Length = 0;
  uint64_t m_Total = 0;
  int m_Blocks = 0;
};

}  // namespace vantrel
