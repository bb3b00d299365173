// Folders: the environment overrides, the trailing slash, and MakeDir.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "foundation/Locations.h"
#include "tests/support/TestSupport.h"

namespace Kelm {
namespace {

mode_t Permissions(const std::string& path)
{
    struct stat info {};
    stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

TEST(Locations, EnvironmentOverridesGetATrailingSlash)
{
    Kelm::Test::TempDir dir;
    std::string data = dir.Path() + "data";  // no trailing slash, not made yet
    setenv("FARVIEW_DATA_DIR", data.c_str(), 1);
    setenv("FARVIEW_APP_DIR", dir.Path().c_str(), 1);
    EXPECT_EQ(GetDataFolder(), data + "/");
    EXPECT_EQ(GetAppFolder(), dir.Path());
    EXPECT_EQ(Permissions(data), 0755u) << "the data folder is made on first use";
    // Read once: a later change of the variable is not seen.
    setenv("FARVIEW_DATA_DIR", "/elsewhere", 1);
    EXPECT_EQ(GetDataFolder(), data + "/");
}

TEST(Locations, FixedDefaults)
{
    unsetenv("FARVIEW_APP_DIR");
    EXPECT_EQ(GetAppFolder(), "/Library/StartupItems/Farview/App/");
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(GetDesktopFolder(), "/home/someone/Desktop/");
}

TEST(Locations, MakeDir)
{
    Kelm::Test::TempDir dir;
    std::string path = dir.Path() + "made";
    EXPECT_TRUE(MakeDir(path));
    EXPECT_EQ(Permissions(path), 0755u);
    chmod(path.c_str(), 0700);
    EXPECT_FALSE(MakeDir(path)) << "an existing folder is not made again";
    EXPECT_EQ(Permissions(path), 0755u) << "but it is set to 0755";
    EXPECT_FALSE(MakeDir(dir.Path() + "missing/parent"));
}

}  // namespace
}  // namespace Kelm
