// The handler of every "fv" request: the form posts. The command is the
// request path's page name ("/add.fv" gives "add"); the posted fields are
// read by ParseArgs, which decodes nothing, so a field keeps its "+" and
// percent escapes exactly as the browser sent them.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "httpserver/HttpRequestHandler.h"

namespace Kelm {

using PostedFields = std::vector<std::pair<std::string, std::string>>;

class AppHttpHandleSpecial : public HttpRequestHandler {
public:
    ~AppHttpHandleSpecial() override = default;
    bool HandleRequest(const HttpRequest& request, Socket& socket) override;
};

// The "key=value" pairs of a body joined by "&", in order; a piece without
// exactly one "=" is logged and skipped.
PostedFields ParseArgs(const std::string& args);

// 1 to 253 letters, digits, "." and "-", not beginning with "." or "-".
// Dotted IPv4 addresses are of this form too.
bool IsValidHostName(const std::string& name);

// Adds the last posted "server" on port 80 and returns the page saying
// whether that worked.
std::string AddServerPost(const PostedFields& fields);

}  // namespace Kelm
