// The reference portal page (portal/portal.html, built in): the session-file and vantrel: links,
// and a whole session driven through the Vantrel browser extension where it is installed.
// "{{PARAMS_JSON}}" and "{{VANTREL_URL}}" are filled in when it is served.
#pragma once

namespace vantrel::testpeer {

extern const char kPortalHtml[];

}  // namespace vantrel::testpeer
