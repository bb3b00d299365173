// The file allowlist against real folders, links and hostile paths.
#include "httpserver/ServedFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

namespace Kelm {
namespace {

using Test::TempDir;

// "farview-test-abc" for "/tmp/farview-test-abc/".
std::string FolderName(const std::string& folder)
{
    std::string trimmed = folder.substr(0, folder.size() - 1);
    return trimmed.substr(trimmed.rfind('/') + 1);
}

class ServedFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_app.Write("fv1.png", "image");
        m_app.Write("my chart.png", "blank");
        m_app.Write("a%41.png", "escape");
        mkdir(m_app.File("images").c_str(), 0755);
        m_app.Write("images/deep.png", "deep");
        symlink("/etc/passwd", m_app.File("passwd.png").c_str());
        symlink(m_data.File("server.txt").c_str(), m_app.File("list.png").c_str());
        symlink(m_app.File("fv1.png").c_str(), m_app.File("alias.png").c_str());
        m_data.Write("chart-1765000000-1.png", "chart");
        m_data.Write("server.txt", "alpha 80");
        m_data.Write("Farview.pid", "123");
        m_data.Write("v1.0-alpha-80.dat", "samples");
        symlink(m_data.File("server.txt").c_str(), m_data.File("chart-link.png").c_str());
        mkfifo(m_app.File("pipe.png").c_str(), 0644);
        m_appReal = RealFolder(m_app.Path());
        m_dataReal = RealFolder(m_data.Path());
    }

    bool Served(const std::string& path, std::string* real = nullptr)
    {
        std::string realPath;
        uint64_t size = 0;
        bool served = FindServedFile(DecodeBlanks(path), m_appReal, m_dataReal, realPath, size);
        if (real) *real = realPath;
        return served;
    }

    TempDir m_app;
    TempDir m_data;
    std::string m_appReal;
    std::string m_dataReal;
};

TEST_F(ServedFileTest, AppFilesAndChartsAreServed)
{
    std::string real;
    EXPECT_TRUE(Served(m_app.File("fv1.png"), &real));
    EXPECT_EQ(real, m_appReal + "fv1.png");
    EXPECT_TRUE(Served(m_app.File("my%20chart.png")));
    EXPECT_TRUE(Served(m_app.File("a%41.png")));          // other escapes stay as they are
    EXPECT_TRUE(Served(m_app.File("alias.png"), &real));  // a link that stays inside
    EXPECT_EQ(real, m_appReal + "fv1.png");
    EXPECT_TRUE(Served(m_app.Path() + "./fv1.png"));
    EXPECT_TRUE(Served(m_data.File("chart-1765000000-1.png")));

    uint64_t size = 0;
    ASSERT_TRUE(FindServedFile(m_app.File("fv1.png"), m_appReal, m_dataReal, real, size));
    EXPECT_EQ(size, 5u);
}

TEST_F(ServedFileTest, HostilePathsAreRefused)
{
    const std::string hostile[] = {
        "/etc/passwd",
        m_app.Path() + "../" + FolderName(m_data.Path()) + "/server.txt",
        m_app.Path() + "../../etc/passwd",
        m_app.Path() + "..",
        m_app.Path() + "%2e%2e/%2e%2e/etc/passwd",  // not decoded, so no such file
        m_app.Path() + "%2e%2e%2fetc%2fpasswd",
        m_app.File("passwd.png"),                   // link out of the folder
        m_app.File("list.png"),                     // link to a data file that is no chart
        m_data.File("chart-link.png"),              // chart name, server list behind it
        m_app.File("fv1.png") + std::string(1, '\0') + ".html",
        m_app.Path() + "images\\..\\fv1.png",
        m_app.File("images\\deep.png"),
        m_app.File("images/deep.png"),              // not directly inside
        m_app.File("images"),                       // a folder
        m_app.File("pipe.png"),                     // not a regular file
        m_app.Path(),
        m_data.File("server.txt"),
        m_data.File("Farview.pid"),
        m_data.File("v1.0-alpha-80.dat"),
        m_data.File("chart-missing.png"),
        "fv1.png",                                  // relative: never
        "",
        m_app.File("fv1.png?x=1"),
    };
    for (const std::string& path : hostile) {
        SCOPED_TRACE(path);
        std::string real;
        EXPECT_FALSE(Served(path, &real));
        EXPECT_EQ(real, "");
    }
}

TEST_F(ServedFileTest, DataFolderRuleHoldsWhenTheFoldersAreTheSame)
{
    std::string real;
    uint64_t size = 0;
    EXPECT_FALSE(FindServedFile(m_data.File("server.txt"), m_dataReal, m_dataReal, real, size));
    EXPECT_TRUE(FindServedFile(m_data.File("chart-1765000000-1.png"), m_dataReal, m_dataReal, real, size));
}

TEST(ServedFile, DecodeBlanksOnlyTurnsPercentTwentyIntoBlanks)
{
    EXPECT_EQ(DecodeBlanks("/a%20b%20%20c"), "/a b  c");
    EXPECT_EQ(DecodeBlanks("/a%2520"), "/a%2520");
    EXPECT_EQ(DecodeBlanks("/a%%2020"), "/a% 20");
    EXPECT_EQ(DecodeBlanks("/%2e%2e/%41%2"), "/%2e%2e/%41%2");
    EXPECT_EQ(DecodeBlanks(""), "");
}

TEST(ServedFile, ChartNames)
{
    EXPECT_TRUE(IsChartFileName("chart-1765000000-3.png"));
    EXPECT_TRUE(IsChartFileName("chart-.png"));
    EXPECT_FALSE(IsChartFileName("chart-1.PNG"));
    EXPECT_FALSE(IsChartFileName("chart.png"));
    EXPECT_FALSE(IsChartFileName("xchart-1.png"));
    EXPECT_FALSE(IsChartFileName("chart-1.png.dat"));
}

}  // namespace
}  // namespace Kelm
