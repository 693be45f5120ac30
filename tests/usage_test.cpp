// The help pages: orientation, page texts, and how they are shown.
#include "expected_pages.h"
#include "platform/platform_double.h"
#include "usage/usage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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
    std::vector<std::string> expected = {"GetSystemMetrics(0)", "GetSystemMetrics(1)", Box(kExpectedPage1Landscape), Box(kExpectedPage2)};
    EXPECT_EQ(expected, LoggedCalls());
}

TEST(ShowUsageReference, PortraitScreenAddsTheFindWindowLine)
{
    ShowOnScreen(600, 800);
    std::vector<std::string> expected = {"GetSystemMetrics(0)", "GetSystemMetrics(1)", Box(kExpectedPage1Portrait), Box(kExpectedPage2)};
    EXPECT_EQ(expected, LoggedCalls());
}

TEST(ShowUsageReference, SquareScreenShowsTheShortFirstPage)
{
    ShowOnScreen(800, 800);
    ASSERT_EQ(4u, LoggedCalls().size());
    EXPECT_EQ(Box(kExpectedPage1Landscape), LoggedCalls()[2]);
}

TEST(ComposeUsagePage, LongestPageFitsUncut)
{
    char page[kUsagePageSize];
    ComposeUsagePage(1, false, page);
    EXPECT_STREQ(kExpectedPage1Portrait, page) << "the longest page must not be cut";
}

}  // namespace
