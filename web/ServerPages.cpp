// See ServerPages.h. The example names on the add page are under
// example.com, a domain reserved for examples, so nobody's real server is
// polled by an administrator who just presses the button.
#include "web/ServerPages.h"

#include <vector>

#include "foundation/Strings.h"
#include "monitor/ServerManager.h"
#include "web/HtmlEscape.h"
#include "web/PageFrame.h"
#include "web/PageKey.h"

namespace Kelm {

namespace {

constexpr const char* EXAMPLE_SERVER = "www.example.com";
constexpr const char* EXAMPLE_FIELD_VALUE = "www.example.com";

}  // namespace

std::string AddServerPage()
{
    return PageHeader(false) + "<b>Add a Server</b><br>Type in the web server name.<br>For example, " +
           EXAMPLE_SERVER + " is a server name.<br><br>\n" + "<form action=\"add.fv\" method=\"post\">" +
           "<table cellspacing=\"0\" cellpadding=\"2\"> <tr> <td valign=\"bottom\" align=\"center\"> <input "
           "type=\"text\" name=\"server\" value=\"" +
           EXAMPLE_FIELD_VALUE +
           "\" size=30 > </td> <td valign=\"bottom\"> <input type=\"submit\" value=\"Add Server\" "
           "name=\"submit\"> </td></tr> </table> </center> </form>" +
           "<br><br><a href=\"index.html\">Cancel</a>" + PageFooter();
}

std::string AddServerResultPage(const std::string& description)
{
    return PageHeader(false) + "<b>Add Server " + HtmlEscape(description) +
           "</b><br>This server was successfully added.\n" +
           "<br><br><a href=\"index.html\">Back to the server list</a>" + PageFooter();
}

std::string AddServerFailedPage(const std::string& description, const std::string& reason)
{
    return PageHeader(false) + "<b>Add Server " + HtmlEscape(description) +
           "</b><br>I'm sorry, that server could not be added.<br>\n" + HtmlEscape(reason) +
           "<br><br><a href=\"index.html\">Back to the server list</a>" + PageFooter();
}

std::string DeleteChoosePage()
{
    std::string page = PageHeader(true);
    page += "<table BORDER  CELLPADDING=2 CELLSPACING=0 >";
    page += " <tr> <td> <b>Server</b>  </td> </tr>";
    for (const SharedPtr<Server>& server : Singleton<ServerManager>::Instance()->GetServers()) {
        page += "<tr><td><a href=\"delete-" + HtmlEscape(MakePageKey(server->GetName(), server->GetPort())) +
                ".html\">Delete " + HtmlEscape(server->GetName()) + " port " + ToString(server->GetPort()) +
                "</a></td>" + "</tr>";
    }
    page += " </table>";
    page += "<br><br><a href=\"index.html\">Cancel</a>";
    page += "<br>" + PageFooter();
    return page;
}

std::string DeletePage(const std::string& pageName)
{
    PageKey key;
    if (!ParsePageKey(pageName, key)) return ErrorPage(pageName);

    std::string page = PageHeader(false) + "<b>Delete server<br> " + HtmlEscape(key.name) + " port " +
                       ToString(key.port) + "</b><br>";
    if (Singleton<ServerManager>::Instance()->DeleteServer(key.name, key.port)) {
        page += "This server was successfully deleted. The time-series data has been retained, so you may re-add "
                "the server later.<br>";
    } else {
        page += "I'm sorry, there was an error deleting the server.<br>";
    }
    page += "<br><a href=\"index.html\">Back to server list</a>" + PageFooter();
    return page;
}

}  // namespace Kelm
