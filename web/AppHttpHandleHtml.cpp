// See AppHttpHandleHtml.h. The delete page deletes when it is requested, so
// a request for it that another web site started is refused with 403 before
// the page is built.
#include "web/AppHttpHandleHtml.h"

#include "foundation/Log.h"
#include "web/CrossSite.h"
#include "web/PageFrame.h"
#include "web/PageRouter.h"

namespace Kelm {

bool AppHttpHandleHtml::HandleRequest(const HttpRequest& request, Socket& socket)
{
    std::string pageName = GetPageName(request.path);
    if (PageChangesServerList(pageName) && IsCrossSiteRequest(request)) {
        Log("** Refused a cross-site request for " + pageName + "\n");
        return SendAnswer(socket, 403, "text/html", CrossSiteRefusalPage());
    }
    return SendAnswer(socket, 200, "text/html", BuildPage(pageName));
}

}  // namespace Kelm
