// The real tool, started as a user's shortcut or script would start it,
// against real windows, with every box it shows read and answered.
#include "expectations.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <string>

namespace {

// --- changes that succeed ---------------------------------------------------------

TEST_F(Target, KeywordSetsPriorityAndShowsNothing)
{
    Start("KorvanelKeywordTarget", "Keyword Target");
    ExpectSilent(RunTool(QuotedTool() + " KorvanelKeywordTarget NULL HIGHEST"));
    EXPECT_EQ(THREAD_PRIORITY_HIGHEST, Priority());
}

TEST_F(Target, NumbersAreClampedAndApplied)
{
    Start("KorvanelNumberTarget", "Number Target Window");
    const struct {
        const char* priority;
        int expected;
    } rows[] = {{"-1", -1}, {"0x0F", 15}, {"-16", -15}, {"1", 1}, {"4294967294", -2}, {"017", 15}, {"abc", 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string("priority ") + row.priority);
        ExpectSilent(RunTool(QuotedTool() + " NULL \"Number Target Window\" " + row.priority));
        EXPECT_EQ(row.expected, Priority()) << "priority " << row.priority;
    }
}

TEST_F(Target, ClassAndTitleMustBothMatch)
{
    Start("KorvanelPairTarget", "Pair Target");
    ExpectSilent(RunTool(QuotedTool() + " KorvanelPairTarget \"Other Title\" HIGHEST"));
    EXPECT_EQ(THREAD_PRIORITY_NORMAL, Priority()) << "a window with another title was changed";
    ExpectSilent(RunTool(QuotedTool() + " \"KorvanelPairTarget\" \"Pair Target\" LOWEST"));
    EXPECT_EQ(THREAD_PRIORITY_LOWEST, Priority());
}

TEST_F(Target, ProgramNameGluedToTheFirstArgument)
{
    Start("KorvanelGluedTarget", "Glued Target");
    ExpectSilent(RunTool(QuotedTool() + "KorvanelGluedTarget NULL ABOVE_NORMAL"));
    EXPECT_EQ(THREAD_PRIORITY_ABOVE_NORMAL, Priority());
}

TEST_F(Target, BlanksAndTabsAroundTheArguments)
{
    Start("KorvanelBlankTarget", "Blank Target");
    ExpectSilent(RunTool("  " + QuotedTool() + " \t KorvanelBlankTarget\t\"Blank Target\"  IDLE \t "));
    EXPECT_EQ(THREAD_PRIORITY_IDLE, Priority());
}

// --- refusals and misses ------------------------------------------------------------

TEST_F(Target, RefusedPriorityShowsThePlatformsErrorCode)
{
    Start("KorvanelRefusedTarget", "Refused Target");
    ToolRun run = RunTool(QuotedTool() + " KorvanelRefusedTarget NULL 5");
    ExpectEndedWithZero(run);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ("SetThreadPriority function error\n\nGetLastError()=87\n", run.boxes[0].text);
    ExpectBoxLook(run.boxes[0], 'r');
    EXPECT_EQ(THREAD_PRIORITY_NORMAL, Priority());
}

TEST(Miss, MissingWindowShowsNothing)
{
    ExpectSilent(RunTool(QuotedTool() + " KorvanelNoSuchClass NULL NORMAL"));
}

// --- help pages ----------------------------------------------------------------------

TEST(Help, EmptyTailShowsBothPages)
{
    ExpectHelpPages(RunTool(QuotedTool()));
    ExpectHelpPages(RunTool(QuotedTool() + "   \t "));
}

TEST(Help, MalformedTailShowsBothPages)
{
    ExpectHelpPages(RunTool(QuotedTool() + " OnlyTwo Tokens"));
    ExpectHelpPages(RunTool(QuotedTool() + " \"\""));
    ExpectHelpPages(RunTool(QuotedTool() + " A B C D"));
    ExpectHelpPages(RunTool(QuotedTool() + " Class \"open quote and more"));
}

}  // namespace

// Usage: korvanel_e2e_tests.exe TOOL.exe landscape|portrait|any [gtest options]
// The orientation says which screen the runner set up; "any" takes the screen as it is.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    bool known = argc == 3 && (strcmp(argv[2], "landscape") == 0 || strcmp(argv[2], "portrait") == 0 ||
                               strcmp(argv[2], "any") == 0);
    if (!known) {
        fprintf(stderr, "usage: %s TOOL.exe landscape|portrait|any [gtest options]\n", argv[0]);
        return 2;
    }
    g_toolPath = argv[1];
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    g_portrait = width < height;
    if (strcmp(argv[2], "any") != 0 && g_portrait != (strcmp(argv[2], "portrait") == 0)) {
        fprintf(stderr, "the screen is %dx%d, not %s\n", width, height, argv[2]);
        return 2;
    }
    return RUN_ALL_TESTS();
}
