// The index page: every listed server with its state, fault and the time it
// has been in that state, and the links to add and delete servers.
#pragma once

#include <string>

namespace Kelm {

std::string ServerListPage();

}  // namespace Kelm
