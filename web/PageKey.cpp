// See PageKey.h.
#include "web/PageKey.h"

#include <cctype>
#include <climits>

#include "foundation/Strings.h"
#include "monitor/ServerManager.h"

namespace Kelm {

bool ParsePageKey(const std::string& pageName, PageKey& key)
{
    size_t first = pageName.find('-');
    size_t last = pageName.rfind('-');
    if (first == std::string::npos || first == last) return false;
    key.prefix = pageName.substr(0, first);
    key.name = pageName.substr(first + 1, last - first - 1);
    key.port = PortFromText(pageName.substr(last + 1));
    return true;
}

std::string MakePageKey(const std::string& name, int port)
{
    return name + "-" + ToString(port);
}

SharedPtr<Server> FindKeyedServer(const PageKey& key)
{
    return Singleton<ServerManager>::Instance()->GetServer(key.name, key.port);
}

int PortFromText(const std::string& text)
{
    size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    long long value = 0;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    if (value < INT_MIN) value = INT_MIN;
    return static_cast<int>(value);
}

}  // namespace Kelm
