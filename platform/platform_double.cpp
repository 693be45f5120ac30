#include "platform/platform_double.h"

#include <algorithm>

#include <stdio.h>

PlatformDouble g_platform;

namespace {

platform::WindowHandle const kTargetWindow = reinterpret_cast<platform::WindowHandle>(0x10010);
platform::Handle const kTargetThread = reinterpret_cast<platform::Handle>(0x2c);
const uint32_t kTargetProcessId = 4321;

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
    g_platform.script = PlatformScript{kTargetWindow, 1234, kTargetThread, true, 0, 1024, 768, nullptr};
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

const char* GetCommandLineA()
{
    Log("GetCommandLineA", "");
    return g_platform.script.commandLine;
}

}  // namespace platform
