// The data file in text and binary form, and the configuration file on it,
// against real files in a temporary folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "foundation/ConfigFile.h"
#include "foundation/File.h"
#include "tests/support/TestSupport.h"

namespace Kelm {
namespace {

using Test::CaptureLog;
using Test::TempDir;

// Every data line of a text file, as GetDataLine hands them out.
std::vector<std::string> DataLines(const std::string& path, bool versioned = false)
{
    File file(versioned, false);
    std::vector<std::string> lines;
    if (!file.OpenRead(path, false, false)) return {"<open failed>"};
    std::string line;
    while (file.GetDataLine(line)) lines.push_back(line);
    return lines;
}

TEST(File, TextLineRules)
{
    struct Case {
        std::string content;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"a\nb\n", {"a", "b"}},
        {"a\r\nb\r\n", {"a", "b"}},                       // CR LF reads like LF
        {"// comment\n  // indented\nx\n", {"x"}},         // comments, also indented
        {"//\n/\n", {"/"}},                                // "//" alone is a comment, "/" is data
        {"\n   \n  value with  blanks  \n", {"value with  blanks"}},
        {"last line without end", {"last line without end"}},
        {"a\r\r\n", {"a\r"}},                              // only one CR goes
        {"\t//x\n", {"\t//x"}},                            // a tab is not trimmed
    };
    TempDir dir;
    for (const Case& c : cases) {
        dir.Write("t.txt", c.content);
        EXPECT_EQ(DataLines(dir.File("t.txt")), c.lines) << testing::PrintToString(c.content);
    }
}

TEST(File, VersionHeaderAndLineNumbers)
{
    TempDir dir;
    dir.Write("v.txt", "// v.txt\n// File version follows on next line.\n11\n\n42\nabc\n");
    File file(true, false);
    ASSERT_TRUE(file.OpenRead(dir.File("v.txt"), false, false));
    EXPECT_EQ(file.GetVersion(), 11);
    EXPECT_EQ(file.GetLineNumber(), 3);
    int value = 0;
    EXPECT_TRUE(file.GetInteger(value));
    EXPECT_EQ(value, 42);
    EXPECT_TRUE(file.GetInteger(value));  // letters read as 0, not an error
    EXPECT_EQ(value, 0);
    std::string log = CaptureLog([&] { EXPECT_FALSE(file.GetInteger(value)); });
    EXPECT_EQ(log, dir.File("v.txt") + ", Line 6: \nUnexpected end of file, wanted integer.\n");
}

TEST(File, EmptyVersionedFileFailsToOpen)
{
    TempDir dir;
    dir.Write("e.txt", "// only a comment\n");
    File file(true, false);
    std::string log = CaptureLog([&] { EXPECT_FALSE(file.OpenRead(dir.File("e.txt"), false, false)); });
    EXPECT_NE(log.find("Unexpected end of file, wanted integer."), std::string::npos);
    File missing(true, false);
    log = CaptureLog([&] { EXPECT_FALSE(missing.OpenRead(dir.File("none.txt"), false, false)); });
    EXPECT_EQ(log, "") << "a missing file fails silently";
    EXPECT_FALSE(missing.IsOk());
}

TEST(File, ReportErrorOnUnopenedFile)
{
    File file(false, false);
    EXPECT_EQ(CaptureLog([&] { file.ReportError("boom"); }), ", Line 0: \nboom\n");
}

TEST(File, WritesVersionedTextWithHeader)
{
    TempDir dir;
    {
        File file(true, false);
        ASSERT_TRUE(file.OpenWrite(dir.File("server.txt"), FILE_VERSION, false, false, true));
        EXPECT_TRUE(file.WriteUnsigned(2));
        EXPECT_TRUE(file.WriteString("alpha"));
        EXPECT_TRUE(file.WriteInteger(-80));
        EXPECT_TRUE(file.WriteFloat(2.5f));
        EXPECT_TRUE(file.WriteComment("// note"));
    }
    EXPECT_EQ(dir.Read("server.txt"),
              "// server.txt\n// File version follows on next line.\n11\n\n2\nalpha\n-80\n2.5\n// note\n");
    struct stat info;
    ASSERT_EQ(stat(dir.File("server.txt").c_str(), &info), 0);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(info.st_mode & 0777, 0664u & ~mask);
}

TEST(File, AppendsWithoutTruncate)
{
    TempDir dir;
    for (int i = 0; i < 2; ++i) {
        File file(false, false);
        ASSERT_TRUE(file.OpenWrite(dir.File("a.txt"), 0, false, false, false));
        file.WriteString("line");
    }
    EXPECT_EQ(dir.Read("a.txt"), "line\nline\n");
    File notOpen(false, false);
    EXPECT_FALSE(notOpen.WriteString("x"));
    EXPECT_FALSE(notOpen.WriteInteger(1));
}

TEST(File, BinaryValuesAreLittleEndian)
{
    TempDir dir;
    {
        File file(true, false);
        ASSERT_TRUE(file.OpenWrite(dir.File("b.dat"), 7, true, false, true));
        file.WriteInteger(1);
        file.WriteUnsigned(0x12345678u);
        file.WriteFloat(1.0f);
        file.WriteString("hi");
        file.WriteComment("// not written");
    }
    const std::string expected("\x07\0\0\0\x01\0\0\0\x78\x56\x34\x12\x00\x00\x80\x3f"
                               "hi\0",
                               19);
    EXPECT_EQ(dir.Read("b.dat"), expected);

    File file(true, false);
    ASSERT_TRUE(file.OpenRead(dir.File("b.dat"), true, false));
    EXPECT_EQ(file.GetVersion(), 7);
    int one = 0;
    unsigned word = 0;
    float real = 0;
    std::string text;
    EXPECT_TRUE(file.GetInteger(one));
    EXPECT_TRUE(file.GetUnsigned(word));
    EXPECT_TRUE(file.GetFloat(real));
    EXPECT_TRUE(file.ReadLine(text));
    EXPECT_EQ(one, 1);
    EXPECT_EQ(word, 0x12345678u);
    EXPECT_EQ(real, 1.0f);
    EXPECT_EQ(text, "hi");
    EXPECT_FALSE(file.GetInteger(one));
    EXPECT_FALSE(file.IsOk());
    EXPECT_EQ(file.GetLineNumber(), 0) << "binary reads count no lines";
}

TEST(File, OverlongLinesAreCutNotLooped)
{
    TempDir dir;
    std::string longLine(5000, 'x');
    dir.Write("long.txt", longLine + "\nnext\n" + std::string(999, 'y') + "\n");
    EXPECT_EQ(DataLines(dir.File("long.txt")),
              (std::vector<std::string>{std::string(999, 'x'), "next", std::string(999, 'y')}));
}

TEST(File, TokensAcrossLines)
{
    TempDir dir;
    dir.Write("tok.txt", "// c\nport:8080 a\n\nb 7 2.5\n");
    File file(false, false);
    ASSERT_TRUE(file.OpenRead(dir.File("tok.txt"), false, false));
    std::string token;
    ASSERT_TRUE(file.GetToken(token));
    EXPECT_EQ(token, "port:");
    EXPECT_TRUE(file.FindToken("b"));
    int number = 0;
    float real = 0;
    EXPECT_TRUE(file.GetIntToken(number));
    EXPECT_TRUE(file.GetFloatToken(real));
    EXPECT_EQ(number, 7);
    EXPECT_EQ(real, 2.5f);
    EXPECT_FALSE(file.GetToken(token));
    EXPECT_FALSE(file.FindToken("b"));
}

TEST(ConfigFile, RoundTrip)
{
    TempDir dir;
    ConfigFile config;
    config.Set("port", "8081");
    config.Set("name", "  inner  spaces kept  ");
    config.Set("", "ignored");
    config.Set("flag", "");
    ASSERT_TRUE(config.Save(dir.File("fv.cfg")));
    EXPECT_EQ(dir.Read("fv.cfg"),
              "// fv.cfg\n// File version follows on next line.\n11\n\n"
              "flag \nname   inner  spaces kept  \nport 8081\n");

    ConfigFile loaded;
    ASSERT_TRUE(loaded.Load(dir.File("fv.cfg")));
    EXPECT_EQ(loaded.GetValue("port"), "8081");
    EXPECT_EQ(loaded.GetValue("name"), "inner  spaces kept");
    EXPECT_TRUE(loaded.Exists("flag"));
    EXPECT_EQ(loaded.GetValue("flag"), "");
    EXPECT_FALSE(loaded.Exists(""));
    EXPECT_EQ(loaded.GetFloat("port"), 8081.0f);
    loaded.Erase("port");
    EXPECT_FALSE(loaded.Exists("port"));
    loaded.Clear();
    EXPECT_FALSE(loaded.Exists("name"));
}

TEST(ConfigFile, LoadRules)
{
    TempDir dir;
    dir.Write("fv.cfg", "11\nport:8080\nPort 1\nport 2\nport 3\nsingle\n");
    ConfigFile config;
    ASSERT_TRUE(config.Load(dir.File("fv.cfg")));
    EXPECT_EQ(config.GetValue("port:"), "8080");  // the colon stays on the key
    EXPECT_EQ(config.GetValue("Port"), "1");      // keys are case-sensitive
    EXPECT_EQ(config.GetValue("port"), "3");      // later lines win
    EXPECT_TRUE(config.Exists("single"));

    // The first data line is the version: a file that starts with the entry
    // loses it.
    dir.Write("noversion.cfg", "port 8081\n");
    ConfigFile headless;
    ASSERT_TRUE(headless.Load(dir.File("noversion.cfg")));
    EXPECT_FALSE(headless.Exists("port"));
}

TEST(ConfigFile, MissingFileKeepsWhatWasThere)
{
    ConfigFile config;
    EXPECT_FALSE(config.Load("/nonexistent/fv.cfg"));
    EXPECT_FALSE(config.Exists("port"));
    EXPECT_EQ(config.GetFloat("port"), 0.0f);
    config.Set("port", "1");
    EXPECT_FALSE(config.Load("/nonexistent/fv.cfg"));
    EXPECT_EQ(config.GetValue("port"), "1");
}

TEST(ConfigFile, SaveFailureIsReported)
{
    ConfigFile config;
    std::string log = CaptureLog([&] { EXPECT_FALSE(config.Save("/nonexistent/dir/fv.cfg")); });
    EXPECT_EQ(log, "/nonexistent/dir/fv.cfg, Line 0: \nCouldn't open config file for writing.\n");
}

}  // namespace
}  // namespace Kelm
