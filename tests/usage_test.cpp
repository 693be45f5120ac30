// The help pages: orientation, page texts, and how they are shown.
#include "platform/platform_double.h"
#include "usage/usage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char kPage1Landscape[] =
    "Korvanel Reference (1/2)\n"
    "\n"
    "Arguments:\n"
    " \"Class\" \"Title\" PRIORITY\n"
    "\n"
    "command line samples:\n"
    "(for Desktop)\n"
    " Progman \"Program Manager\" ABOVE_NORMAL\n"
    "\n"
    "(for WMP)\n"
    " WMPlayerApp NULL -15";

const char kPage1Portrait[] =
    "Korvanel Reference (1/2)\n"
    "\n"
    "Arguments:\n"
    " \"Class\" \"Title\" PRIORITY\n"
    "\n"
    " \"Class\", \"Title\" parameters for FindWindow() function\n"
    "\n"
    "command line samples:\n"
    "(for Desktop)\n"
    " Progman \"Program Manager\" ABOVE_NORMAL\n"
    "\n"
    "(for WMP)\n"
    " WMPlayerApp NULL -15";

const char kPage2[] =
    "Korvanel Reference (2/2)\n"
    "\n"
    "Priority Parameters:\n"
    " TIME_CRITICAL=15\n"
    " CRITICAL=15\n"
    " HIGHEST=2\n"
    " HIGH=1\n"
    " ABOVE_NORMAL=1\n"
    " NORMAL=0\n"
    " BELOW_NORMAL=-1\n"
    " LOW=-1\n"
    " LOWEST=-2\n"
    " ABOVE_IDLE=-2\n"
    " IDLE=-15";

std::string Box(const char* text)
{
    return std::string("MessageBoxA(null, \"") + text + "\", \"Kor Vanel\", 0x40040)";
}

void ShowOnScreen(int width, int height)
{
    ResetPlatformDouble();
    g_platform.script.screenWidth = width;
    g_platform.script.screenHeight = height;
    ShowUsageReference();
}

TEST(IsLandscapeScreen, SquareCountsAsLandscape)
{
    const struct {
        int width;
        int height;
        bool landscape;
    } rows[] = {{1024, 768, true}, {600, 800, false}, {800, 800, true}, {0, 0, true}, {-1, 0, false}, {0, -1, true}};
    for (const auto& row : rows) {
        ResetPlatformDouble();
        g_platform.script.screenWidth = row.width;
        g_platform.script.screenHeight = row.height;
        EXPECT_EQ(row.landscape, IsLandscapeScreen()) << row.width << "x" << row.height;
    }
}

TEST(ShowUsageReference, LandscapeScreenShowsTheShortFirstPage)
{
    ShowOnScreen(1024, 768);
    std::vector<std::string> expected = {"GetSystemMetrics(0)", "GetSystemMetrics(1)", Box(kPage1Landscape), Box(kPage2)};
    EXPECT_EQ(expected, LoggedCalls());
}

TEST(ShowUsageReference, PortraitScreenAddsTheFindWindowLine)
{
    ShowOnScreen(600, 800);
    std::vector<std::string> expected = {"GetSystemMetrics(0)", "GetSystemMetrics(1)", Box(kPage1Portrait), Box(kPage2)};
    EXPECT_EQ(expected, LoggedCalls());
}

TEST(ShowUsageReference, SquareScreenShowsTheShortFirstPage)
{
    ShowOnScreen(800, 800);
    ASSERT_EQ(4u, LoggedCalls().size());
    EXPECT_EQ(Box(kPage1Landscape), LoggedCalls()[2]);
}

TEST(ComposeUsagePage, LongestPageFitsWithRoomToSpare)
{
    char page[kUsagePageSize];
    ComposeUsagePage(1, false, page);
    EXPECT_STREQ(kPage1Portrait, page) << "the longest page must not be cut";
    EXPECT_LT(sizeof(kPage1Portrait), kUsagePageSize);
}

}  // namespace
