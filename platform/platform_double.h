// The test half of the platform layer: scripted answers and a log of every call.
// Host builds link platform_double.cpp in place of the Windows calls.
#ifndef KORVANEL_PLATFORM_PLATFORM_DOUBLE_H
#define KORVANEL_PLATFORM_PLATFORM_DOUBLE_H

#include "platform/platform.h"

#include <string>
#include <vector>

struct PlatformScript {
    platform::WindowHandle window;        // FindWindowA's answer (null: no window)
    uint32_t threadId;                    // GetWindowThreadProcessId's answer
    platform::Handle thread;              // OpenThread's answer (null: cannot open)
    bool priorityAccepted;                // SetThreadPriority's answer
    uint32_t lastError;                   // GetLastError's answer
    int screenWidth;
    int screenHeight;
    const char* commandLine;              // GetCommandLineA's answer
    platform::Handle station;             // GetProcessWindowStation's answer (null: none)
    bool stationFlagsAnswered;            // GetUserObjectInformationA's answer
    uint32_t stationFlags;                // the station's UOI_FLAGS, when answered
    bool sessionAnswered;                 // ProcessIdToSessionId's answer
    uint32_t sessionId;                   // the process's session, when answered
    uint32_t version;                     // the Windows it stands for, as GetVersion packs it (major in the
                                          // low byte): kernel32 exports GetTickCount64 from 6 (Vista) on
};

struct PlatformCall {
    std::string name;       // the platform function, e.g. "OpenThread"
    std::string arguments;  // its arguments, printed in order
};

struct PlatformDouble {
    PlatformScript script;
    std::vector<PlatformCall> calls;
    int openHandles;        // handles given out by OpenThread and not closed yet
};

extern PlatformDouble g_platform;

// A script for a run that finds a window and changes its priority without
// trouble, on a window station that reaches the screen, in a user's session of
// Windows 10.
void ResetPlatformDouble();

// The logged calls as "Name(arguments)", one per entry, for readable comparisons.
std::vector<std::string> LoggedCalls();

#endif
