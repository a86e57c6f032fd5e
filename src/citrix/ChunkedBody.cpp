#include "citrix/ChunkedBody.h"

#include <algorithm>

#include "diag/DebugLog.h"
#include "diag/TextCodecs.h"

namespace vantrel {

TChunkedReader::TChunkedReader(size_t prmMaxBody) : m_MaxBody(prmMaxBody) {}

void TChunkedReader::TakeSizeChar(char prmChar) {
  if (m_SkipLF) {
    m_SkipLF = false;
    WriteDebugLog("GetCitrixResp - Chunck size is " + std::to_string(m_Size));
    if (m_Size == 0) {
      m_State = TState::Done;
      return;
    }
    m_Chunk.clear();
    m_Chunk.reserve(m_Size);
    m_State = TState::Data;
    return;
  }
  if (prmChar == '\r') {
    if (!m_SizeDigits) {
      m_State = TState::Stopped;
      return;
    }
    m_SkipLF = true;
    return;
  }
  int digit = HexDigit(prmChar);
  if (digit < 0) {
    m_State = TState::Stopped;
    return;
  }
  m_SizeDigits = true;
  m_Size = m_Size * 16 + static_cast<uint64_t>(digit);
  // The chunk must fit beside what was read: the reply's bound holds for the decoded body too.
  if (m_Size > m_MaxBody - m_Body.size()) {
    WriteDebugLog("GetCitrixResp - Failed to allocate memory");
    m_State = TState::Stopped;
  }
}

void TChunkedReader::Feed(std::string_view prmPiece) {
  size_t at = 0;
  while (at < prmPiece.size()) {
    switch (m_State) {
      case TState::Size:
        TakeSizeChar(prmPiece[at++]);
        break;
      case TState::Data: {
        size_t want = static_cast<size_t>(m_Size) - m_Chunk.size();
        size_t count = std::min(want, prmPiece.size() - at);
        WriteDebugLog("GetCitrixResp - Copying data " + std::to_string(count));
        m_Chunk.append(prmPiece.substr(at, count));
        at += count;
        if (m_Chunk.size() == m_Size) {
          m_Body += m_Chunk;
          m_Chunk.clear();
          m_TrailerLeft = 2;
          m_State = TState::Trailer;
        }
        break;
      }
      case TState::Trailer:
        ++at;
        if (--m_TrailerLeft == 0) {
          m_Size = 0;
          m_SizeDigits = false;
          m_State = TState::Size;
        }
        break;
      case TState::Done:
      case TState::Stopped:
        return;
    }
  }
}

}  // namespace vantrel
