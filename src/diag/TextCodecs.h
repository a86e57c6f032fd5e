// Text routines shared by every subsystem: URL and host:port splitting, form-URL coding, Base64,
// hexadecimal dumps, and the conversion between program text (UTF-8) and the 8-bit wire text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

using TBytes = std::vector<uint8_t>;

// Skips the first seven characters (the "http://") and splits the rest.
void SplitURL(std::string_view prmURL, std::string& prmHost, int& prmPort, std::string& prmPath);
void SplitHostPort(std::string_view prmText, int prmDefPort, std::string& prmHost, int& prmPort);

std::string FormURLEncode(std::string_view prmText);
// Raises EBaseException on a malformed escape.
std::string FormURLDecode(std::string_view prmText);

std::string Base64Encode(const void* prmData, size_t prmLen);
inline std::string Base64Encode(std::string_view prmData) {
  return Base64Encode(prmData.data(), prmData.size());
}
// Raises EBaseException("sxeErrorCalcStreamLength") on a length that is not a multiple of 4.
TBytes Base64Decode(std::string_view prmText);

// Each character's code as upper-case hexadecimal with at least two digits.
std::string TextToHex(std::string_view prmText);
// Two upper-case hexadecimal digits per byte.
std::string BytesToHex(const void* prmData, size_t prmLen);

// True when the last three characters, upper-cased, are "CAB".
bool IsCabFile(std::string_view prmName);

// Program text (UTF-8) to the 8-bit text of the process locale's code set; characters the code
// set cannot hold become '?'. ASCII passes unchanged.
std::string ToAnsi(std::string_view prmUtf8);
// 8-bit text in the process locale's code set back to UTF-8; undecodable bytes become '?'.
std::string FromAnsi(std::string_view prmAnsi);

// Case-insensitive (ASCII) comparison and search helpers used across the system.
bool SameText(std::string_view a, std::string_view b);
size_t FindText(std::string_view prmHaystack, std::string_view prmNeedle, size_t prmFrom = 0);
std::string UpperCase(std::string_view prmText);
std::string LowerCase(std::string_view prmText);
std::string Trim(std::string_view prmText);
// Strict signed decimal (optional sign, digits only, fits 32 bits); false otherwise.
bool TryStrToInt(std::string_view prmText, int& prmValue);

// The value of one hexadecimal digit (either case); -1 for any other character.
constexpr int HexDigit(char prmChar) {
  if (prmChar >= '0' && prmChar <= '9') return prmChar - '0';
  if (prmChar >= 'a' && prmChar <= 'f') return prmChar - 'a' + 10;
  if (prmChar >= 'A' && prmChar <= 'F') return prmChar - 'A' + 10;
  return -1;
}

// Ports read from outside (a typed destination, the catalogue, an application server's answer).
// kNoPort marks one that must be refused where it would be used: never wrapped into the TCP
// range, never replaced by a default.
constexpr int kNoPort = 0;
constexpr bool IsTcpPort(int prmPort) {
  return prmPort >= 1 && prmPort <= 65535;
}
// The port prmText names, read as TryStrToInt reads: kNoPort for an integer outside 1..65535
// however long, prmDefault for text that is no integer (empty included).
int PortOr(std::string_view prmText, int prmDefault);

}  // namespace vantrel
