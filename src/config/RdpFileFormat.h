// The lines of an RDP connection file, "name:type:value", as the launcher writes them and the RDP
// client program reads them back. Pure: bytes in, bytes out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// The sign-in entries, which the RDP client program takes out of the file it hands on.
inline constexpr std::string_view kRdpUserNameKey = "username";
inline constexpr std::string_view kRdpDomainKey = "domain";
inline constexpr std::string_view kRdpPasswordKey = "password 51";

// One entry of a connection file.
struct TRdpEntry {
  std::string Name;
  char Type = 's';  // 'i', 's' or 'b'
  std::string Value;
};

// "name:type:value" and CR LF, the bytes exactly as given.
std::string FormatRdpEntry(const TRdpEntry& prmEntry);

// One line without its line end. False, and prmEntry untouched, unless the line is
// "name:type:value" with a known type.
bool ParseRdpLine(std::string_view prmLine, TRdpEntry& prmEntry);

// Reads a connection file's bytes: UTF-16LE with its byte-order mark, UTF-8 with or without one,
// or the locale's 8-bit text. Lines that ParseRdpLine refuses are skipped.
std::vector<TRdpEntry> ParseRdpFile(std::string_view prmBytes);

// Builds a connection file: entries in the order they are added, CR LF line ends, values in the
// 8-bit code set of the process locale.
class TRdpFileWriter {
 public:
  // A line break inside a value (a user name, a folder) is dropped: it would otherwise add
  // entries of its own to the file.
  void Add(const TRdpEntry& prmEntry);
  void Int(std::string_view prmName, int prmValue);
  void Text(std::string_view prmName, std::string_view prmValue);
  std::string Take() { return std::move(m_Out); }

 private:
  std::string m_Out;
};

// UTF-8 <-> UTF-16LE bytes. Invalid sequences become U+FFFD.
std::string Utf8ToUtf16LE(std::string_view prmUtf8);
std::string Utf16LEToUtf8(std::string_view prmUtf16);

}  // namespace vantrel
