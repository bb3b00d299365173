// Where the programs keep their files. Each folder path ends with "/", so
// callers append a bare file name.
//
//   app folder  fv.cfg, the page images, the chart font
//   data folder Farview.pid, server.txt, sample files, chart files
//
// Both are fixed paths unless FARVIEW_APP_DIR / FARVIEW_DATA_DIR name another
// folder; each is read once, on first use.
#pragma once

#include <string>

namespace Kelm {

// The program's display name, defined by each program (not by this library):
// "Farview" for the daemon, "Farview Client" for the launcher.
extern const char* const ApplicationName;

std::string GetAppFolder();
std::string GetDataFolder();     // made (0755) on first use
std::string GetDesktopFolder();  // $HOME + "/Desktop/"

// Creates one folder and sets it to 0755 whether or not it existed; true only
// when this call created it.
bool MakeDir(const std::string& path);

}  // namespace Kelm
