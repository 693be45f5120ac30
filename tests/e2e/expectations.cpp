#include "expectations.h"

#include "../expected_pages.h"

namespace {

const char kCaption[] = "Kor Vanel";

}  // namespace

bool g_portrait = false;

void ExpectEndedWithZero(const ToolRun& run)
{
    EXPECT_TRUE(run.finished) << "the tool did not end within the time allowed";
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_LE(run.mostBoxesAtOnce, 1) << "more than one box was up at a time";
}

void ExpectBoxLook(const ShownBox& box, char iconColour)
{
    EXPECT_EQ(kCaption, box.caption);
    // Wine's MessageBox ignores MB_TOPMOST, so topmost cannot be judged from the
    // window; the host tests check the style the tool passes.
    EXPECT_EQ(1, box.buttons) << "expected a single button";
    EXPECT_TRUE(box.okButton) << "the button is not OK";
    EXPECT_EQ(iconColour, box.iconColour) << "icon colour ('r' error, 'b' information)";
}

void ExpectHelpPages(const ToolRun& run)
{
    ExpectEndedWithZero(run);
    ASSERT_EQ(2u, run.boxes.size()) << "expected page 1 and page 2";
    EXPECT_EQ(g_portrait ? kExpectedPage1Portrait : kExpectedPage1Landscape, run.boxes[0].text);
    EXPECT_EQ(kExpectedPage2, run.boxes[1].text);
    for (const ShownBox& box : run.boxes)
        ExpectBoxLook(box, 'b');
}

void ExpectSilent(const ToolRun& run)
{
    ExpectEndedWithZero(run);
    EXPECT_EQ(0u, run.boxes.size()) << "expected no box";
}

void Target::Start(const char* className, const char* title)
{
    Start(Widen(className).c_str(), Widen(title).c_str());
}

void Target::Start(const wchar_t* className, const wchar_t* title)
{
    StopTargetWindow(&target);
    target = StartTargetWindow(className, title);
    ASSERT_NE(nullptr, target.window) << "could not create the target window";
    ASSERT_EQ(THREAD_PRIORITY_NORMAL, Priority());
}

void Target::TearDown()
{
    StopTargetWindow(&target);
}

int Target::Priority() const
{
    return GetThreadPriority(target.thread);
}

