// The executable's entry. The tool needs none of the C runtime's start-up work,
// so it provides the entry point itself: it cuts the command tail by its own
// rule, hands it to WinMain and ends the process with WinMain's result.
#include "app/run.h"
#include "platform/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// The linker's name for the start of this image, which is its module handle.
extern "C" IMAGE_DOS_HEADER __ImageBase;  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

// Only the command tail is used: no window, no message loop.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    (void)hInstance;
    (void)hPrevInstance;
    (void)nShowCmd;
    return RunKorvanel(lpCmdLine);
}

// Windows enters with a 4-byte aligned stack on x86; realign for the compiler's assumptions.
extern "C" __attribute__((force_align_arg_pointer, noreturn)) void WinMainCRTStartup()
{
    const char* tail = CutCommandTail(platform::GetCommandLineA());
    int code = WinMain(reinterpret_cast<HINSTANCE>(&__ImageBase), nullptr, const_cast<char*>(tail), SW_SHOWDEFAULT);
    ExitProcess(static_cast<UINT>(code));
}
