// The file-serving allowlist; see ServedFile.h.
#include "httpserver/ServedFile.h"

#include <sys/stat.h>

#include <cstdlib>

#include "foundation/Locations.h"
#include "foundation/Strings.h"

namespace Kelm {

namespace {

bool HasParentSegment(const std::string& path)
{
    size_t start = 0;
    for (;;) {
        size_t end = path.find('/', start);
        size_t length = (end == std::string::npos ? path.size() : end) - start;
        if (length == 2 && path[start] == '.' && path[start + 1] == '.') return true;
        if (end == std::string::npos) return false;
        start = end + 1;
    }
}

}  // namespace

std::string DecodeBlanks(const std::string& path)
{
    // One pass from the left. A blank put in can never form a new "%20",
    // so this equals replacing until none is left.
    std::string decoded;
    decoded.reserve(path.size());
    for (size_t at = 0; at < path.size(); ++at) {
        if (path[at] == '%' && at + 2 < path.size() && path[at + 1] == '2' && path[at + 2] == '0') {
            decoded += ' ';
            at += 2;
        } else {
            decoded += path[at];
        }
    }
    return decoded;
}

bool IsChartFileName(const std::string& name)
{
    static const std::string PREFIX = "chart-";
    static const std::string SUFFIX = ".png";
    return name.size() >= PREFIX.size() + SUFFIX.size() && name.compare(0, PREFIX.size(), PREFIX) == 0 &&
           name.compare(name.size() - SUFFIX.size(), SUFFIX.size(), SUFFIX) == 0;
}

std::string RealFolder(const std::string& folder)
{
    char* resolved = realpath(folder.c_str(), nullptr);
    if (resolved == nullptr) return "";
    std::string real(resolved);
    std::free(resolved);
    if (real.back() != '/') real += '/';
    return real;
}

bool FindServedFile(const std::string& decodedPath, const std::string& realAppFolder,
                    const std::string& realDataFolder, std::string& realPath, uint64_t& size)
{
    if (decodedPath.empty() || decodedPath[0] != '/') return false;
    if (decodedPath.find('\0') != std::string::npos) return false;
    if (decodedPath.find('\\') != std::string::npos) return false;
    if (HasParentSegment(decodedPath)) return false;

    char* resolved = realpath(decodedPath.c_str(), nullptr);
    if (resolved == nullptr) return false;
    std::string real(resolved);
    std::free(resolved);

    size_t slash = real.rfind('/');
    std::string folder = real.substr(0, slash + 1);
    std::string name = real.substr(slash + 1);
    if (name.empty()) return false;

    // The data folder's rule first: its files are charts or nothing, even
    // when the app folder is the same folder.
    bool allowed;
    if (!realDataFolder.empty() && folder == realDataFolder) {
        allowed = IsChartFileName(name);
    } else {
        allowed = !realAppFolder.empty() && folder == realAppFolder;
    }
    if (!allowed) return false;

    struct stat info;
    if (stat(real.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    realPath = real;
    size = static_cast<uint64_t>(info.st_size);
    return true;
}

bool FindServedFile(const std::string& decodedPath, std::string& realPath, uint64_t& size)
{
    // Resolved once: the folders do not move while the daemon runs.
    static const std::string s_appFolder = RealFolder(GetAppFolder());
    static const std::string s_dataFolder = RealFolder(GetDataFolder());
    return FindServedFile(decodedPath, s_appFolder, s_dataFolder, realPath, size);
}

}  // namespace Kelm
