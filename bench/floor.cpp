// The floor the tool is measured against: the least program that does the
// tool's whole job and nothing more. Built like the tool, importing the same
// system DLLs, it finds the benchmark's floor window, the thread that created
// it, opens that thread with the tool's access, sets its priority and closes it.
// The driver names the priority by the command line's last character: 'H' for
// HIGHEST, anything else for NORMAL, so that every run makes a real change.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string.h>

// msvcrt.dll among the imports, as the tool has it, called once.
extern "C" {
size_t (*volatile g_length)(const char*) = strlen;
}

extern "C" __attribute__((force_align_arg_pointer, noreturn)) void WinMainCRTStartup()
{
    const char* line = GetCommandLineA();
    size_t length = g_length(line);
    int priority = length > 0 && line[length - 1] == 'H' ? THREAD_PRIORITY_HIGHEST : THREAD_PRIORITY_NORMAL;
    HWND window = FindWindowA("KorvanelBenchFloor", nullptr);
    DWORD threadId = GetWindowThreadProcessId(window, nullptr);
    HANDLE thread = OpenThread(THREAD_SET_CONTEXT | THREAD_SET_INFORMATION | THREAD_SET_THREAD_TOKEN, FALSE, threadId);
    if (thread != nullptr) {
        SetThreadPriority(thread, priority);
        CloseHandle(thread);
    }
    ExitProcess(0);
}
