// See WebTestSupport.h.
#include "tests/web/WebTestSupport.h"

#include <cstdlib>
#include <filesystem>

#include "concurrency/Time.h"

namespace Kelm::Test {

const std::vector<std::string> LOCAL_NAMES = {"alpha", "beta", "my-host.example.com", "www.example.com"};

std::string ExpectedHeader(bool refresh, const std::string& appFolder, const std::string& timeText)
{
    return std::string("<html><head><title>Farview</title>") +
           (refresh ? "<META HTTP-EQUIV=REFRESH CONTENT=\"60\">" : "") +
           "</head> <body> <BODY TEXT=\"#000000\" LINK=\"#0000ff\" VLINK=\"#ff00ff\" BGCOLOR=\"#ffffff\">" +
           "<font face=\"Arial, Helvetica\">" + "<img src=\"" + appFolder + "fv1.png\">" + "<img src=\"" + appFolder +
           "title.png\"><br>" + "<b>Version 1.0</b><br><br>" + timeText + "<br>" +
           (refresh ? "<font size=1>This page will auto refresh after 1 minute.</font><br>" : "") + "<br>";
}

std::string ExpectedFooter()
{
    return " </body> </html>\n";
}

std::string ExpectedListPage(const std::string& appFolder, const std::string& timeText,
                             const std::vector<std::string>& rows)
{
    std::string page = ExpectedHeader(!rows.empty(), appFolder, timeText);
    if (rows.empty()) {
        page += "<b>Welcome to Farview!</b><br>Currently you are not monitoring any servers.";
    } else {
        page += "<table BORDER  CELLPADDING=2 CELLSPACING=0 > <tr> <td><b>Server name  </b> </td> "
                "<td><b>Status</b> </td><td><b>Fault</b></td> <td><b> Time</b> </td> <td> </td> </tr>";
        for (const std::string& row : rows) page += row;
        page += " </table>";
    }
    page += "<br><br><a href=\"add.html\">Add a new server</a>";
    if (!rows.empty()) page += "<br><a href=\"del-choose.html\">Delete a server</a>";
    return page + "<br>" + ExpectedFooter();
}

std::string UnpolledRow(const std::string& name, int port, const std::string& key)
{
    return "<tr><td>" + name + " Port " + std::to_string(port) +
           "</td><td>Unknown</td><td>No data</td><td>0 secs</td> <td> <a href=\"details-" + key +
           ".html\">Details...</a> </td> </tr>";
}

std::string TimeTextOf(const std::string& page)
{
    const std::string before = "<b>Version 1.0</b><br><br>";
    size_t at = page.find(before);
    if (at == std::string::npos || page.size() < at + before.size() + 24) return "";
    return page.substr(at + before.size(), 24);
}

bool IsTimeTextBetween(const std::string& text, uint32_t from, uint32_t to)
{
    for (uint32_t second = from; second <= to; ++second) {
        if (Time(second).GetText() == text) return true;
    }
    return false;
}

int StatusOf(const std::string& answer)
{
    if (answer.compare(0, 9, "HTTP/1.0 ") != 0 && answer.compare(0, 9, "HTTP/1.1 ") != 0) return 0;
    return std::atoi(answer.c_str() + 9);
}

WebDaemon::WebDaemon(const Setup& setup)
{
    if (!IsRoot()) {
        m_error = "needs root to build a network namespace";
        return;
    }
    m_net = std::make_unique<NetnsTopology>(0);
    if (!m_net->IsReady()) {
        m_error = m_net->GetError();
        return;
    }
    for (const std::string& name : LOCAL_NAMES) m_net->AddHost(NetnsTopology::CLIENT, name, "127.0.0.1");
    if (!m_net->Enter(NetnsTopology::CLIENT)) {
        m_error = m_net->GetError();
        return;
    }

    std::error_code ignored;
    for (const char* image : {"fv1.png", "title.png"}) {
        std::filesystem::copy_file(std::string(FARVIEW_SOURCE_DIR) + "/app/" + image, m_app.File(image), ignored);
    }
    if (!setup.serverList.empty()) m_data.Write("server.txt", setup.serverList);
    for (const std::string& file : setup.files) m_data.Write(file, std::string("\x10\x20\x30\x40\0\0\0\0\0\0\0\0\0\0\0\0", 16));

    m_port = FreePort();
    // A one-day poll grid: no poll lands inside a test, so new servers keep
    // their unpolled row.
    m_daemon = std::make_unique<Daemon>(Daemon::Options{
        .arguments = {std::to_string(m_port)},
        .environment = {{"FARVIEW_POLL_INTERVAL", "86400"}},
        .appDir = m_app.Path(),
        .dataDir = m_data.Path(),
        .netns = m_net->Namespace(NetnsTopology::CLIENT),
    });
    if (!WaitUntil([&] { return !Get("/index.html").empty() || !m_daemon->Running(); }, std::chrono::seconds(20)) ||
        !m_daemon->Running()) {
        m_error = "the daemon did not answer; its log:\n" + m_daemon->Output();
        return;
    }
    m_ready = true;
}

WebDaemon::~WebDaemon()
{
    // The daemon goes before its namespace.
    m_daemon.reset();
    m_net.reset();
}

std::string WebDaemon::Get(const std::string& path, const std::vector<std::string>& extraHeaders)
{
    std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(m_port) + "\r\n";
    for (const std::string& header : extraHeaders) request += header + "\r\n";
    return HttpExchange(m_port, request + "Connection: close\r\n\r\n");
}

std::string WebDaemon::Post(const std::string& path, const std::string& body,
                            const std::vector<std::string>& extraHeaders)
{
    return HttpPost(m_port, path, body, extraHeaders);
}

}  // namespace Kelm::Test
