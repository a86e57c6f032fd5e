// The fake ICA client of the tests: started as the real one is, `<program> <settings file>`, it
// reads the ICA settings file, checks its shape (CR LF lines, "[WFClient]" first, the
// application's "Address=" on the loopback), removes it when the file asks so, sends a piece to
// the address and reads it back through the tunnel, and appends one JSON line of what it found to
// the file named by VANTREL_FAKE_ICA_REPORT.
#pragma once

#include <map>
#include <string>

namespace vantrel::testpeer {

constexpr char kFakeIcaReportVar[] = "VANTREL_FAKE_ICA_REPORT";
// What the client sends; the ICA server behind the gateway echoes it.
constexpr char kFakeIcaPiece[] = "ICA\x7f fake client greeting";

struct TIcaSettings {
  std::map<std::string, std::string> Entries;  // "Name=value" lines, the last of a name wins
  std::string Error;                           // empty when the file has the expected shape
};

// Reads a settings file's text: every line must end with CR LF and the first be "[WFClient]";
// an "Address=" naming a loopback address and a port must be there.
TIcaSettings ReadIcaSettings(const std::string& prmText);

// vantrel-testpeer ica-client FILE; 0 when the bytes came back.
int RunFakeIcaClient(const std::string& prmFile);

}  // namespace vantrel::testpeer
