// Helpers of the web interface tests: the expected page frame written out
// literally (so a changed byte in the pages shows), and the real daemon in a
// network namespace of its own whose hosts file maps the test's server names
// to 127.0.0.1, so whatever the daemon polls stays on this machine.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Netns.h"
#include "tests/support/TestSupport.h"

namespace Kelm::Test {

// The names the namespace's hosts file maps to 127.0.0.1.
extern const std::vector<std::string> LOCAL_NAMES;

std::string ExpectedHeader(bool refresh, const std::string& appFolder, const std::string& timeText);
std::string ExpectedFooter();
// The whole server list page for these rows (empty: the welcome page).
std::string ExpectedListPage(const std::string& appFolder, const std::string& timeText,
                             const std::vector<std::string>& rows);
// One row of the list for a server nobody has polled yet.
std::string UnpolledRow(const std::string& name, int port, const std::string& key);

// The 24-character time text a page carries (empty when not found).
std::string TimeTextOf(const std::string& page);
// True when the text is the time text of some second in [from, to].
bool IsTimeTextBetween(const std::string& text, uint32_t from, uint32_t to);

// The status code of an HTTP answer ("HTTP/1.0 200 OK..." gives 200), or 0.
int StatusOf(const std::string& answer);

// The real daemon, inside a namespace this process has entered too, with
// temporary app and data folders (the page images copied into the app
// folder) and a free port. Needs root; IsReady() false with GetError()
// otherwise. Make it before any thread starts: the process moves into the
// namespace.
class WebDaemon {
public:
    struct Setup {
        std::string serverList = {};          // server.txt content, "" for none
        std::vector<std::string> files = {};  // data files to make (names), each one record
    };

    explicit WebDaemon(const Setup& setup);
    ~WebDaemon();

    bool IsReady() const { return m_ready; }
    const std::string& GetError() const { return m_error; }

    int Port() const { return m_port; }
    const TempDir& App() const { return m_app; }
    const TempDir& Data() const { return m_data; }
    Daemon& Process() { return *m_daemon; }
    NetnsTopology& Net() { return *m_net; }

    // Whole answers (status line, headers, body).
    std::string Get(const std::string& path, const std::vector<std::string>& extraHeaders = {});
    std::string Post(const std::string& path, const std::string& body,
                     const std::vector<std::string>& extraHeaders = {});

private:
    std::unique_ptr<NetnsTopology> m_net;
    TempDir m_app;
    TempDir m_data;
    std::unique_ptr<Daemon> m_daemon;
    int m_port = 0;
    bool m_ready = false;
    std::string m_error;
};

}  // namespace Kelm::Test
