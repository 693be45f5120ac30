#include "usage/usage.h"

#include "args/text.h"
#include "platform/platform.h"

const char kCaption[] = "Kor Vanel";

namespace {

const char kArguments[] = "\n\nArguments:\n \"Class\" \"Title\" PRIORITY";
const char kFindWindowNote[] = "\n\n \"Class\", \"Title\" parameters for FindWindow() function";
const char kSamplesHeading[] = "\n\ncommand line samples:";
const char kSamples[] =
    "\n(for Desktop)\n Progman \"Program Manager\" ABOVE_NORMAL\n\n(for WMP)\n WMPlayerApp NULL -15";
const char kPrioritiesHeading[] = "\n\nPriority Parameters:";
const char kPriorities[] =
    "\n TIME_CRITICAL=15\n CRITICAL=15\n HIGHEST=2\n HIGH=1\n ABOVE_NORMAL=1\n NORMAL=0\n BELOW_NORMAL=-1\n LOW=-1"
    "\n LOWEST=-2\n ABOVE_IDLE=-2\n IDLE=-15";

// MB_OK is zero; it stays in the expression to say what the box holds.
// cppcheck-suppress badBitmaskCheck
const uint32_t kUsageStyle = platform::kMbOk | platform::kMbIconInformation | platform::kMbTopmost;

}  // namespace

bool IsLandscapeScreen()
{
    int width = platform::GetSystemMetrics(platform::kSmCxScreen);
    int height = platform::GetSystemMetrics(platform::kSmCyScreen);
    return width >= height;
}

void ComposeUsagePage(int number, bool landscape, char* page)
{
    CopyText(page, kUsagePageSize, "Korvanel Reference (");
    AppendDecimal(page, kUsagePageSize, number);
    AppendText(page, kUsagePageSize, "/2)");
    if (number == 1) {
        AppendText(page, kUsagePageSize, kArguments);
        if (!landscape)
            AppendText(page, kUsagePageSize, kFindWindowNote);
        AppendText(page, kUsagePageSize, kSamplesHeading);
        AppendText(page, kUsagePageSize, kSamples);
    } else {
        AppendText(page, kUsagePageSize, kPrioritiesHeading);
        AppendText(page, kUsagePageSize, kPriorities);
    }
}

void ShowUsageReference()
{
    bool landscape = IsLandscapeScreen();
    char page[kUsagePageSize];
    for (int number = 1; number <= 2; ++number) {
        ComposeUsagePage(number, landscape, page);
        platform::MessageBoxA(nullptr, page, kCaption, kUsageStyle);
    }
}
