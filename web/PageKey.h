// Page keys: the pages about one server are named prefix + "-" + host name +
// "-" + port ("details-alpha-80", "delete-my-host.example.com-80"). Every
// keyed page reads its name with ParsePageKey, so all of them agree.
//
// The prefix ends at the first "-" and the port starts after the last one;
// the host name is everything between, so host names containing "-" keep
// working. Page names arrive lowered; the server registry compares host
// names without regard to case, so a server stored as "Alpha" is still found.
#pragma once

#include <string>

#include "foundation/Shareable.h"
#include "monitor/Server.h"

namespace Kelm {

struct PageKey {
    std::string prefix;
    std::string name;
    int port = 0;
};

// False when the page name has fewer than three "-"-separated pieces.
bool ParsePageKey(const std::string& pageName, PageKey& key);

// Host name, "-", port: what follows prefix + "-" in a link to a keyed page.
// The name is not escaped; pages escape the whole link target.
std::string MakePageKey(const std::string& name, int port);

// The listed server the key names, or null.
SharedPtr<Server> FindKeyedServer(const PageKey& key);

// Decimal text to a port as atoi reads it (leading blanks, a sign, digits,
// anything after ignored, 0 without digits), but clamped to the int range
// instead of overflowing.
int PortFromText(const std::string& text);

}  // namespace Kelm
