#include "expectations.h"

namespace {

const char kCaption[] = "Kor Vanel";

const char kPage1Landscape[] =
    "Korvanel Reference (1/2)\n\nArguments:\n \"Class\" \"Title\" PRIORITY\n\ncommand line samples:\n"
    "(for Desktop)\n Progman \"Program Manager\" ABOVE_NORMAL\n\n(for WMP)\n WMPlayerApp NULL -15";
const char kPage1Portrait[] =
    "Korvanel Reference (1/2)\n\nArguments:\n \"Class\" \"Title\" PRIORITY\n\n"
    " \"Class\", \"Title\" parameters for FindWindow() function\n\ncommand line samples:\n"
    "(for Desktop)\n Progman \"Program Manager\" ABOVE_NORMAL\n\n(for WMP)\n WMPlayerApp NULL -15";
const char kPage2[] =
    "Korvanel Reference (2/2)\n\nPriority Parameters:\n TIME_CRITICAL=15\n CRITICAL=15\n HIGHEST=2\n HIGH=1\n"
    " ABOVE_NORMAL=1\n NORMAL=0\n BELOW_NORMAL=-1\n LOW=-1\n LOWEST=-2\n ABOVE_IDLE=-2\n IDLE=-15";

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
    // Wine's MessageBox ignores MB_TOPMOST, so box.topmost cannot be judged here;
    // the host tests check the style the tool passes.
    EXPECT_EQ(1, box.buttons) << "expected a single button";
    EXPECT_TRUE(box.okButton) << "the button is not OK";
    EXPECT_EQ(iconColour, box.iconColour) << "icon colour ('r' error, 'b' information)";
}

void ExpectHelpPages(const ToolRun& run)
{
    ExpectEndedWithZero(run);
    ASSERT_EQ(2u, run.boxes.size()) << "expected page 1 and page 2";
    EXPECT_EQ(g_portrait ? kPage1Portrait : kPage1Landscape, run.boxes[0].text);
    EXPECT_EQ(kPage2, run.boxes[1].text);
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

