// vantrel-mstsc: the RDP client program the control starts on a connection file. It hands the
// file to xfreerdp and the credentials on xfreerdp's standard input, never on its command line.
#pragma once

#include <string>
#include <vector>

namespace vantrel::mstsc {

// What the connection file says about the sign-in, and the file without those entries.
struct TConnection {
  std::string UserName;
  std::string Domain;
  std::string Password;
  bool PasswordUnreadable = false;  // a password entry was there but did not unprotect
  bool RemoteApp = false;           // "remoteapplicationmode:i:1": xfreerdp runs a remote app
  std::string ClientFile;           // the entries for xfreerdp, CR LF lines, UTF-8
};

// Splits a connection file's bytes. The sign-in entries are left out of ClientFile: xfreerdp
// asks for user name, domain and password only when its file does not set them, and the answers
// on standard input must meet all three questions in that order. xfreerdp reads a remote
// application's program and name from the file itself; the application's "alternate shell" and
// integer entries that are not numbers are left out, as xfreerdp would refuse them.
TConnection ReadConnection(const std::string& prmBytes);

// "[/admin] file.rdp" in either order; false for anything else.
bool ParseArgs(const std::vector<std::string>& prmArgs, bool& prmAdmin, std::string& prmFile);

// The xfreerdp command line for the client file.
std::vector<std::string> XfreerdpArgs(const std::string& prmProgram, const std::string& prmFile,
                                      bool prmAdmin);

// The whole run; returns the exit code (xfreerdp's own, or 2 for a usage or file error, 127 when
// xfreerdp cannot be found or started). Messages go to standard error.
int RunMstsc(const std::vector<std::string>& prmArgs);

}  // namespace vantrel::mstsc
