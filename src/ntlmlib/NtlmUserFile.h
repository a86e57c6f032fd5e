// Credentials of the logged-on user: on Linux there is no cached logon, so they come from the
// user file that gss-ntlmssp also reads (path in $NTLM_USER_FILE; lines "DOMAIN:USER:PASSWORD",
// the password running to the end of the line, '#' lines are comments).
#pragma once

#include <string>

namespace vantrel::ntlm {

struct TUserCredentials {
  std::string Domain;
  std::string User;
  std::string Password;
};

// The entry whose user name equals prmLoginName (ASCII case ignored), else the file's first
// entry. False when the file cannot be read or holds no entry.
bool ReadUserFileCredentials(const std::string& prmPath, const std::string& prmLoginName,
                             TUserCredentials& prmOut);

}  // namespace vantrel::ntlm
