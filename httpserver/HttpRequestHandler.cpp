// The handler registry: one process-wide map from exact extension to
// handler. It is filled at start-up before any worker exists and only read
// afterwards, so lookups take no lock; each lookup hands out a counted
// reference, so a handler stays alive for as long as a request uses it.
#include "httpserver/HttpRequestHandler.h"

#include <map>

#include "foundation/Strings.h"

namespace Kelm {

namespace {

std::map<std::string, SharedPtr<HttpRequestHandler>>& Registry()
{
    // Released at exit, with the handlers it holds.
    static std::map<std::string, SharedPtr<HttpRequestHandler>> s_handlers;
    return s_handlers;
}

}  // namespace

std::string HttpRequest::GetHeader(const std::string& name) const
{
    std::string wanted = ToLower(name);
    for (const auto& [headerName, value] : headers) {
        if (headerName == wanted) return value;
    }
    return "";
}

void RegisterHandler(const std::string& extension, HttpRequestHandler* handler)
{
    Registry()[extension] = handler;
}

SharedPtr<HttpRequestHandler> FindHandler(const std::string& extension)
{
    auto& handlers = Registry();
    auto found = handlers.find(extension);
    if (found == handlers.end()) return nullptr;
    return found->second;
}

}  // namespace Kelm
