// The frame every page of the web interface shares: the page name taken from
// a request path, the header (title, images, version, the time of the page)
// and footer, and the page shown for any unexpected request.
//
// Every page is PageHeader(...) + its own body + PageFooter(), built fresh
// for each request; nothing is cached.
#pragma once

#include <string>

namespace Kelm {

// The request path without folders and extension, lowered:
// "/Details-Host-80.html" gives "details-host-80".
std::string GetPageName(const std::string& path);

// Asks the browser to reload the page every minute when refresh is true.
std::string PageHeader(bool refresh);
std::string PageFooter();

// A whole page saying the request (shown escaped) could not be served.
std::string ErrorPage(const std::string& request);

}  // namespace Kelm
