// Refusal of list changes started by another web site. A page elsewhere can
// make the administrator's browser post to add.fv or open a delete page;
// browsers mark such requests, and those marks are what is checked here.
// Requests without the marks (command-line clients) are served.
#pragma once

#include <string>

#include "httpserver/HttpRequestHandler.h"

namespace Kelm {

// True when the request says "Sec-Fetch-Site: cross-site", or carries an
// Origin whose host and port differ from its Host header (a missing Host
// header differs from every Origin).
bool IsCrossSiteRequest(const HttpRequest& request);

// The short page sent with status 403 instead.
std::string CrossSiteRefusalPage();

}  // namespace Kelm
