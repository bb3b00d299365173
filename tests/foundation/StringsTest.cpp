// Text functions and the tokeniser, by tables of cases.
#include <gtest/gtest.h>

#include "foundation/Strings.h"
#include "foundation/Tokeniser.h"

namespace Kelm {
namespace {

TEST(Tokeniser, TakesOneTokenAtATime)
{
    struct Case {
        std::string line;
        std::vector<std::string> tokens;  // in order, then Tokenise fails
    };
    const Case cases[] = {
        {"   GET   /index.html   HTTP/1.1 ", {"GET", "/index.html", "HTTP/1.1"}},
        {"port:8080", {"port:", "8080"}},
        {"port 8080", {"port", "8080"}},
        {":", {":"}},
        {"Host: server1", {"Host:", "server1"}},
        {"a\tb c", {"a\tb", "c"}},  // tabs do not separate
        {"x", {"x"}},
        {"", {}},
        {"     ", {}},
        {"a::b", {"a:", ":", "b"}},
    };
    for (const Case& c : cases) {
        std::string line = c.line, token = "unchanged";
        for (const std::string& expected : c.tokens) {
            ASSERT_TRUE(Tokeniser().Tokenise(line, token)) << "line '" << c.line << "'";
            EXPECT_EQ(token, expected) << "line '" << c.line << "'";
        }
        std::string before = token;
        EXPECT_FALSE(Tokeniser().Tokenise(line, token)) << "line '" << c.line << "'";
        EXPECT_EQ(token, before) << "a failed Tokenise leaves the token alone";
    }
}

TEST(Tokeniser, LeavesTheRestTrimmed)
{
    std::string line = "   GET   /index.html   HTTP/1.1 ", token;
    Tokeniser().Tokenise(line, token);
    EXPECT_EQ(line, "/index.html   HTTP/1.1");
    Tokeniser().Tokenise(line, token);
    EXPECT_EQ(line, "HTTP/1.1");
    Tokeniser().Tokenise(line, token);
    EXPECT_EQ(line, "");
}

TEST(Strings, Split)
{
    struct Case {
        std::string text;
        char separator;
        std::vector<std::string> pieces;
    };
    const Case cases[] = {
        {"", '&', {""}},
        {"a=", '=', {"a", ""}},
        {"a&&b", '&', {"a", "", "b"}},
        {"a&b&", '&', {"a", "b", ""}},
        {"&", '&', {"", ""}},
        {"abc", '&', {"abc"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Split(c.text, c.separator), c.pieces) << "'" << c.text << "'";
    }
}

TEST(Strings, Replace)
{
    struct Case {
        std::string text, from, to, result;
    };
    const Case cases[] = {
        {"a%20b%20c", "%20", " ", "a b c"},
        {"abb", "ab", "a", "a"},  // rescans from the front
        {"", "x", "y", ""},
        {"no match", "%20", " ", "no match"},
        {"a\nb\n", "\n", "", "ab"},
        {"aa", "a", "aa", "aaaa"},  // a replacement holding its pattern ends
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Replace(c.text, c.from, c.to), c.result) << "'" << c.text << "'";
    }
}

TEST(Strings, PathPieces)
{
    struct Case {
        std::string path, stripped, directory, ext, noExt;
    };
    const Case cases[] = {
        {"a.b.c", "a.b.c", "a.b.c", "c", "a.b"},
        {"abc", "abc", "abc", "", "abc"},
        {"dir/sub\\file.txt", "file.txt", "dir", "txt", "dir/sub\\file"},
        {"file.txt", "file.txt", "file.txt", "txt", "file"},
        {"/Details-Host-80.html", "Details-Host-80.html", "", "html", "/Details-Host-80"},
        {"/x/", "", "/x", "", "/x/"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StripPath(c.path), c.stripped) << c.path;
        EXPECT_EQ(GetDirectory(c.path), c.directory) << c.path;
        EXPECT_EQ(GetFileExt(c.path), c.ext) << c.path;
        EXPECT_EQ(GetFileNoExt(c.path), c.noExt) << c.path;
    }
}

TEST(Strings, NumbersAndCase)
{
    EXPECT_EQ(ToString(3.14159f, 2), "3.14");
    EXPECT_EQ(ToString(2.5f, 2), "2.50");
    EXPECT_EQ(ToString(7u), "7");
    EXPECT_EQ(ToString(-7), "-7");
    EXPECT_EQ(ToString(4294967295u), "4294967295");
    EXPECT_EQ(ToString(1.5f), "1.500000");
    EXPECT_EQ(ToLower("MiXeD-123\xC4"), "mixed-123\xC4");
    EXPECT_EQ(RemoveChar("a-b-c", '-'), "abc");
    EXPECT_TRUE(StartsWith("details-a-80", "details"));
    EXPECT_FALSE(StartsWith("del", "details"));
    EXPECT_TRUE(StartsWith("x", ""));
    EXPECT_TRUE(Contains("old-chart-1.png", "chart-"));
    EXPECT_FALSE(Contains("chart", "chart-"));
}

TEST(Strings, TrimOnlyBlanks)
{
    struct Case {
        std::string text, trimmed;
    };
    const Case cases[] = {
        {"\tx ", "\tx"}, {"  a b  ", "a b"}, {"   ", ""}, {"", ""}, {"x\r", "x\r"}, {" \n", "\n"},
    };
    for (Case c : cases) {
        std::string text = c.text;
        Trim(text);
        EXPECT_EQ(text, c.trimmed);
    }
}

TEST(Strings, TruncateToInt)
{
    EXPECT_EQ(TruncateToInt(8081.7f), 8081);
    EXPECT_EQ(TruncateToInt(-3.9f), -3);
    EXPECT_EQ(TruncateToInt(1e20f), 0);
    EXPECT_EQ(TruncateToInt(-1e20f), 0);
    EXPECT_EQ(TruncateToInt(std::numeric_limits<float>::quiet_NaN()), 0);
}

}  // namespace
}  // namespace Kelm
