// Farview Client: opens the daemon's server list page in the user's browser.
// It reads the daemon's HTTP port from the same fv.cfg the daemon reads (the
// app folder), prints exactly two lines and always exits 0; it never talks to
// the daemon itself.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "foundation/ConfigFile.h"
#include "foundation/Locations.h"
#include "foundation/Strings.h"
#include "launcher/LaunchServices.h"

namespace Kelm {
const char* const ApplicationName = "Farview Client";
}

namespace {

constexpr int DEFAULT_PORT = 8080;

// The configuration reader reports damaged files on standard output; here
// those reports go to standard error, so standard output keeps exactly the
// launcher's two lines.
void LoadConfigQuietly(Kelm::ConfigFile& config, const std::string& path)
{
    std::fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    if (saved >= 0) dup2(STDERR_FILENO, STDOUT_FILENO);
    config.Load(path);
    std::fflush(stdout);
    if (saved >= 0) {
        dup2(saved, STDOUT_FILENO);
        close(saved);
    }
}

}  // namespace

int main()
{
    using namespace Kelm;
    ConfigFile config;
    LoadConfigQuietly(config, GetAppFolder() + "fv.cfg");

    int port = DEFAULT_PORT;
    if (config.Exists("port")) port = TruncateToInt(config.GetFloat("port"));

    std::string url = "http://localhost:" + ToString(port) + "/index.html";
    LaunchURL(url.c_str());
    return 0;
}
