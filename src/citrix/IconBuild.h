// The icon files the XenApp service's icon data become: a 16-colour 32 x 32 icon from the "Icon"
// element's letters, and a 32-bit one from "IconData". Pure byte builders; the layout is the
// single-image icon file (little-endian directory, bitmap header, rows bottom first).
#pragma once

#include <cstddef>
#include <string_view>

#include "diag/TextCodecs.h"

namespace vantrel {

// The 16-colour icon's data: a 128-byte AND mask then 512 bytes of 4-bit colour indexes, both 32
// rows with the top row first.
constexpr size_t kIcon16DataBytes = 640;
constexpr size_t kIcon16FileBytes = 766;
// The most "IconData" bytes taken (a 32 x 32 icon needs 4096).
constexpr size_t kIcon32MaxDataBytes = 5124;
constexpr size_t kIcon32RowBytes = 128;

// The "Icon" element's text as bytes: each pair of letters "A" to "P" is one byte, the first
// letter its high nibble. False (prmBytes emptied) on any other character or an odd count.
bool DecodeIconLetters(std::string_view prmText, TBytes& prmBytes);

// The icon file of prmData (kIcon16DataBytes bytes).
TBytes BuildIcon16(const uint8_t* prmData);
// The icon file of prmLen bytes of 32-bit pixels, rows of kIcon32RowBytes top first; the rows
// are written bottom first, no mask follows. prmLen must be a whole number of rows.
TBytes BuildIcon32(const uint8_t* prmData, size_t prmLen);

}  // namespace vantrel
