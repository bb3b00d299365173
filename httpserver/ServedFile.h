// Which files the HTTP server may send. Only two kinds exist: files directly
// inside the app folder (page images, the chart font), and chart files
// ("chart-*.png") directly inside the data folder. Both are asked for by
// absolute path, the way the pages link them.
//
// The check works on the real path (every symbolic link resolved), so a link
// in the app folder that leads elsewhere is refused like the path it leads
// to; before that, a path holding a NUL byte, a backslash or a ".." segment
// is refused outright. A data-folder file that is not a chart (the server
// list, the pid file, the sample files) is never sent, even when the two
// folders are the same folder.
#pragma once

#include <cstdint>
#include <string>

namespace Kelm {

// The request target with every "%20" turned into a blank, in one pass; no
// other escape is decoded.
std::string DecodeBlanks(const std::string& path);

// True when the name (no folder) is a chart file's: "chart-" ... ".png".
bool IsChartFileName(const std::string& name);

// True, with the file's real path and size, when decodedPath names a regular
// file that may be served. The folders are real paths ending in "/"; an
// empty folder allows nothing.
bool FindServedFile(const std::string& decodedPath, const std::string& realAppFolder,
                    const std::string& realDataFolder, std::string& realPath, uint64_t& size);

// The same with the daemon's own app and data folders.
bool FindServedFile(const std::string& decodedPath, std::string& realPath, uint64_t& size);

// The real path of a folder with a trailing "/", or "" when it does not exist.
std::string RealFolder(const std::string& folder);

}  // namespace Kelm
