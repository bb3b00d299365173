// The pages in a real browser: headless Chromium, driven through
// chromedriver's WebDriver HTTP interface, opens the server list from the
// real daemon, follows the add link, fills in and submits the form, and
// finds the new server in the list. Browser, driver and daemon all run in a
// network namespace of the test's own, and the browser resolves no name at
// all, so nothing leaves the machine. The last screenshot is kept under the
// build tree (test-artefacts/) for a look by eye.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <regex>

#include "tests/web/WebTestSupport.h"

namespace Kelm {
namespace {

using Test::BodyOf;
using Test::Daemon;
using Test::WaitUntil;
using Test::WebDaemon;

constexpr const char* CHROMEDRIVER = "/usr/bin/chromedriver";
constexpr const char* ELEMENT_KEY = "element-6066-11e4-a52e-4f735466cecf";

std::string ChromiumBinary()
{
    for (const char* path : {"/usr/lib/chromium/chromium", "/usr/bin/chromium"}) {
        if (access(path, X_OK) == 0) return path;
    }
    return "";
}

std::string JsonText(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::string Dechunk(const std::string& body)
{
    std::string plain;
    size_t at = 0;
    while (at < body.size()) {
        size_t lineEnd = body.find("\r\n", at);
        if (lineEnd == std::string::npos) break;
        size_t size = std::stoul(body.substr(at, lineEnd - at), nullptr, 16);
        if (size == 0) break;
        plain += body.substr(lineEnd + 2, size);
        at = lineEnd + 2 + size + 2;
    }
    return plain;
}

std::string Base64Decode(const std::string& text)
{
    static const std::string s_alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    unsigned value = 0;
    int bits = 0;
    for (char c : text) {
        size_t index = s_alphabet.find(c);
        if (index == std::string::npos) continue;  // padding, line ends
        value = (value << 6) | static_cast<unsigned>(index);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return bytes;
}

// The string value of the first "key": "..." in a JSON text (escapes other
// than \" and \\ are kept as they are); nullopt when there is none. Plain
// scanning: answers such as a screenshot are far too long for std::regex.
std::optional<std::string> JsonString(const std::string& json, const std::string& key)
{
    size_t at = json.find("\"" + key + "\"");
    if (at == std::string::npos) return std::nullopt;
    at = json.find_first_not_of(" \t\r\n", at + key.size() + 2);
    if (at == std::string::npos || json[at] != ':') return std::nullopt;
    at = json.find_first_not_of(" \t\r\n", at + 1);
    if (at == std::string::npos || json[at] != '"') return std::nullopt;
    std::string value;
    for (++at; at < json.size() && json[at] != '"'; ++at) {
        if (json[at] == '\\' && at + 1 < json.size() && (json[at + 1] == '"' || json[at + 1] == '\\')) ++at;
        value += json[at];
    }
    return value;
}

// One request to the driver. The driver keeps connections open whatever the
// request says, so the answer ends where its Content-Length (or its last
// chunk) says, not at the close.
std::string Exchange(int port, const std::string& request)
{
    int descriptor = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        send(descriptor, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        close(descriptor);
        return "";
    }
    std::string answer;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    auto complete = [&answer] {
        size_t headEnd = answer.find("\r\n\r\n");
        if (headEnd == std::string::npos) return false;
        std::string head = answer.substr(0, headEnd);
        std::smatch length;
        if (std::regex_search(head, length, std::regex("content-length:\\s*([0-9]+)", std::regex::icase))) {
            return answer.size() - headEnd - 4 >= std::stoul(length[1].str());
        }
        return answer.find("\r\n0\r\n\r\n", headEnd) != std::string::npos;
    };
    char buffer[65536];
    while (!complete()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd waiting{descriptor, POLLIN, 0};
        if (left.count() <= 0 || poll(&waiting, 1, static_cast<int>(left.count())) <= 0) break;
        ssize_t n = recv(descriptor, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        answer.append(buffer, static_cast<size_t>(n));
    }
    close(descriptor);
    std::string head = answer.substr(0, answer.find("\r\n\r\n"));
    bool chunked = std::regex_search(head, std::regex("transfer-encoding:\\s*chunked", std::regex::icase));
    return chunked ? Dechunk(BodyOf(answer)) : BodyOf(answer);
}

// A WebDriver session on a local chromedriver, ended (and its browser with
// it) when this object goes.
class Browser {
public:
    Browser(int driverPort, const std::string& profile) : m_port(driverPort)
    {
        std::string args;
        for (const std::string& flag :
             {std::string("--headless"), std::string("--no-sandbox"), std::string("--disable-gpu"),
              std::string("--disable-dev-shm-usage"), std::string("--disable-quic"), std::string("--no-first-run"),
              std::string("--disable-background-networking"), std::string("--disable-component-update"),
              std::string("--disable-sync"), std::string("--window-size=1000,700"),
              std::string("--host-resolver-rules=MAP * ~NOTFOUND , EXCLUDE 127.0.0.1"),
              "--user-data-dir=" + profile}) {
            args += (args.empty() ? "" : ",") + JsonText(flag);
        }
        std::string answer =
            Call("POST", "/session",
                 "{\"capabilities\":{\"alwaysMatch\":{\"browserName\":\"chrome\",\"goog:chromeOptions\":{\"binary\":" +
                     JsonText(ChromiumBinary()) + ",\"args\":[" + args + "]}}}}");
        m_session = JsonString(answer, "sessionId").value_or("");
        if (m_session.empty()) m_error = "no session: " + answer;
    }
    ~Browser()
    {
        if (!m_session.empty()) Call("DELETE", "/session/" + m_session, "");
    }

    bool IsReady() const { return !m_session.empty(); }
    const std::string& GetError() const { return m_error; }

    std::string Command(const std::string& method, const std::string& what, const std::string& body = "{}")
    {
        return Call(method, "/session/" + m_session + what, method == "GET" ? "" : body);
    }
    void Open(const std::string& url) { Command("POST", "/url", "{\"url\":" + JsonText(url) + "}"); }
    std::string Find(const std::string& css)
    {
        std::string answer = Command("POST", "/element", "{\"using\":\"css selector\",\"value\":" + JsonText(css) + "}");
        return JsonString(answer, ELEMENT_KEY).value_or("");
    }
    void Click(const std::string& element) { Command("POST", "/element/" + element + "/click"); }
    void Type(const std::string& element, const std::string& text)
    {
        Command("POST", "/element/" + element + "/clear");
        Command("POST", "/element/" + element + "/value", "{\"text\":" + JsonText(text) + "}");
    }
    std::string Source() { return Command("GET", "/source"); }
    std::string Script(const std::string& script)
    {
        return Command("POST", "/execute/sync", "{\"script\":" + JsonText(script) + ",\"args\":[]}");
    }
    std::string Screenshot()
    {
        return Base64Decode(JsonString(Command("GET", "/screenshot"), "value").value_or(""));
    }

private:
    std::string Call(const std::string& method, const std::string& path, const std::string& body)
    {
        std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(m_port) +
                              "\r\nConnection: close\r\n";
        if (method != "GET") {
            request += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
        }
        return Exchange(m_port, request + "\r\n" + body);
    }

    int m_port;
    std::string m_session;
    std::string m_error;
};

// Any browser process still running that names one of these folders (the
// profile, or the home folder the crash handler keeps its files in): the
// driver normally ends them, but not when it is killed first.
void EndBrowserProcesses(const std::vector<std::string>& folders)
{
    std::error_code ignored;
    for (auto it = std::filesystem::directory_iterator("/proc", ignored); it != std::filesystem::directory_iterator();
         it.increment(ignored)) {
        std::string name = it->path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string commandLine = Test::ReadFile(it->path().string() + "/cmdline");
        for (const std::string& folder : folders) {
            if (commandLine.find(folder) != std::string::npos) {
                kill(std::stoi(name), SIGKILL);
                break;
            }
        }
    }
}

TEST(Browser, AddAServerThroughTheForm)
{
    if (!Kelm::Test::IsRoot()) GTEST_SKIP() << "needs root to run the daemon and the browser in a network namespace";
    if (access(CHROMEDRIVER, X_OK) != 0 || ChromiumBinary().empty()) {
        GTEST_SKIP() << "needs the Debian packages chromium and chromium-driver (make deps-test installs them)";
    }
    WebDaemon daemon({});
    ASSERT_TRUE(daemon.IsReady()) << daemon.GetError();

    Kelm::Test::TempDir home, profile;
    int driverPort = Kelm::Test::FreePort();
    Daemon driver({.arguments = {"--port=" + std::to_string(driverPort)},
                   .environment = {{"HOME", home.Path()}},
                   .binary = CHROMEDRIVER});
    struct Sweep {
        std::vector<std::string> folders;
        ~Sweep() { EndBrowserProcesses(folders); }
    } sweep{{profile.Path(), home.Path()}};
    ASSERT_TRUE(WaitUntil(
        [&] {
            return Exchange(driverPort, "GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").find("\"ready\":true") != std::string::npos;
        },
        std::chrono::seconds(30)))
        << driver.Output();

    Browser browser(driverPort, profile.Path());
    ASSERT_TRUE(browser.IsReady()) << browser.GetError() << "\n" << driver.Output();

    const std::string site = "http://127.0.0.1:" + std::to_string(daemon.Port()) + "/";
    browser.Open(site + "index.html");
    ASSERT_NE(browser.Source().find("Currently you are not monitoring any servers."), std::string::npos)
        << browser.Source();
    // Both header images came from the app folder.
    EXPECT_NE(browser.Script("return Array.from(document.images).map(i => i.naturalWidth).join(',');")
                  .find("\"48,180\""),
              std::string::npos);

    std::string addLink = browser.Find("a[href='add.html']");
    ASSERT_FALSE(addLink.empty());
    browser.Click(addLink);
    ASSERT_TRUE(WaitUntil([&] { return !browser.Find("input[name='server']").empty(); }, std::chrono::seconds(30)));
    browser.Type(browser.Find("input[name='server']"), "my-host.example.com");
    browser.Click(browser.Find("input[type='submit']"));
    ASSERT_TRUE(WaitUntil([&] { return browser.Source().find("Add Server my-host.example.com port 80") != std::string::npos; },
                          std::chrono::seconds(30)))
        << browser.Source() << "\n" << daemon.Process().Output();

    browser.Click(browser.Find("a[href='index.html']"));
    ASSERT_TRUE(WaitUntil([&] { return browser.Source().find("my-host.example.com Port 80") != std::string::npos; },
                          std::chrono::seconds(30)))
        << browser.Source();
    EXPECT_FALSE(browser.Find("a[href='details-my-host.example.com-80.html']").empty());
    EXPECT_NE(BodyOf(daemon.Get("/index.html")).find(Kelm::Test::UnpolledRow("my-host.example.com", 80, "my-host.example.com-80")),
              std::string::npos);

    std::string picture = browser.Screenshot();
    EXPECT_EQ(picture.substr(0, 8), "\x89PNG\r\n\x1a\n");
    std::string folder = std::string(FARVIEW_BUILD_DIR) + "/test-artefacts/";
    std::filesystem::create_directories(folder);
    Kelm::Test::WriteFile(folder + "browser-server-list.png", picture);
}

}  // namespace
}  // namespace Kelm
