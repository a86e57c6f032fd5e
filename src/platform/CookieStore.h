// The browser's cookies as the session reads them: a Netscape-format cookie file (the one browsers
// and curl export) named by "CookieFile=" in settings.ini.
#pragma once

#include <ctime>
#include <string>

namespace vantrel {

// The cookies the store holds for prmURL as one header value ("a=1; b=2"), in file order: domain
// (exact, or a suffix when the entry allows subdomains), path prefix, secure only over https, not
// expired at prmNow. Empty when no file is configured, it cannot be read, or nothing matches.
std::string GetCookiesForURL(const std::string& prmURL, std::time_t prmNow = std::time(nullptr));

// The same over the given file text (for callers that hold it already, and for tests).
std::string CookiesFromNetscapeText(const std::string& prmText, const std::string& prmURL,
                                    std::time_t prmNow);

}  // namespace vantrel
