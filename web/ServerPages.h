// The pages that add and delete servers: the add form, the pages shown after
// an add (success or failure), the list of delete links, and the delete page,
// which deletes when it is requested. The add form's post is handled by
// AppHttpHandleSpecial.
#pragma once

#include <string>

namespace Kelm {

std::string AddServerPage();
// description: plain text such as "alpha port 80"; the pages escape it.
std::string AddServerResultPage(const std::string& description);
// reason: one sentence of our own saying why the server was not added.
std::string AddServerFailedPage(const std::string& description, const std::string& reason);
std::string DeleteChoosePage();
// pageName: "delete-" + host name + "-" + port, as the router passes it.
std::string DeletePage(const std::string& pageName);

}  // namespace Kelm
