// See PageFrame.h. The images are linked by their absolute path in the app
// folder; the HTTP server serves that folder's files as they are asked for.
#include "web/PageFrame.h"

#include "concurrency/Time.h"
#include "foundation/Locations.h"
#include "foundation/Strings.h"
#include "web/HtmlEscape.h"

namespace Kelm {

std::string GetPageName(const std::string& path)
{
    return ToLower(GetFileNoExt(StripPath(path)));
}

std::string PageHeader(bool refresh)
{
    // The app folder path comes from the environment when set; escaped like
    // any outside text, it stays unchanged for ordinary folder names.
    std::string images = HtmlEscape(GetAppFolder());
    std::string page = "<html><head><title>Farview</title>";
    if (refresh) page += "<META HTTP-EQUIV=REFRESH CONTENT=\"60\">";
    page += "</head> <body> <BODY TEXT=\"#000000\" LINK=\"#0000ff\" VLINK=\"#ff00ff\" BGCOLOR=\"#ffffff\">";
    page += "<font face=\"Arial, Helvetica\">";
    page += "<img src=\"" + images + "fv1.png\">";
    page += "<img src=\"" + images + "title.png\"><br>";
    page += "<b>Version 1.0</b><br><br>";
    page += Time().GetText();
    page += "<br>";
    if (refresh) page += "<font size=1>This page will auto refresh after 1 minute.</font><br>";
    page += "<br>";
    return page;
}

std::string PageFooter()
{
    return " </body> </html>\n";
}

std::string ErrorPage(const std::string& request)
{
    return PageHeader(false) + "<b>I'm sorry, there has been an unexpected error.</b><br>\n" +
           "The request was: " + HtmlEscape(request) +
           "<br><br><a href=\"index.html\">Back to the server list</a>" + PageFooter();
}

}  // namespace Kelm
