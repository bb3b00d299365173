// libFuzzer target for the request reader and the file allowlist.
//
// The first input byte chooses how the rest is cut into pieces; the rest is
// a request. It is assembled whole and in pieces (the two must agree), then
// parsed, and its target checked against the allowlist over real folders
// made at start-up: an app folder and a data folder with pictures, charts,
// the server list, a pid file, sample files, links in and out, a subfolder
// and a pipe. A target beginning "@A/" or "@D/" is taken to start in the app
// or the data folder, so the fuzzer reaches the interesting paths quickly.
//
// The harness stops (abort) when the pieces change the outcome, or when any
// file is accepted that is not one of the few the allowlist means to serve.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "foundation/Locations.h"
#include "httpserver/HttpRequestReader.h"
#include "httpserver/ServedFile.h"

namespace Kelm {
const char* const ApplicationName = "Farview";
}

namespace {

std::string s_app;   // real paths, ending "/"
std::string s_data;
std::set<std::string> s_allowed;

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_http_request: %s\n", what);
        std::abort();
    }
}

void WriteFile(const std::string& path, const std::string& content)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    Check(file != nullptr, "cannot make the fixture files");
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
}

std::string MakeFolder()
{
    char pattern[] = "/tmp/farview-fuzz-XXXXXX";
    Check(mkdtemp(pattern) != nullptr, "cannot make a folder");
    return Kelm::RealFolder(pattern);
}

bool HasParentSegment(const std::string& path)
{
    return path == ".." || path.find("/../") != std::string::npos || path.rfind("../", 0) == 0 ||
           (path.size() >= 3 && path.compare(path.size() - 3, 3, "/..") == 0);
}

}  // namespace

static void RemoveFolders()
{
    std::error_code ignored;
    std::filesystem::remove_all(s_app, ignored);
    std::filesystem::remove_all(s_data, ignored);
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    s_app = MakeFolder();
    s_data = MakeFolder();
    std::atexit(RemoveFolders);
    WriteFile(s_app + "fv1.png", "picture");
    WriteFile(s_app + "title.png", "title");
    WriteFile(s_app + "my chart.png", "blank");
    WriteFile(s_app + "fv.cfg", "port 8080\n");
    mkdir((s_app + "images").c_str(), 0755);
    WriteFile(s_app + "images/deep.png", "deep");
    symlink("/etc/passwd", (s_app + "passwd.png").c_str());
    symlink((s_data + "server.txt").c_str(), (s_app + "list.png").c_str());
    symlink((s_app + "fv1.png").c_str(), (s_app + "alias.png").c_str());
    symlink("..", (s_app + "up").c_str());
    mkfifo((s_app + "pipe.png").c_str(), 0644);
    WriteFile(s_data + "chart-1765000000-1.png", "chart");
    WriteFile(s_data + "server.txt", "alpha 80\n");
    WriteFile(s_data + "Farview.pid", "1\n");
    WriteFile(s_data + "v1.0-alpha-80.dat", "samples");
    symlink((s_data + "server.txt").c_str(), (s_data + "chart-link.png").c_str());
    symlink((s_data + "chart-1765000000-1.png").c_str(), (s_app + "chart.png").c_str());

    s_allowed = {s_app + "fv1.png", s_app + "title.png", s_app + "my chart.png", s_app + "fv.cfg",
                 s_data + "chart-1765000000-1.png"};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    unsigned cutter = data[0];
    const char* request = reinterpret_cast<const char*>(data + 1);
    size_t length = size - 1;

    Kelm::HttpRequestAssembler whole;
    Kelm::HttpRequestAssembler::State wholeState = whole.Feed(request, length);
    bool closes = cutter & 1;
    if (closes) wholeState = whole.Finish();

    Kelm::HttpRequestAssembler split;
    Kelm::HttpRequestAssembler::State splitState = Kelm::HttpRequestAssembler::NEED_MORE;
    size_t at = 0;
    unsigned step = cutter;
    while (at < length) {
        step = step * 1103515245u + 12345u;
        size_t piece = 1 + (step >> 16) % 97;
        if (piece > length - at) piece = length - at;
        splitState = split.Feed(request + at, piece);
        at += piece;
    }
    if (closes) splitState = split.Finish();
    Check(splitState == wholeState, "pieces changed the state");
    Check(split.GetHead() == whole.GetHead(), "pieces changed the head");
    Check(split.GetHeaders() == whole.GetHeaders(), "pieces changed the headers");
    if (wholeState != Kelm::HttpRequestAssembler::COMPLETE) return 0;
    Check(split.GetBody() == whole.GetBody(), "pieces changed the body");
    Check(whole.GetHead().size() <= Kelm::MAX_REQUEST_HEAD || closes, "head over the limit accepted");
    Check(whole.GetBody().size() <= Kelm::MAX_REQUEST_BODY, "body over the limit accepted");

    Kelm::HttpRequest parsed;
    if (Kelm::ParseRequest(whole, parsed) != Kelm::RequestParse::OK) return 0;

    std::string path = parsed.path;
    if (path.rfind("@A/", 0) == 0) path = s_app + path.substr(3);
    if (path.rfind("@D/", 0) == 0) path = s_data + path.substr(3);
    std::string decoded = Kelm::DecodeBlanks(path);

    std::string realPath;
    uint64_t fileSize = 0;
    if (!Kelm::FindServedFile(decoded, s_app, s_data, realPath, fileSize)) return 0;
    Check(decoded.find('\0') == std::string::npos, "accepted a NUL byte");
    Check(decoded.find('\\') == std::string::npos, "accepted a backslash");
    Check(!HasParentSegment(decoded), "accepted a \"..\" segment");
    Check(s_allowed.count(realPath) == 1, "accepted a file outside the allowlist");
    return 0;
}
