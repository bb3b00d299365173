// See LaunchServices.h.
#include "launcher/LaunchServices.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace Kelm {

namespace {

constexpr const char* DEFAULT_OPENER = "xdg-open";

bool IsSchemeChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

}  // namespace

bool MakeLaunchUrl(const std::string& text, LaunchUrl& url)
{
    size_t schemeEnd = text.find("://");
    if (schemeEnd == std::string::npos || schemeEnd == 0) return false;
    if (!std::isalpha(static_cast<unsigned char>(text[0]))) return false;
    for (size_t i = 0; i < schemeEnd; ++i) {
        if (!IsSchemeChar(text[i])) return false;
    }
    if (schemeEnd + 3 == text.size()) return false;
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) return false;
    }
    url.text = text;
    return true;
}

int OpenLaunchUrl(const LaunchUrl& url)
{
    const char* browser = std::getenv("BROWSER");
    std::string opener = (browser != nullptr && browser[0] != '\0') ? browser : DEFAULT_OPENER;
    std::string argument = url.text;
    char* argv[] = {opener.data(), argument.data(), nullptr};

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return LAUNCH_OPENER_MISSING;
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    std::fflush(stdout);
    pid_t pid = -1;
    int spawned = posix_spawnp(&pid, opener.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::fprintf(stderr, "Farview Client: cannot start %s: %s\n", opener.c_str(), std::strerror(spawned));
        return LAUNCH_OPENER_MISSING;
    }

    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return LAUNCH_OPENER_MISSING;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return LAUNCH_OPENER_KILLED;
}

bool LaunchURL(const char* url)
{
    std::string text = url != nullptr ? std::string(url, std::strlen(url)) : std::string();
    LaunchUrl made;
    int result = MakeLaunchUrl(text, made) ? OpenLaunchUrl(made) : LAUNCH_BAD_URL;
    std::printf("Launch URL: %s\n", text.c_str());
    std::printf("Launch result: %d\n", result);
    std::fflush(stdout);
    return true;
}

}  // namespace Kelm
