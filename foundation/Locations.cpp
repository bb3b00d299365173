#include "foundation/Locations.h"

#include <sys/stat.h>

#include <cstdlib>

namespace Kelm {

namespace {

// The folder from the environment variable when it is set and not empty,
// with a trailing "/" added when missing; otherwise the fixed default.
std::string FolderFromEnvironment(const char* variable, const std::string& fallback)
{
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') return fallback;
    std::string folder(value);
    if (folder.back() != '/') folder += '/';
    return folder;
}

}  // namespace

std::string GetAppFolder()
{
    // Magic statics: built once, safely, even on a first call from two threads.
    static const std::string s_appFolder =
        FolderFromEnvironment("FARVIEW_APP_DIR", "/Library/StartupItems/Farview/App/");
    return s_appFolder;
}

std::string GetDataFolder()
{
    static const std::string s_dataFolder = [] {
        std::string folder = FolderFromEnvironment(
            "FARVIEW_DATA_DIR", std::string("/Library/Application Support/") + ApplicationName + "/");
        MakeDir(folder);
        return folder;
    }();
    return s_dataFolder;
}

std::string GetDesktopFolder()
{
    static const std::string s_desktopFolder = [] {
        const char* home = std::getenv("HOME");
        return std::string(home ? home : "") + "/Desktop/";
    }();
    return s_desktopFolder;
}

bool MakeDir(const std::string& path)
{
    bool created = mkdir(path.c_str(), 0) == 0;
    chmod(path.c_str(), 0755);
    return created;
}

}  // namespace Kelm
