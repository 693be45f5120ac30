// The Windows half of the platform layer: each function forwards to the real call.
#include "platform/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace platform {

static_assert(sizeof(UserObjectFlags) == sizeof(USEROBJECTFLAGS), "UserObjectFlags is USEROBJECTFLAGS");

WindowHandle FindWindowA(const char* className, const char* windowName)
{
    return reinterpret_cast<WindowHandle>(::FindWindowA(className, windowName));
}

uint32_t GetWindowThreadProcessId(WindowHandle window, uint32_t* processId)
{
    DWORD process = 0;
    DWORD thread = ::GetWindowThreadProcessId(reinterpret_cast<HWND>(window), processId != nullptr ? &process : nullptr);
    if (processId != nullptr)
        *processId = process;
    return thread;
}

Handle OpenThread(uint32_t desiredAccess, bool inheritHandle, uint32_t threadId)
{
    return reinterpret_cast<Handle>(::OpenThread(desiredAccess, inheritHandle ? TRUE : FALSE, threadId));
}

bool SetThreadPriority(Handle thread, int32_t priority)
{
    return ::SetThreadPriority(reinterpret_cast<HANDLE>(thread), priority) != FALSE;
}

uint32_t GetLastError()
{
    return ::GetLastError();
}

bool CloseHandle(Handle object)
{
    return ::CloseHandle(reinterpret_cast<HANDLE>(object)) != FALSE;
}

int MessageBoxA(WindowHandle owner, const char* text, const char* caption, uint32_t type)
{
    return ::MessageBoxA(reinterpret_cast<HWND>(owner), text, caption, type);
}

int GetSystemMetrics(int index)
{
    return ::GetSystemMetrics(index);
}

Handle GetProcessWindowStation()
{
    return reinterpret_cast<Handle>(::GetProcessWindowStation());
}

bool GetUserObjectInformationA(Handle object, int index, void* information, uint32_t length, uint32_t* lengthNeeded)
{
    DWORD needed = 0;
    BOOL done = ::GetUserObjectInformationA(reinterpret_cast<HANDLE>(object), index, information, length,
                                            lengthNeeded != nullptr ? &needed : nullptr);
    if (lengthNeeded != nullptr)
        *lengthNeeded = needed;
    return done != FALSE;
}

uint32_t GetCurrentProcessId()
{
    return ::GetCurrentProcessId();
}

bool ProcessIdToSessionId(uint32_t processId, uint32_t* sessionId)
{
    DWORD session = 0;
    BOOL done = ::ProcessIdToSessionId(processId, &session);
    *sessionId = session;
    return done != FALSE;
}

ModuleHandle GetModuleHandleA(const char* moduleName)
{
    return reinterpret_cast<ModuleHandle>(::GetModuleHandleA(moduleName));
}

Procedure GetProcAddress(ModuleHandle module, const char* procName)
{
    return reinterpret_cast<Procedure>(::GetProcAddress(reinterpret_cast<HMODULE>(module), procName));
}

const char* GetCommandLineA()
{
    return ::GetCommandLineA();
}

}  // namespace platform
