// The XenApp service's own chunked body: a reply that announces "Transfer-Coding: CHUNKED" (and
// no "Transfer-Encoding", see NeedsOwnChunkDecoding) reaches us undecoded, so its body is read
// here, piece by piece as it arrives. Pure: bytes in, body out, no sockets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

// A state machine over the received bytes: a size line in hexadecimal ended by CR LF (size 0 ends
// the body), that many data bytes, then two bytes (the CR LF) skipped. Each completed chunk is
// appended to the body; a chunk cut short by the end of the reply is not. A size text that is not
// hexadecimal (extensions included), or a chunk larger than the room left under prmMaxBody, stops
// the reading: the reply is then not to be parsed.
class TChunkedReader {
 public:
  enum class TState { Size, Data, Trailer, Done, Stopped };

  explicit TChunkedReader(size_t prmMaxBody);

  // Takes the next received piece; bytes after the end or after a stop are ignored.
  void Feed(std::string_view prmPiece);
  TState State() const { return m_State; }
  // The last chunk (size 0) was read.
  bool Finished() const { return m_State == TState::Done; }
  bool Stopped() const { return m_State == TState::Stopped; }
  const std::string& Body() const { return m_Body; }

 private:
  void TakeSizeChar(char prmChar);

  const size_t m_MaxBody;
  TState m_State = TState::Size;
  uint64_t m_Size = 0;  // the size read so far, then the chunk's size
  bool m_SizeDigits = false;
  bool m_SkipLF = false;  // the CR of the size line was seen
  int m_TrailerLeft = 2;
  std::string m_Chunk;
  std::string m_Body;
};

}  // namespace vantrel
