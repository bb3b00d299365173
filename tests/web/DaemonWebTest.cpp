// The web interface of the real daemon, spoken to over HTTP: the server
// list, adding through the form post, deleting, the router's choices, the
// escaping of outside text and the refusal of cross-site changes. Pages are
// compared whole, with the time text and the app folder filled in.
#include <gtest/gtest.h>

#include "concurrency/Time.h"
#include "tests/web/WebTestSupport.h"

namespace Kelm {
namespace {

using Test::BodyOf;
using Test::ExpectedFooter;
using Test::ExpectedHeader;
using Test::ExpectedListPage;
using Test::StatusOf;
using Test::TimeTextOf;
using Test::UnpolledRow;
using Test::WebDaemon;

const std::string ADD_ALPHA = "server=alpha&submit=Add+Server";
const std::string BACK_TO_LIST = "<br><br><a href=\"index.html\">Back to the server list</a>";

// Checks the answer is a 200 page whose body equals what `expected` builds
// from the page's own time text (checked to be the time of the request).
class PageCheck {
public:
    explicit PageCheck(WebDaemon& daemon) : m_daemon(daemon) {}

    template <class Build>
    void Expect(const std::string& answer, uint32_t from, Build expected, const std::string& what)
    {
        SCOPED_TRACE(what);
        uint32_t to = Time().GetSeconds();
        EXPECT_EQ(StatusOf(answer), 200) << answer;
        std::string body = BodyOf(answer);
        std::string timeText = TimeTextOf(body);
        EXPECT_TRUE(Kelm::Test::IsTimeTextBetween(timeText, from, to)) << "time text '" << timeText << "'";
        EXPECT_EQ(body, expected(timeText));
        EXPECT_EQ(body.find("<script"), std::string::npos) << "unescaped outside text in\n" << body;
    }

    void Get(const std::string& path, const std::function<std::string(const std::string&)>& expected)
    {
        uint32_t from = Time().GetSeconds();
        Expect(m_daemon.Get(path), from, expected, "GET " + path);
    }

    void Post(const std::string& path, const std::string& body,
              const std::function<std::string(const std::string&)>& expected)
    {
        uint32_t from = Time().GetSeconds();
        Expect(m_daemon.Post(path, body), from, expected, "POST " + path + " " + body);
    }

private:
    WebDaemon& m_daemon;
};

std::string ErrorPageText(const std::string& app, const std::string& time, const std::string& request)
{
    return ExpectedHeader(false, app, time) + "<b>I'm sorry, there has been an unexpected error.</b><br>\n" +
           "The request was: " + request + BACK_TO_LIST + ExpectedFooter();
}

std::string AddedPage(const std::string& app, const std::string& time, const std::string& description)
{
    return ExpectedHeader(false, app, time) + "<b>Add Server " + description +
           "</b><br>This server was successfully added.\n" + BACK_TO_LIST + ExpectedFooter();
}

std::string AddFailedPage(const std::string& app, const std::string& time, const std::string& description,
                          const std::string& reason)
{
    return ExpectedHeader(false, app, time) + "<b>Add Server " + description +
           "</b><br>I'm sorry, that server could not be added.<br>\n" + reason + BACK_TO_LIST + ExpectedFooter();
}

std::string DeletedPage(const std::string& app, const std::string& time, const std::string& heading, bool deleted)
{
    return ExpectedHeader(false, app, time) + "<b>Delete server<br> " + heading + "</b><br>" +
           (deleted ? "This server was successfully deleted. The time-series data has been retained, so you may "
                      "re-add the server later.<br>"
                    : "I'm sorry, there was an error deleting the server.<br>") +
           "<br><a href=\"index.html\">Back to server list</a>" + ExpectedFooter();
}

std::string DeleteChooseText(const std::string& app, const std::string& time, const std::vector<std::string>& rows)
{
    std::string page = ExpectedHeader(true, app, time) +
                       "<table BORDER  CELLPADDING=2 CELLSPACING=0 > <tr> <td> <b>Server</b>  </td> </tr>";
    for (const std::string& row : rows) page += row;
    return page + " </table><br><br><a href=\"index.html\">Cancel</a><br>" + ExpectedFooter();
}

#define START_DAEMON(daemon, ...)                                    \
    if (!Kelm::Test::IsRoot()) GTEST_SKIP() << "needs root to run the daemon in a network namespace"; \
    WebDaemon daemon(WebDaemon::Setup{__VA_ARGS__});                 \
    ASSERT_TRUE(daemon.IsReady()) << daemon.GetError();              \
    const std::string app = daemon.App().Path();                     \
    PageCheck check(daemon)

TEST(DaemonWeb, EmptyListThenAddAndDeleteThroughTheForms)
{
    START_DAEMON(daemon, .serverList = "", .files = {"v1.0-alpha-80.dat"});
    const std::string dataFile = daemon.Data().Read("v1.0-alpha-80.dat");

    check.Get("/index.html", [&](const std::string& t) { return ExpectedListPage(app, t, {}); });
    check.Post("/add.fv", ADD_ALPHA, [&](const std::string& t) { return AddedPage(app, t, "alpha port 80"); });
    EXPECT_TRUE(daemon.Process().WaitForOutput("** Adding server\n"));
    check.Get("/index.html", [&](const std::string& t) {
        return ExpectedListPage(app, t, {UnpolledRow("alpha", 80, "alpha-80")});
    });
    check.Get("/del-choose.html", [&](const std::string& t) {
        return DeleteChooseText(app, t, {"<tr><td><a href=\"delete-alpha-80.html\">Delete alpha port 80</a></td></tr>"});
    });

    check.Get("/delete-alpha-80.html", [&](const std::string& t) { return DeletedPage(app, t, "alpha port 80", true); });
    check.Get("/index.html", [&](const std::string& t) { return ExpectedListPage(app, t, {}); });
    EXPECT_EQ(daemon.Data().Read("v1.0-alpha-80.dat"), dataFile) << "the history must stay on disk";
    check.Get("/delete-alpha-80.html", [&](const std::string& t) { return DeletedPage(app, t, "alpha port 80", false); });
    check.Get("/del-choose.html", [&](const std::string& t) { return DeleteChooseText(app, t, {}); });
}

TEST(DaemonWeb, PostedFields)
{
    START_DAEMON(daemon, .serverList = "");
    // The last "server" wins; a piece without "=" is logged and skipped.
    check.Post("/add.fv", "server=alpha&junk&server=beta&submit=Add+Server",
               [&](const std::string& t) { return AddedPage(app, t, "beta port 80"); });
    EXPECT_TRUE(daemon.Process().WaitForOutput("HTTP HANDLER: Unexpected format for arg: junk\n"))
        << daemon.Process().Output();
    // A second add of the same name, in any case, is refused.
    for (const char* name : {"beta", "BETA"}) {
        check.Post("/add.fv", std::string("server=") + name, [&](const std::string& t) {
            return AddFailedPage(app, t, std::string(name) + " port 80", "This server is already monitored.");
        });
    }
    check.Get("/index.html", [&](const std::string& t) {
        return ExpectedListPage(app, t, {UnpolledRow("beta", 80, "beta-80")});
    });
}

TEST(DaemonWeb, RouterChoices)
{
    START_DAEMON(daemon, .serverList = "");
    const std::string addPage =
        "<b>Add a Server</b><br>Type in the web server name.<br>For example, www.example.com is a server "
        "name.<br><br>\n<form action=\"add.fv\" method=\"post\"><table cellspacing=\"0\" cellpadding=\"2\"> <tr> "
        "<td valign=\"bottom\" align=\"center\"> <input type=\"text\" name=\"server\" value=\"www.example.com\" "
        "size=30 > </td> <td valign=\"bottom\"> <input type=\"submit\" value=\"Add Server\" name=\"submit\"> "
        "</td></tr> </table> </center> </form><br><br><a href=\"index.html\">Cancel</a>";
    for (const char* path : {"/add.html", "/Add.html", "/some/folder/ADD.html"}) {
        check.Get(path, [&](const std::string& t) { return ExpectedHeader(false, app, t) + addPage + ExpectedFooter(); });
    }
    for (const char* path : {"/add2.html", "/nothing.html", "/index.html"}) {
        check.Get(path, [&](const std::string& t) { return ExpectedListPage(app, t, {}); });
    }
    for (const char* name : {"detailsx", "delete-alpha", "custom", "route-x", "export"}) {
        check.Get(std::string("/") + name + ".html", [&](const std::string& t) { return ErrorPageText(app, t, name); });
    }
    check.Post("/export.fv", "day=1",
               [&](const std::string& t) { return ErrorPageText(app, t, "/export.fv"); });
    EXPECT_TRUE(daemon.Process().WaitForOutput("** Unknown command\n"));

    // The port of a key is a number: 080 is 80.
    check.Post("/add.fv", ADD_ALPHA, [&](const std::string& t) { return AddedPage(app, t, "alpha port 80"); });
    check.Get("/delete-alpha-080.html", [&](const std::string& t) { return DeletedPage(app, t, "alpha port 80", true); });
}

TEST(DaemonWeb, HostNamesWithHyphensAndCapitalsHaveWorkingLinks)
{
    START_DAEMON(daemon, .serverList = "// server.txt\n// File version follows on next line.\n11\n\n1\nAlpha\n80\n");
    check.Post("/add.fv", "server=my-host.example.com&submit=Add+Server",
               [&](const std::string& t) { return AddedPage(app, t, "my-host.example.com port 80"); });
    check.Get("/index.html", [&](const std::string& t) {
        return ExpectedListPage(app, t,
                                {UnpolledRow("Alpha", 80, "Alpha-80"),
                                 UnpolledRow("my-host.example.com", 80, "my-host.example.com-80")});
    });
    check.Get("/del-choose.html", [&](const std::string& t) {
        return DeleteChooseText(
            app, t,
            {"<tr><td><a href=\"delete-Alpha-80.html\">Delete Alpha port 80</a></td></tr>",
             "<tr><td><a href=\"delete-my-host.example.com-80.html\">Delete my-host.example.com port 80</a></td></tr>"});
    });
    // The link as the page gives it, and the stored "Alpha" through the lowered name.
    check.Get("/delete-my-host.example.com-80.html",
              [&](const std::string& t) { return DeletedPage(app, t, "my-host.example.com port 80", true); });
    check.Get("/delete-alpha-80.html", [&](const std::string& t) { return DeletedPage(app, t, "alpha port 80", true); });
    check.Get("/index.html", [&](const std::string& t) { return ExpectedListPage(app, t, {}); });
    EXPECT_EQ(daemon.Data().Read("server.txt").find("Alpha"), std::string::npos) << daemon.Data().Read("server.txt");
}

TEST(DaemonWeb, OutsideTextIsEscapedAndBadNamesAreRefused)
{
    const std::string nasty = "<script>alert(1)</script>";
    START_DAEMON(daemon, .serverList = "// server.txt\n// File version follows on next line.\n11\n\n1\n" + nasty +
                                       "\n80\n");
    const std::string escaped = "&lt;script&gt;alert(1)&lt;/script&gt;";
    const std::string listedRow = UnpolledRow(escaped, 80, escaped + "-80");
    const std::string serverList = daemon.Data().Read("server.txt");
    const std::string badName =
        "A server name is 1 to 253 letters, digits, dots and hyphens, not beginning with a dot or a hyphen.";

    struct Refused {
        std::string posted;
        std::string shown;
    };
    const Refused refused[] = {
        {nasty, escaped},
        {"%3Cscript%3E", "%3Cscript%3E"},  // nothing is decoded, so escapes are not a name
        {"my+host", "my+host"},
        {"", ""},
        {"-alpha", "-alpha"},
        {".alpha", ".alpha"},
        {"al\"pha'", "al&quot;pha&#39;"},
        {std::string(254, 'a'), std::string(254, 'a')},
    };
    for (const Refused& r : refused) {
        check.Post("/add.fv", "server=" + r.posted + "&submit=Add+Server",
                   [&](const std::string& t) { return AddFailedPage(app, t, r.shown + " port 80", badName); });
    }
    EXPECT_EQ(daemon.Data().Read("server.txt"), serverList) << "a refused name must change nothing";

    check.Get("/index.html", [&](const std::string& t) { return ExpectedListPage(app, t, {listedRow}); });
    check.Get("/del-choose.html", [&](const std::string& t) {
        return DeleteChooseText(app, t,
                                {"<tr><td><a href=\"delete-" + escaped + "-80.html\">Delete " + escaped +
                                 " port 80</a></td></tr>"});
    });
    check.Get("/delete<script>alert(1)<.html",
              [&](const std::string& t) { return ErrorPageText(app, t, "delete&lt;script&gt;alert(1)&lt;"); });
    check.Post("/<script>.fv", "", [&](const std::string& t) { return ErrorPageText(app, t, "/&lt;script&gt;.fv"); });
    // A name is refused when its sample file's name ("v1.0-" + name +
    // "-80.dat") would not fit the file system's 255 bytes: its samples could
    // never be kept. 243 characters is the longest that fits.
    const std::string tooLong = std::string(252, 'a') + "b";
    check.Post("/add.fv", "server=" + tooLong, [&](const std::string& t) {
        return AddFailedPage(app, t, tooLong + " port 80",
                             "That server name is too long for the file that keeps its history.");
    });
    const std::string longest = std::string(242, 'a') + "b";
    check.Post("/add.fv", "server=" + longest,
               [&](const std::string& t) { return AddedPage(app, t, longest + " port 80"); });
}

TEST(DaemonWeb, CrossSiteChangesAreRefused)
{
    START_DAEMON(daemon, .serverList = "");
    const std::vector<std::vector<std::string>> crossSite = {
        {"Origin: http://evil.example"},
        {"Sec-Fetch-Site: cross-site"},
        {"Origin: http://127.0.0.1:1"},
        {"Origin: null"},
    };
    for (const auto& headers : crossSite) {
        std::string answer = daemon.Post("/add.fv", ADD_ALPHA, headers);
        EXPECT_EQ(StatusOf(answer), 403) << headers[0] << "\n" << answer;
        EXPECT_NE(BodyOf(answer).find("</html>"), std::string::npos) << answer;
    }
    check.Get("/index.html", [&](const std::string& t) { return ExpectedListPage(app, t, {}); });

    // The same site is served: the browser's own form post.
    const std::string self = "Origin: http://127.0.0.1:" + std::to_string(daemon.Port());
    uint32_t from = Time().GetSeconds();
    check.Expect(daemon.Post("/add.fv", ADD_ALPHA, {self, "Sec-Fetch-Site: same-origin"}), from,
                 [&](const std::string& t) { return AddedPage(app, t, "alpha port 80"); }, "same-origin add");

    for (const auto& headers : crossSite) {
        std::string answer = daemon.Get("/delete-alpha-80.html", headers);
        EXPECT_EQ(StatusOf(answer), 403) << headers[0] << "\n" << answer;
    }
    check.Get("/index.html", [&](const std::string& t) {
        return ExpectedListPage(app, t, {UnpolledRow("alpha", 80, "alpha-80")});
    });
    from = Time().GetSeconds();
    check.Expect(daemon.Get("/delete-alpha-80.html", {self, "Sec-Fetch-Site: same-origin"}), from,
                 [&](const std::string& t) { return DeletedPage(app, t, "alpha port 80", true); }, "same-origin delete");
}

}  // namespace
}  // namespace Kelm
