#include "platform/platform_double.h"

#include <algorithm>

#include <stdio.h>
#include <strings.h>
#include <string.h>

PlatformDouble g_platform;

namespace {

platform::WindowHandle const kTargetWindow = reinterpret_cast<platform::WindowHandle>(0x10010);
platform::Handle const kTargetThread = reinterpret_cast<platform::Handle>(0x2c);
platform::Handle const kWindowStation = reinterpret_cast<platform::Handle>(0x3c);
platform::ModuleHandle const kKernel32 = reinterpret_cast<platform::ModuleHandle>(0x7c800000);
const uint32_t kTargetProcessId = 4321;
const uint32_t kOwnProcessId = 2468;

std::string Quoted(const char* text)
{
    return text == nullptr ? "null" : "\"" + std::string(text) + "\"";
}

std::string Hex(uint32_t value)
{
    char text[16];
    (void)snprintf(text, sizeof(text), "0x%x", value);
    return text;
}

std::string Pointer(const void* value)
{
    char text[32];
    (void)snprintf(text, sizeof(text), "%p", value);
    return value == nullptr ? "null" : text;
}

void Log(const char* name, const std::string& arguments)
{
    g_platform.calls.push_back(PlatformCall{name, arguments});
}

}  // namespace

void ResetPlatformDouble()
{
    PlatformScript& script = g_platform.script;
    script = PlatformScript{};
    script.window = kTargetWindow;
    script.threadId = 1234;
    script.thread = kTargetThread;
    script.priorityAccepted = true;
    script.screenWidth = 1024;
    script.screenHeight = 768;
    script.station = kWindowStation;
    script.stationFlagsAnswered = true;
    script.stationFlags = platform::kWsfVisible;
    script.sessionAnswered = true;
    script.sessionId = 1;
    script.version = 10;  // 10.0
    g_platform.calls.clear();
    g_platform.openHandles = 0;
}

std::vector<std::string> LoggedCalls()
{
    std::vector<std::string> lines(g_platform.calls.size());
    std::transform(g_platform.calls.begin(), g_platform.calls.end(), lines.begin(),
                   [](const PlatformCall& call) { return call.name + "(" + call.arguments + ")"; });
    return lines;
}

namespace platform {

WindowHandle FindWindowA(const char* className, const char* windowName)
{
    Log("FindWindowA", Quoted(className) + ", " + Quoted(windowName));
    return g_platform.script.window;
}

uint32_t GetWindowThreadProcessId(WindowHandle window, uint32_t* processId)
{
    Log("GetWindowThreadProcessId", Pointer(window) + ", " + (processId == nullptr ? "null" : "out"));
    if (processId != nullptr)
        *processId = kTargetProcessId;
    return g_platform.script.threadId;
}

Handle OpenThread(uint32_t desiredAccess, bool inheritHandle, uint32_t threadId)
{
    Log("OpenThread", Hex(desiredAccess) + ", " + (inheritHandle ? "true" : "false") + ", " + std::to_string(threadId));
    if (g_platform.script.thread != nullptr)
        ++g_platform.openHandles;
    return g_platform.script.thread;
}

bool SetThreadPriority(Handle thread, int32_t priority)
{
    Log("SetThreadPriority", Pointer(thread) + ", " + std::to_string(priority));
    return g_platform.script.priorityAccepted;
}

uint32_t GetLastError()
{
    Log("GetLastError", "");
    return g_platform.script.lastError;
}

bool CloseHandle(Handle object)
{
    Log("CloseHandle", Pointer(object));
    if (object == nullptr || object != g_platform.script.thread || g_platform.openHandles == 0)
        return false;
    --g_platform.openHandles;
    return true;
}

int MessageBoxA(WindowHandle owner, const char* text, const char* caption, uint32_t type)
{
    Log("MessageBoxA", Pointer(owner) + ", " + Quoted(text) + ", " + Quoted(caption) + ", " + Hex(type));
    return 1;  // IDOK
}

int GetSystemMetrics(int index)
{
    Log("GetSystemMetrics", std::to_string(index));
    if (index == kSmCxScreen)
        return g_platform.script.screenWidth;
    if (index == kSmCyScreen)
        return g_platform.script.screenHeight;
    return 0;
}

Handle GetProcessWindowStation()
{
    Log("GetProcessWindowStation", "");
    return g_platform.script.station;
}

bool GetUserObjectInformationA(Handle object, int index, void* information, uint32_t length, uint32_t* lengthNeeded)
{
    Log("GetUserObjectInformationA", Pointer(object) + ", " + std::to_string(index) + ", " + std::to_string(length) +
                                         ", " + (lengthNeeded == nullptr ? "null" : "out"));
    // Older references give the length pointer as required; a Windows that follows them may fail without it.
    if (object == nullptr || object != g_platform.script.station || index != kUoiFlags ||
        length < sizeof(UserObjectFlags) || lengthNeeded == nullptr || !g_platform.script.stationFlagsAnswered)
        return false;
    UserObjectFlags flags = {0, 0, g_platform.script.stationFlags};
    memcpy(information, &flags, sizeof(flags));
    *lengthNeeded = sizeof(flags);
    return true;
}

uint32_t GetCurrentProcessId()
{
    Log("GetCurrentProcessId", "");
    return kOwnProcessId;
}

bool ProcessIdToSessionId(uint32_t processId, uint32_t* sessionId)
{
    Log("ProcessIdToSessionId", std::to_string(processId) + ", out");
    if (processId != kOwnProcessId || !g_platform.script.sessionAnswered)
        return false;
    *sessionId = g_platform.script.sessionId;
    return true;
}

ModuleHandle GetModuleHandleA(const char* moduleName)
{
    Log("GetModuleHandleA", Quoted(moduleName));
    return moduleName != nullptr && strcasecmp(moduleName, "kernel32.dll") == 0 ? kKernel32 : nullptr;
}

Procedure GetProcAddress(ModuleHandle module, const char* procName)
{
    Log("GetProcAddress", Pointer(module) + ", " + Quoted(procName));
    const uint32_t kVistaMajorVersion = 6;
    bool exported = module == kKernel32 && procName != nullptr && strcmp(procName, "GetTickCount64") == 0 &&
                    (g_platform.script.version & 0xFF) >= kVistaMajorVersion;
    return exported ? reinterpret_cast<Procedure>(&ResetPlatformDouble) : nullptr;
}

const char* GetCommandLineA()
{
    Log("GetCommandLineA", "");
    return g_platform.script.commandLine;
}

}  // namespace platform
