#include "app/run.h"

#include "args/arguments.h"
#include "args/text.h"
#include "usage/usage.h"

#include <stdlib.h>
#include <string.h>

namespace {

// MB_OK is zero; it stays in the expression to say what the box holds.
// cppcheck-suppress badBitmaskCheck
const uint32_t kErrorStyle = platform::kMbOk | platform::kMbIconError | platform::kMbTopmost;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

const char* NullIfEmpty(const char* text)
{
    return text[0] == '\0' ? nullptr : text;
}

// What a run has to tell the user.
enum class Report { kNothing, kUsage, kRefusal };

// The run between setting up its buffers and releasing them: the parse, the
// lookup and the change. A miss and a success have nothing to report.
Report ActOnTail(const char* tail, RunArguments* arguments, uint32_t* lastError)
{
    if (tail == nullptr || tail[0] == '\0' || !ParseArguments(tail, arguments))
        return Report::kUsage;
    platform::WindowHandle window =
        platform::FindWindowA(NullIfEmpty(arguments->className), NullIfEmpty(arguments->windowTitle));
    if (window == nullptr)
        return Report::kNothing;
    if (!ApplyWindowThreadPriority(window, arguments->priority, lastError))
        return Report::kRefusal;
    return Report::kNothing;
}

// False only when the process's window station is known not to reach a screen
// (a service, or a scheduled task run whether the user is logged on or not).
bool IsWindowStationVisible()
{
    platform::Handle station = platform::GetProcessWindowStation();  // not to be closed
    platform::UserObjectFlags flags = {0, 0, 0};
    uint32_t needed = 0;  // older Windows may not take a null length pointer
    if (station == nullptr ||
        !platform::GetUserObjectInformationA(station, platform::kUoiFlags, &flags, sizeof(flags), &needed))
        return true;  // cannot tell: show the box, as the tool always has
    return (flags.flags & platform::kWsfVisible) != 0;
}

// True on Windows Vista and later. Asked of kernel32's exports, not of the
// version number, which a compatibility mode ("Windows XP SP3") makes read 5.1.
bool IsVistaOrLater()
{
    platform::ModuleHandle kernel = platform::GetModuleHandleA("kernel32.dll");
    return kernel != nullptr && platform::GetProcAddress(kernel, "GetTickCount64") != nullptr;
}

// True only in session 0 on Windows Vista and later, where it holds services
// alone and normally nobody sees it. Before Vista session 0 is a user's own:
// the first one logged on, at the console or by Remote Desktop.
bool IsInUnseenServicesSession()
{
    uint32_t session = 0;
    if (!platform::ProcessIdToSessionId(platform::GetCurrentProcessId(), &session) || session != 0)
        return false;  // cannot tell, or a user's session: show the box
    return IsVistaOrLater();
}

// A box nobody can answer keeps the process alive for good, so one is shown
// only where somebody may see it.
bool CanSomebodyAnswerABox()
{
    return IsWindowStationVisible() && !IsInUnseenServicesSession();
}

// Shows the help pages or the error box, if there is something to show and
// somebody to see it.
void ShowReport(Report report, uint32_t lastError)
{
    if (report == Report::kNothing || !CanSomebodyAnswerABox())
        return;
    if (report == Report::kUsage) {
        ShowUsageReference();
        return;
    }
    char text[kErrorTextSize];
    ComposeErrorText(lastError, text);
    platform::MessageBoxA(nullptr, text, kCaption, kErrorStyle);
}

}  // namespace

const char* CutCommandTail(const char* commandLine)
{
    if (commandLine == nullptr)
        return nullptr;
    const char* c = commandLine;
    while (IsBlank(*c))
        ++c;
    if (*c == '"') {
        ++c;
        while (*c != '\0' && *c != '"')
            ++c;
        if (*c == '"')
            ++c;
    } else {
        while (*c != '\0' && !IsBlank(*c))
            ++c;
    }
    while (IsBlank(*c))
        ++c;
    return c;
}

bool ApplyWindowThreadPriority(platform::WindowHandle window, int32_t priority, uint32_t* lastError)
{
    if (lastError != nullptr)
        *lastError = 0;
    uint32_t threadId = platform::GetWindowThreadProcessId(window, nullptr);
    platform::Handle thread = platform::OpenThread(kThreadPriorityAccess, false, threadId);
    if (thread == nullptr) {
        if (lastError != nullptr)
            *lastError = platform::kErrorInvalidHandle;
        return false;
    }
    bool changed = platform::SetThreadPriority(thread, priority);
    uint32_t error = platform::GetLastError();
    platform::CloseHandle(thread);
    if (lastError != nullptr)
        *lastError = error;
    return changed;
}

void ComposeErrorText(uint32_t lastError, char* text)
{
    CopyText(text, kErrorTextSize, "SetThreadPriority function error\n\nGetLastError()=");
    // Shown as a signed number, as the platform's codes are when printed with %d.
    int32_t code = lastError <= INT32_MAX ? static_cast<int32_t>(lastError)
                                          : static_cast<int32_t>(lastError - 0x80000000u) + INT32_MIN;
    AppendDecimal(text, kErrorTextSize, code);
    AppendText(text, kErrorTextSize, "\n");
}

int RunKorvanel(const char* tail)
{
    RunArguments arguments;
    memset(&arguments, 0, sizeof(arguments));
    arguments.className = static_cast<char*>(calloc(kClassNameSize, 1));
    arguments.windowTitle = static_cast<char*>(calloc(kWindowTitleSize, 1));
    // Without the buffers nothing can be done, not even safely explained; end quietly.
    if (arguments.className != nullptr && arguments.windowTitle != nullptr) {
        uint32_t lastError = 0;
        Report report = ActOnTail(tail, &arguments, &lastError);
        ShowReport(report, lastError);
    }
    free(arguments.windowTitle);
    free(arguments.className);
    return 0;
}
