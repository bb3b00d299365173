// See PageRouter.h. The details, traceroute, custom report and export pages
// are built by the reporting side; until they exist their rules answer the
// error page with the page name, as for a server that is not listed.
#include "web/PageRouter.h"

#include "foundation/Strings.h"
#include "web/PageFrame.h"
#include "web/ServerListPage.h"
#include "web/ServerPages.h"

namespace Kelm {

namespace {

struct PageRule {
    const char* text;
    bool exact;        // equal to the text, else beginning with it
    bool changesList;  // refused when cross-site
    std::string (*build)(const std::string& pageName);
};

std::string PendingReportPage(const std::string& pageName)
{
    return ErrorPage(pageName);
}

const PageRule PAGE_RULES[] = {
    {"add", true, false, [](const std::string&) { return AddServerPage(); }},
    {"details", false, false, &PendingReportPage},
    {"del-choose", false, false, [](const std::string&) { return DeleteChoosePage(); }},
    {"delete", false, true, &DeletePage},
    {"custom", false, false, &PendingReportPage},
    {"route", false, false, &PendingReportPage},
    {"export", false, false, &PendingReportPage},
};

const PageRule* FindRule(const std::string& pageName)
{
    for (const PageRule& rule : PAGE_RULES) {
        if (rule.exact ? pageName == rule.text : StartsWith(pageName, rule.text)) return &rule;
    }
    return nullptr;
}

}  // namespace

std::string BuildPage(const std::string& pageName)
{
    const PageRule* rule = FindRule(pageName);
    return rule ? rule->build(pageName) : ServerListPage();
}

bool PageChangesServerList(const std::string& pageName)
{
    const PageRule* rule = FindRule(pageName);
    return rule && rule->changesList;
}

}  // namespace Kelm
