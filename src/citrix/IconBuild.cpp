#include "citrix/IconBuild.h"

#include <cstring>

namespace vantrel {

namespace {

constexpr size_t kIconDirBytes = 22;  // file header (6) and one directory entry (16)
constexpr size_t kBitmapHeaderBytes = 40;
constexpr size_t kIcon16MaskBytes = 128;
constexpr size_t kIcon16MaskRowBytes = 4;
constexpr size_t kIcon16ColourRowBytes = 16;
constexpr int kIconRows = 32;

// Red, green, blue of the 16 standard colours.
constexpr uint8_t kPalette16[16][3] = {
    {0x00, 0x00, 0x00}, {0x80, 0x00, 0x00}, {0x00, 0x80, 0x00}, {0x80, 0x80, 0x00},
    {0x00, 0x00, 0x80}, {0x80, 0x00, 0x80}, {0x00, 0x80, 0x80}, {0x80, 0x80, 0x80},
    {0xC0, 0xC0, 0xC0}, {0xFF, 0x00, 0x00}, {0x00, 0xFF, 0x00}, {0xFF, 0xFF, 0x00},
    {0x00, 0x00, 0xFF}, {0xFF, 0x00, 0xFF}, {0x00, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF}};

void Put16(TBytes& prmOut, uint16_t prmValue) {
  prmOut.push_back(static_cast<uint8_t>(prmValue));
  prmOut.push_back(static_cast<uint8_t>(prmValue >> 8));
}

void Put32(TBytes& prmOut, uint32_t prmValue) {
  for (int shift = 0; shift < 32; shift += 8)
    prmOut.push_back(static_cast<uint8_t>(prmValue >> shift));
}

// File header, the one directory entry and the bitmap header (32 wide, 64 high: the colour rows
// and the mask rows).
void PutHeaders(TBytes& prmOut, uint8_t prmColourCount, uint16_t prmBits, uint32_t prmPixelBytes,
                uint32_t prmImageBytes) {
  Put16(prmOut, 0);
  Put16(prmOut, 1);
  Put16(prmOut, 1);
  prmOut.push_back(32);
  prmOut.push_back(32);
  prmOut.push_back(prmColourCount);
  prmOut.push_back(0);
  Put16(prmOut, 0);
  Put16(prmOut, 0);
  Put32(prmOut, prmImageBytes);
  Put32(prmOut, kIconDirBytes);
  Put32(prmOut, kBitmapHeaderBytes);
  Put32(prmOut, 32);
  Put32(prmOut, 64);
  Put16(prmOut, 1);
  Put16(prmOut, prmBits);
  Put32(prmOut, 0);
  Put32(prmOut, prmPixelBytes);
  prmOut.insert(prmOut.end(), 16, 0);
}

// prmRows rows of prmRowBytes from prmData, bottom row first.
void PutRowsReversed(TBytes& prmOut, const uint8_t* prmData, size_t prmRows, size_t prmRowBytes) {
  for (size_t row = prmRows; row-- > 0;)
    prmOut.insert(prmOut.end(), prmData + row * prmRowBytes, prmData + (row + 1) * prmRowBytes);
}

int Nibble(char prmLetter) {
  return prmLetter >= 'A' && prmLetter <= 'P' ? prmLetter - 'A' : -1;
}

}  // namespace

bool DecodeIconLetters(std::string_view prmText, TBytes& prmBytes) {
  prmBytes.clear();
  if (prmText.size() % 2 != 0) return false;
  prmBytes.reserve(prmText.size() / 2);
  for (size_t i = 0; i < prmText.size(); i += 2) {
    int high = Nibble(prmText[i]), low = Nibble(prmText[i + 1]);
    if (high < 0 || low < 0) {
      prmBytes.clear();
      return false;
    }
    prmBytes.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return true;
}

TBytes BuildIcon16(const uint8_t* prmData) {
  TBytes out;
  out.reserve(kIcon16FileBytes);
  const uint32_t pixelBytes = kIcon16DataBytes;
  PutHeaders(out, 16, 4, pixelBytes, kBitmapHeaderBytes + 64 + pixelBytes);
  for (const auto& rgb : kPalette16) {
    out.push_back(rgb[2]);
    out.push_back(rgb[1]);
    out.push_back(rgb[0]);
    out.push_back(0);
  }
  PutRowsReversed(out, prmData + kIcon16MaskBytes, kIconRows, kIcon16ColourRowBytes);
  PutRowsReversed(out, prmData, kIconRows, kIcon16MaskRowBytes);
  return out;
}

TBytes BuildIcon32(const uint8_t* prmData, size_t prmLen) {
  TBytes out;
  out.reserve(kIconDirBytes + kBitmapHeaderBytes + prmLen);
  const uint32_t pixelBytes = static_cast<uint32_t>(prmLen);
  PutHeaders(out, 0, 32, pixelBytes, pixelBytes + kBitmapHeaderBytes);
  PutRowsReversed(out, prmData, prmLen / kIcon32RowBytes, kIcon32RowBytes);
  return out;
}

}  // namespace vantrel
