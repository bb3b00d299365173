// See CrossSite.h. Origin is "scheme://host[:port]" (or "null" for an opaque
// origin, which matches no Host); Host is "host[:port]". Missing ports are
// the scheme's default; the daemon speaks plain HTTP, so a Host without a
// port means 80. Host names compare without regard to case.
#include "web/CrossSite.h"

#include "foundation/Strings.h"

namespace Kelm {

namespace {

struct Authority {
    std::string host;
    std::string port;
};

// "host", "host:port", "[v6]" or "[v6]:port".
Authority SplitAuthority(const std::string& text, const std::string& defaultPort)
{
    Authority authority{text, defaultPort};
    size_t colon = text.rfind(':');
    size_t bracket = text.rfind(']');
    if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
        authority.host = text.substr(0, colon);
        authority.port = text.substr(colon + 1);
    }
    authority.host = ToLower(authority.host);
    return authority;
}

bool OriginMatchesHost(const std::string& origin, const std::string& host)
{
    size_t schemeEnd = origin.find("://");
    if (schemeEnd == std::string::npos || host.empty()) return false;
    std::string scheme = ToLower(origin.substr(0, schemeEnd));
    std::string rest = origin.substr(schemeEnd + 3);
    size_t slash = rest.find('/');
    if (slash != std::string::npos) rest.resize(slash);
    Authority fromOrigin = SplitAuthority(rest, scheme == "https" ? "443" : "80");
    Authority fromHost = SplitAuthority(host, "80");
    return fromOrigin.host == fromHost.host && fromOrigin.port == fromHost.port;
}

}  // namespace

bool IsCrossSiteRequest(const HttpRequest& request)
{
    if (ToLower(request.GetHeader("Sec-Fetch-Site")) == "cross-site") return true;
    std::string origin = request.GetHeader("Origin");
    if (origin.empty()) return false;
    return !OriginMatchesHost(origin, request.GetHeader("Host"));
}

std::string CrossSiteRefusalPage()
{
    return "<html><head><title>Farview</title></head><body>"
           "Refused: the server list is not changed on behalf of another web site."
           "</body></html>\n";
}

}  // namespace Kelm
