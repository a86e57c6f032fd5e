// Which web origins may open sessions through the browser extension. The host alone decides:
// the extension only reports the calling tab's origin. An origin is "scheme://host[:port]" and
// is compared exactly, after lower-casing scheme and host only (a browser leaves the default
// port out, so an administrator lists it that way too).
//
// Allowed are the origins an administrator lists (VANTREL_ALLOWED_PORTALS in the environment,
// AllowedPortals= in settings.ini, both blank-separated) and those the user allowed before,
// remembered in $XDG_CONFIG_HOME/vantrel/portals (one per line, a per-user store: UserStore.h).
// Any other https origin may be put to the user once; plain http is never asked or remembered.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vantrel::host {

// prmText as compared (scheme and host lower-cased), or empty when it is no origin: no scheme or
// host, a path (a trailing slash too), a query, user information, a bad port, a blank.
std::string NormalizeOrigin(const std::string& prmText);

// The origins of a blank-separated list; an entry that is no origin is logged with prmSource
// and left out.
std::vector<std::string> OriginList(const std::string& prmText, const std::string& prmSource);

// The administrator's origins: the environment's list and settings.ini's together.
std::vector<std::string> AdminPortals();

class TPortalStore {
 public:
  // prmPath empty: $XDG_CONFIG_HOME/vantrel/portals.
  explicit TPortalStore(std::string prmPath = {});

  // The remembered origins. True when the file is missing or usable; false with the reason when
  // it cannot be trusted or holds a line that is no origin (nothing in it counts then).
  bool Load(std::vector<std::string>& prmOut, std::string& prmError) const;
  // Adds an https origin. False with the reason for any other origin or an unusable file.
  bool Remember(const std::string& prmOrigin, std::string& prmError) const;

 private:
  std::string m_Path;
};

// Answers whether the user allows prmOrigin (already normalised, https); null when nobody can be
// asked (no display).
using TAskPortal = std::function<bool(const std::string& prmOrigin)>;

// Decides for prmOrigin as given by the browser: listed, remembered, or asked (https only) and
// then remembered. Every decision is logged.
bool IsPortalAllowed(const std::string& prmOrigin, const TPortalStore& prmStore,
                     const TAskPortal& prmAsk);

}  // namespace vantrel::host
