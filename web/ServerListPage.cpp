// See ServerListPage.h. The list is a copy taken from the registry; each row
// reads its server through the server's own locked getters, so a row may
// mix the values of two consecutive polls, never half-written ones.
#include "web/ServerListPage.h"

#include "foundation/Strings.h"
#include "monitor/PollSample.h"
#include "monitor/ServerManager.h"
#include "web/HtmlEscape.h"
#include "web/PageFrame.h"
#include "web/PageKey.h"

namespace Kelm {

namespace {

std::string ServerRow(Server& server)
{
    std::string stateWord;
    std::string faultText;
    GetStatusText(server.GetStatus(), stateWord, faultText, server.GetRouterAddress());
    std::string name = HtmlEscape(server.GetName());
    std::string port = ToString(server.GetPort());
    return "<tr><td>" + name + " Port " + port + "</td><td>" + stateWord + "</td><td>" + faultText + "</td><td>" +
           server.GetStateDuration().GetText() + "</td> <td> <a href=\"" + "details-" +
           HtmlEscape(MakePageKey(server.GetName(), server.GetPort())) + ".html" +
           "\">Details...</a> </td> </tr>";
}

}  // namespace

std::string ServerListPage()
{
    std::vector<SharedPtr<Server>> servers = Singleton<ServerManager>::Instance()->GetServers();
    std::string page = PageHeader(!servers.empty());
    if (servers.empty()) {
        page += "<b>Welcome to Farview!</b><br>Currently you are not monitoring any servers.";
    } else {
        page += "<table BORDER  CELLPADDING=2 CELLSPACING=0 >";
        page += " <tr> <td><b>Server name  </b> </td> <td><b>Status</b> </td><td><b>Fault</b></td> <td><b> "
                "Time</b> </td> <td> </td> </tr>";
        for (const SharedPtr<Server>& server : servers) page += ServerRow(*server);
        page += " </table>";
    }
    page += "<br><br><a href=\"add.html\">Add a new server</a>";
    if (!servers.empty()) page += "<br><a href=\"del-choose.html\">Delete a server</a>";
    page += "<br>" + PageFooter();
    return page;
}

}  // namespace Kelm
