// The executable's entry. The tool needs none of the C runtime's start-up work,
// so it provides the entry point itself: it cuts the command tail by its own
// rule, hands it to WinMain and ends the process with WinMain's result.
#include "app/run.h"
#include "platform/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// The linker's name for the start of this image, which is its module handle.
extern "C" IMAGE_DOS_HEADER __ImageBase;  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

// Windows looks for a DLL that it loads by name later, uxtheme.dll for a themed
// box among others, in the program's own folder first: often Downloads, where
// anyone may have left a file of that name. Keep the search to System32 where
// Windows can (8 and later, Vista and 7 with KB2533623); older Windows lacks
// the call, and the tool runs there as before.
static void KeepDllSearchInSystem32()
{
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesCall)(DWORD);
    platform::ModuleHandle kernel = platform::GetModuleHandleA("kernel32.dll");
    platform::Procedure call =
        kernel != nullptr ? platform::GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    if (call != nullptr)
        reinterpret_cast<SetDefaultDllDirectoriesCall>(call)(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

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
    KeepDllSearchInSystem32();
    const char* tail = CutCommandTail(platform::GetCommandLineA());
    int code = WinMain(reinterpret_cast<HINSTANCE>(&__ImageBase), nullptr, const_cast<char*>(tail), SW_SHOWDEFAULT);
    ExitProcess(static_cast<UINT>(code));
}
