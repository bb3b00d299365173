// The page router: which page a page name (see GetPageName) asks for. The
// rules are tried in order and the first match wins, so "details" is tested
// before "del-choose" and "del-choose" before "delete"; a name no rule
// matches gives the server list, never an error.
#pragma once

#include <string>

namespace Kelm {

std::string BuildPage(const std::string& pageName);

// True when building that page changes the server list (the delete page),
// so a cross-site request for it must be refused before it is built.
bool PageChangesServerList(const std::string& pageName);

}  // namespace Kelm
