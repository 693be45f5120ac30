// The Windows calls the tool makes, behind types of its own so that the tool's
// logic builds without <windows.h>. Each function is a thin stand-in for the
// documented call of the same name. The Windows build links platform_windows.cpp;
// the host build links the test double in tests/.
#ifndef KORVANEL_PLATFORM_PLATFORM_H
#define KORVANEL_PLATFORM_PLATFORM_H

#include <stdint.h>

namespace platform {

typedef struct OpaqueWindow* WindowHandle;
typedef struct OpaqueHandle* Handle;
typedef struct OpaqueModule* ModuleHandle;
typedef void (*Procedure)();

// Message box styles and results, as the platform defines them.
const uint32_t kMbOk = 0x00000000;
const uint32_t kMbIconError = 0x00000010;
const uint32_t kMbIconInformation = 0x00000040;
const uint32_t kMbTopmost = 0x00040000;

// Thread access rights.
const uint32_t kThreadSetContext = 0x0010;
const uint32_t kThreadSetInformation = 0x0020;
const uint32_t kThreadSetThreadToken = 0x0080;

// GetSystemMetrics indices.
const int kSmCxScreen = 0;
const int kSmCyScreen = 1;

const uint32_t kErrorInvalidHandle = 6;

// GetUserObjectInformationA: the UOI_FLAGS index, its answer (USEROBJECTFLAGS),
// and the flag a window station has when its desktops reach a screen.
const int kUoiFlags = 1;
const uint32_t kWsfVisible = 0x0001;
struct UserObjectFlags {
    int32_t inherit;
    int32_t reserved;
    uint32_t flags;
};

WindowHandle FindWindowA(const char* className, const char* windowName);
uint32_t GetWindowThreadProcessId(WindowHandle window, uint32_t* processId);
Handle OpenThread(uint32_t desiredAccess, bool inheritHandle, uint32_t threadId);
bool SetThreadPriority(Handle thread, int32_t priority);
uint32_t GetLastError();
bool CloseHandle(Handle object);
int MessageBoxA(WindowHandle owner, const char* text, const char* caption, uint32_t type);
int GetSystemMetrics(int index);
Handle GetProcessWindowStation();
bool GetUserObjectInformationA(Handle object, int index, void* information, uint32_t length, uint32_t* lengthNeeded);
uint32_t GetCurrentProcessId();
bool ProcessIdToSessionId(uint32_t processId, uint32_t* sessionId);
ModuleHandle GetModuleHandleA(const char* moduleName);
Procedure GetProcAddress(ModuleHandle module, const char* procName);
const char* GetCommandLineA();

}  // namespace platform

#endif
