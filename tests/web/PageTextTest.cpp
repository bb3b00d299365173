// The pieces of the web interface that need no daemon: escaping, page names
// and keys, the host-name check, the posted-field parser, the cross-site
// check, and the pages built in-process against a real server registry in a
// temporary data folder (each test is its own process, so the registry and
// the folders start fresh).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "concurrency/Time.h"
#include "foundation/Clock.h"
#include "monitor/ServerManager.h"
#include "tests/web/WebTestSupport.h"
#include "web/FormHandler.h"
#include "web/CrossSite.h"
#include "web/HtmlEscape.h"
#include "web/PageFrame.h"
#include "web/PageKey.h"
#include "web/PageRouter.h"
#include "web/ServerListPage.h"
#include "web/ServerPages.h"

namespace Kelm {
namespace {

using Test::ExpectedFooter;
using Test::ExpectedHeader;
using Test::ExpectedListPage;
using Test::UnpolledRow;

constexpr uint32_t FIXED_NOW = 1765000000;

TEST(PageText, HtmlEscape)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"my-host.example.com", "my-host.example.com"},
        {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
        {"a&b", "a&amp;b"},
        {"&amp;", "&amp;amp;"},
        {"\"'", "&quot;&#39;"},
        {std::string("a\0b\xff", 4), std::string("a\0b\xff", 4)},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(HtmlEscape(text), expected) << text;
}

TEST(PageText, PageNames)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/index.html", "index"},
        {"/Details-Host-80.html", "details-host-80"},
        {"/a/b\\Add.html", "add"},
        {"/add.fv", "add"},
        {"/my-host.example.com.html", "my-host.example.com"},
        {"noext", "noext"},
        {"", ""},
    };
    for (const auto& [path, expected] : cases) EXPECT_EQ(GetPageName(path), expected) << path;
}

TEST(PageText, PageKeys)
{
    struct Case {
        const char* pageName;
        bool valid;
        const char* prefix;
        const char* name;
        int port;
    };
    const Case cases[] = {
        {"details-alpha-80", true, "details", "alpha", 80},
        {"delete-my-host.example.com-8080", true, "delete", "my-host.example.com", 8080},
        {"delete-a-b-c-080", true, "delete", "a-b-c", 80},
        {"route--80", true, "route", "", 80},
        {"custom-alpha-", true, "custom", "alpha", 0},
        {"custom-alpha-x1", true, "custom", "alpha", 0},
        {"export-alpha-12abc", true, "export", "alpha", 12},
        {"details-alpha--5", true, "details", "alpha-", 5},  // the port starts after the last "-"
        {"details-alpha-99999999999999", true, "details", "alpha", 2147483647},
        {"details-alpha", false, "", "", 0},
        {"detailsx", false, "", "", 0},
        {"", false, "", "", 0},
        {"-", false, "", "", 0},
    };
    for (const Case& c : cases) {
        PageKey key;
        ASSERT_EQ(ParsePageKey(c.pageName, key), c.valid) << c.pageName;
        if (!c.valid) continue;
        EXPECT_EQ(key.prefix, c.prefix) << c.pageName;
        EXPECT_EQ(key.name, c.name) << c.pageName;
        EXPECT_EQ(key.port, c.port) << c.pageName;
    }
    EXPECT_EQ(MakePageKey("my-host.example.com", 80), "my-host.example.com-80");
}

TEST(PageText, PortFromTextReadsLikeAtoi)
{
    const std::pair<const char*, int> cases[] = {
        {"80", 80},   {"080", 80},       {" 42", 42},           {"+7", 7},
        {"-3", -3},   {"12abc", 12},     {"abc", 0},            {"", 0},
        {"-", 0},     {"2147483647", 2147483647},               {"2147483648", 2147483647},
        {"-2147483648", -2147483647 - 1}, {"-99999999999999999999", -2147483647 - 1},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(PortFromText(text), expected) << text;
}

TEST(PageText, HostNameCheck)
{
    const std::pair<std::string, bool> cases[] = {
        {"alpha", true},
        {"my-host.example.com", true},
        {"Alpha.Example.COM", true},
        {"192.168.1.20", true},
        {"a", true},
        {"host-", true},
        {std::string(253, 'a'), true},
        {std::string(254, 'a'), false},
        {"", false},
        {"-alpha", false},
        {".alpha", false},
        {"my+host", false},
        {"my%2Dhost", false},
        {"my host", false},
        {"my_host", false},
        {"host/../x", false},
        {"<script>", false},
        {"h\xc3\xa9llo", false},
        {std::string("a\0b", 3), false},
    };
    for (const auto& [name, valid] : cases) EXPECT_EQ(IsValidHostName(name), valid) << name;
}

TEST(PageText, ParseArgs)
{
    struct Case {
        std::string args;
        PostedFields fields;
        std::string log;
    };
    const std::string prefix = "HTTP HANDLER: Unexpected format for arg: ";
    const Case cases[] = {
        {"server=alpha&submit=Add+Server", {{"server", "alpha"}, {"submit", "Add+Server"}}, ""},
        {"server=my%2Dhost", {{"server", "my%2Dhost"}}, ""},
        {"server=", {{"server", ""}}, ""},
        {"=x", {{"", "x"}}, ""},
        {"", {}, prefix + "\n"},
        {"a=1&&b=2", {{"a", "1"}, {"b", "2"}}, prefix + "\n"},
        {"a=1&junk&b=2=3&c=4", {{"a", "1"}, {"c", "4"}}, prefix + "junk\n" + prefix + "b=2=3\n"},
    };
    for (const Case& c : cases) {
        PostedFields fields;
        std::string log = Kelm::Test::CaptureLog([&] { fields = ParseArgs(c.args); });
        EXPECT_EQ(fields, c.fields) << c.args;
        EXPECT_EQ(log, c.log) << c.args;
    }
}

HttpRequest RequestWith(const std::vector<std::pair<std::string, std::string>>& headers)
{
    HttpRequest request;
    request.method = "POST";
    request.path = "/add.fv";
    request.headers = headers;
    return request;
}

TEST(PageText, CrossSiteCheck)
{
    struct Case {
        std::vector<std::pair<std::string, std::string>> headers;
        bool crossSite;
    };
    const Case cases[] = {
        {{}, false},
        {{{"host", "127.0.0.1:8080"}}, false},
        {{{"host", "127.0.0.1:8080"}, {"sec-fetch-site", "same-origin"}}, false},
        {{{"host", "127.0.0.1:8080"}, {"sec-fetch-site", "none"}}, false},
        {{{"host", "127.0.0.1:8080"}, {"sec-fetch-site", "same-site"}}, false},
        {{{"host", "127.0.0.1:8080"}, {"sec-fetch-site", "cross-site"}}, true},
        {{{"host", "127.0.0.1:8080"}, {"origin", "http://127.0.0.1:8080"}}, false},
        {{{"host", "LocalHost:8080"}, {"origin", "http://localhost:8080"}}, false},
        {{{"host", "localhost"}, {"origin", "http://localhost"}}, false},
        {{{"host", "localhost:80"}, {"origin", "http://localhost"}}, false},
        {{{"host", "[::1]:8080"}, {"origin", "http://[::1]:8080"}}, false},
        {{{"host", "127.0.0.1:8080"}, {"origin", "http://evil.example"}}, true},
        {{{"host", "127.0.0.1:8080"}, {"origin", "http://127.0.0.1:8081"}}, true},
        {{{"host", "127.0.0.1:8080"}, {"origin", "http://127.0.0.1"}}, true},
        {{{"host", "localhost"}, {"origin", "https://localhost"}}, true},
        {{{"host", "127.0.0.1:8080"}, {"origin", "null"}}, true},
        {{{"origin", "http://127.0.0.1:8080"}}, true},
        {{{"host", "[::1]:8080"}, {"origin", "http://[::1]:8081"}}, true},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const auto& [name, value] : c.headers) shown += name + ": " + value + "; ";
        EXPECT_EQ(IsCrossSiteRequest(RequestWith(c.headers)), c.crossSite) << shown;
    }
}

// Pages built in-process: a registry in a fresh data folder, the page clock
// fixed, the app folder known.
class InProcessPages : public testing::Test {
protected:
    Kelm::Test::FakeClock m_clock;
    void SetUp() override
    {
        setenv("FARVIEW_APP_DIR", m_app.Path().c_str(), 1);
        setenv("FARVIEW_DATA_DIR", m_data.Path().c_str(), 1);
        m_clock = FIXED_NOW;
        m_time = Time(FIXED_NOW).GetText();
    }

    ServerManager* Manager() { return Singleton<ServerManager>::Instance(); }
    std::string Header(bool refresh) { return ExpectedHeader(refresh, m_app.Path(), m_time); }

    Kelm::Test::TempDir m_app;
    Kelm::Test::TempDir m_data;
    std::string m_time;
};

TEST_F(InProcessPages, FrameAndErrorPage)
{
    EXPECT_EQ(PageHeader(false), Header(false));
    EXPECT_EQ(PageHeader(true), Header(true));
    EXPECT_EQ(PageFooter(), " </body> </html>\n");
    EXPECT_EQ(ErrorPage("detailsx"), Header(false) +
                                         "<b>I'm sorry, there has been an unexpected error.</b><br>\nThe request "
                                         "was: detailsx<br><br><a href=\"index.html\">Back to the server list</a>" +
                                         ExpectedFooter());
    EXPECT_EQ(ErrorPage("<b>x</b>").find("<b>x"), std::string::npos);
}

TEST_F(InProcessPages, ListAndDeletePagesFollowTheRegistry)
{
    EXPECT_EQ(ServerListPage(), ExpectedListPage(m_app.Path(), m_time, {}));
    ASSERT_TRUE(Manager()->AddServer(SharedPtr<Server>(new Server("beta", 8080))));
    ASSERT_TRUE(Manager()->AddServer(SharedPtr<Server>(new Server("a&b\"<x>", 80))));
    EXPECT_EQ(ServerListPage(), ExpectedListPage(m_app.Path(), m_time,
                                                 {UnpolledRow("beta", 8080, "beta-8080"),
                                                  UnpolledRow("a&amp;b&quot;&lt;x&gt;", 80,
                                                              "a&amp;b&quot;&lt;x&gt;-80")}));
    EXPECT_EQ(DeleteChoosePage(),
              Header(true) + "<table BORDER  CELLPADDING=2 CELLSPACING=0 > <tr> <td> <b>Server</b>  </td> </tr>" +
                  "<tr><td><a href=\"delete-beta-8080.html\">Delete beta port 8080</a></td></tr>" +
                  "<tr><td><a href=\"delete-a&amp;b&quot;&lt;x&gt;-80.html\">Delete a&amp;b&quot;&lt;x&gt; port "
                  "80</a></td></tr>" +
                  " </table><br><br><a href=\"index.html\">Cancel</a><br>" + ExpectedFooter());
    EXPECT_EQ(DeletePage("delete-beta"), ErrorPage("delete-beta"));
    EXPECT_EQ(BuildPage("delete-beta-08080"),
              Header(false) + "<b>Delete server<br> beta port 8080</b><br>This server was successfully deleted. The "
                              "time-series data has been retained, so you may re-add the server later.<br><br><a "
                              "href=\"index.html\">Back to server list</a>" +
                  ExpectedFooter());
    ASSERT_EQ(Manager()->GetServers().size(), 1u);
    EXPECT_EQ(Manager()->GetServers()[0]->GetName(), "a&b\"<x>");
}

TEST_F(InProcessPages, RouterRules)
{
    // Each rule with a page name that would also match a later rule.
    EXPECT_EQ(BuildPage("add"), AddServerPage());
    EXPECT_EQ(BuildPage("add2"), ServerListPage());
    EXPECT_EQ(BuildPage("details-del-choose"), ErrorPage("details-del-choose"));
    EXPECT_EQ(BuildPage("del-choose-delete"), DeleteChoosePage());
    EXPECT_EQ(BuildPage("delete"), ErrorPage("delete"));
    EXPECT_EQ(BuildPage("detailsx"), ErrorPage("detailsx"));
    EXPECT_EQ(BuildPage("index"), ServerListPage());
    EXPECT_EQ(BuildPage(""), ServerListPage());
    EXPECT_TRUE(PageChangesServerList("delete-alpha-80"));
    for (const char* name : {"add", "del-choose", "details-alpha-80", "index", "deletx"}) {
        EXPECT_FALSE(PageChangesServerList(name)) << name;
    }
}

TEST_F(InProcessPages, AddPostOutcomes)
{
    const std::string back = "<br><br><a href=\"index.html\">Back to the server list</a>" + ExpectedFooter();
    auto failed = [&](const std::string& description, const std::string& reason) {
        return Header(false) + "<b>Add Server " + description + "</b><br>I'm sorry, that server could not be "
                                                                "added.<br>\n" + reason + back;
    };
    EXPECT_EQ(AddServerPost({{"server", "alpha"}, {"submit", "Add+Server"}}),
              Header(false) + "<b>Add Server alpha port 80</b><br>This server was successfully added.\n" + back);
    EXPECT_EQ(AddServerPost({{"server", "ALPHA"}}), failed("ALPHA port 80", "This server is already monitored."));
    EXPECT_EQ(AddServerPost({{"submit", "Add+Server"}}),
              failed(" port 80", "A server name is 1 to 253 letters, digits, dots and hyphens, not beginning with a "
                                 "dot or a hyphen."));
    ASSERT_EQ(Manager()->GetServers().size(), 1u);

    // A list that cannot be saved: a folder stands where server.txt goes.
    std::filesystem::remove(m_data.File("server.txt"));
    std::filesystem::create_directories(m_data.File("server.txt/blocker"));
    EXPECT_EQ(AddServerPost({{"server", "beta"}}), failed("beta port 80", "The server list could not be saved."));
}

}  // namespace
}  // namespace Kelm
