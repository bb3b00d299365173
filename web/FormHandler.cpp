// See FormHandler.h. The add post checks the host name before
// anything is made: the name becomes part of a file name and of every page
// that lists the server, so only plain host names and addresses get in.
#include "web/FormHandler.h"

#include <cctype>
#include <climits>

#include "foundation/Log.h"
#include "foundation/Shareable.h"
#include "foundation/Strings.h"
#include "monitor/ServerData.h"
#include "web/Command.h"
#include "web/CommandHistory.h"
#include "web/CrossSite.h"
#include "web/PageFrame.h"
#include "web/ServerPages.h"

namespace Kelm {

namespace {

// Servers added from the browser always use the web port.
constexpr int ADD_PORT = 80;
constexpr size_t MAX_HOST_NAME = 253;

constexpr const char* REASON_BAD_NAME =
    "A server name is 1 to 253 letters, digits, dots and hyphens, not beginning with a dot or a hyphen.";
constexpr const char* REASON_TOO_LONG = "That server name is too long for the file that keeps its history.";
constexpr const char* REASON_ALREADY_LISTED = "This server is already monitored.";
constexpr const char* REASON_NOT_SAVED = "The server list could not be saved.";

}  // namespace

bool AppHttpHandleSpecial::HandleRequest(const HttpRequest& request, Socket& socket)
{
    std::string command = GetPageName(request.path);
    std::string page;
    if (command == "add") {
        Log("** Adding server\n");
        if (IsCrossSiteRequest(request)) {
            Log("** Refused a cross-site request to add a server\n");
            return SendAnswer(socket, 403, "text/html", CrossSiteRefusalPage());
        }
        page = AddServerPost(ParseArgs(request.args));
    } else {
        Log("** Unknown command\n");
        page = ErrorPage(request.path);
    }
    return SendAnswer(socket, 200, "text/html", page);
}

PostedFields ParseArgs(const std::string& args)
{
    PostedFields fields;
    for (const std::string& piece : Split(args, '&')) {
        std::vector<std::string> parts = Split(piece, '=');
        if (parts.size() == 2) {
            fields.emplace_back(parts[0], parts[1]);
        } else {
            Log("HTTP HANDLER: Unexpected format for arg: " + piece + "\n");
        }
    }
    return fields;
}

bool IsValidHostName(const std::string& name)
{
    if (name.empty() || name.size() > MAX_HOST_NAME) return false;
    if (name[0] == '.' || name[0] == '-') return false;
    for (char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') return false;
    }
    return true;
}

std::string AddServerPost(const PostedFields& fields)
{
    std::string hostName;
    for (const auto& [key, value] : fields) {
        if (key == "server") hostName = value;
    }
    std::string description = hostName + " port " + ToString(ADD_PORT);
    if (!IsValidHostName(hostName)) return AddServerFailedPage(description, REASON_BAD_NAME);
    // The samples go to a file named after the server; a name the file
    // system cannot hold would lose every sample.
    if (ServerData::FileName(hostName, ADD_PORT).size() > NAME_MAX) {
        return AddServerFailedPage(description, REASON_TOO_LONG);
    }

    SharedPtr<CommandAddServer> add(new CommandAddServer(hostName, ADD_PORT));
    Singleton<CommandHistory>::Instance()->Do(add);
    if (add->GetResult()) return AddServerResultPage(description);
    bool listed = add->GetFailure() == CommandAddServer::FAILURE_ALREADY_LISTED;
    return AddServerFailedPage(description, listed ? REASON_ALREADY_LISTED : REASON_NOT_SAVED);
}

}  // namespace Kelm
