// Command lines no sane user types, but a script or a shortcut might: the tool
// must still end with code 0 and answer as it always does.
#include "expectations.h"

#include <string>

namespace {

// CreateProcess takes at most 32767 characters, the terminator included.
const size_t kLongestCommandLine = 32766;

std::string FillTo(std::string line, size_t length, const std::string& filler)
{
    while (line.size() + filler.size() <= length)
        line += filler;
    line.append(length - line.size(), filler[0]);
    return line;
}

TEST(HostileInput, CommandLineOfTheLongestLength)
{
    // Class and title at their limits and a priority of 30000 digits: parses, finds nothing.
    std::string line = FillTo(QuotedTool() + " " + std::string(255, 'c') + " " + std::string(1023, 't') + " ",
                              kLongestCommandLine, "9");
    ASSERT_EQ(kLongestCommandLine, line.size());
    ExpectSilent(RunTool(line));

    ExpectHelpPages(RunTool(FillTo(QuotedTool() + " ", kLongestCommandLine, "A ")));
    ExpectHelpPages(RunTool(FillTo(QuotedTool() + " ", kLongestCommandLine, "x")));
}

TEST(HostileInput, ClassOrTitleLongerThanItsBuffer)
{
    ExpectHelpPages(RunTool(QuotedTool() + " " + std::string(256, 'c') + " NULL 1"));
    ExpectHelpPages(RunTool(QuotedTool() + " NULL \"" + std::string(1024, 't') + "\" 1"));
    ExpectHelpPages(RunTool(QuotedTool() + " " + std::string(20000, 'c') + " " + std::string(10000, 't') + " 1"));
}

TEST_F(Target, LongestClassAndTitleAreFound)
{
    std::string className(255, 'K');
    std::string title = "T" + std::string(1021, '-') + "T";
    Start(className.c_str(), title.c_str());
    ExpectSilent(RunTool(QuotedTool() + " " + className + " \"" + title + "\" HIGHEST"));
    EXPECT_EQ(THREAD_PRIORITY_HIGHEST, Priority());
}

TEST_F(Target, AccentedTitleInTheAnsiCodePageIsFound)
{
    const char title[] = "Caf\xe9 \xc0 la fen\xeatre \xff";  // Latin letters with accents, as the ANSI code page has them
    Start("KorvanelAccentTarget", title);
    ASSERT_EQ(target.window, FindWindowA(nullptr, title)) << "this code page cannot hold the title";
    ExpectSilent(RunTool(QuotedTool() + " NULL \"" + title + "\" -2"));
    EXPECT_EQ(THREAD_PRIORITY_LOWEST, Priority());
}

TEST_F(Target, ControlCharactersAreText)
{
    const char className[] = "Korvanel\x01\x1f\x7f" "Control";
    Start(className, "Control Target");
    ExpectSilent(RunTool(QuotedTool() + " " + className + " NULL 1"));
    EXPECT_EQ(THREAD_PRIORITY_ABOVE_NORMAL, Priority());
    // Line breaks are no separators: this names another class, which does not exist.
    ExpectSilent(RunTool(QuotedTool() + " Korvanel\r\nControl NULL 2"));
    EXPECT_EQ(THREAD_PRIORITY_ABOVE_NORMAL, Priority());
}

TEST(HostileInput, UnbalancedQuotes)
{
    ExpectHelpPages(RunTool(QuotedTool() + " Class \"Title"));
    ExpectHelpPages(RunTool(QuotedTool() + " \"Class Title 1"));
    // An unterminated quote around the program name swallows the whole line: empty tail.
    ExpectHelpPages(RunTool("\"" + g_toolPath + " KorvanelNoSuchClass NULL 1"));
}

TEST(HostileInput, OnlySeparators)
{
    ExpectHelpPages(RunTool(QuotedTool() + " \"\" \"\"\t\"\t\"  \t"));
}

TEST(HostileInput, HugeNumberOfTokens)
{
    ExpectHelpPages(RunTool(FillTo(QuotedTool() + " ", 20000, "\"a\"")));
}

}  // namespace
