// The handler of every "html" request: the page router's page for the
// request path, sent as one text/html answer. One instance serves all HTTP
// workers; it keeps nothing between requests.
#pragma once

#include "httpserver/HttpRequestHandler.h"

namespace Kelm {

class AppHttpHandleHtml : public HttpRequestHandler {
public:
    ~AppHttpHandleHtml() override = default;
    bool HandleRequest(const HttpRequest& request, Socket& socket) override;
};

}  // namespace Kelm
