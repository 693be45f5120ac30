// Fuzzes the whole run against the platform test double: a random tail and
// random platform answers. Checks the calls made against what the run must do.
#include "app/run.h"
#include "args/arguments.h"
#include "platform/platform_double.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

void Check(bool condition, const char* what)
{
    if (!condition) {
        fprintf(stderr, "invariant broken: %s\n", what);
        abort();
    }
}

bool StartsWith(const std::string& text, const char* start)
{
    return text.compare(0, strlen(start), start) == 0;
}

std::string ErrorBox(uint32_t code)
{
    char text[kErrorTextSize];
    ComposeErrorText(code, text);
    return std::string("MessageBoxA(null, \"") + text + "\", \"Kor Vanel\", 0x40010)";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    ResetPlatformDouble();
    PlatformScript& script = g_platform.script;
    if (input.ConsumeBool())
        script.window = nullptr;
    if (input.ConsumeBool())
        script.thread = nullptr;
    script.threadId = input.ConsumeIntegral<uint32_t>();
    script.priorityAccepted = input.ConsumeBool();
    script.lastError = input.ConsumeIntegral<uint32_t>();
    script.screenWidth = input.ConsumeIntegral<int>();
    script.screenHeight = input.ConsumeIntegral<int>();
    if (input.ConsumeBool())
        script.station = nullptr;
    script.stationFlagsAnswered = input.ConsumeBool();
    script.stationFlags = input.ConsumeIntegral<uint32_t>();
    script.sessionAnswered = input.ConsumeBool();
    script.sessionId = input.ConsumeIntegralInRange<uint32_t>(0, 2);
    script.version = input.ConsumeIntegral<uint32_t>();
    bool absent = input.ConsumeProbability<float>() < 0.02f;
    std::string tail = input.ConsumeRemainingBytesAsString();
    tail.resize(strnlen(tail.c_str(), tail.size()));

    Check(RunKorvanel(absent ? nullptr : tail.c_str()) == 0, "exit code 0");
    Check(g_platform.openHandles == 0, "every opened handle is closed");

    // What the run must have done, judged by the parser on its own buffers.
    RunArguments expected;
    memset(&expected, 0, sizeof(expected));
    std::vector<char> className(kClassNameSize), windowTitle(kWindowTitleSize);
    expected.className = className.data();
    expected.windowTitle = windowTitle.data();
    bool parsed = !absent && !tail.empty() && ParseArguments(tail.c_str(), &expected);

    // Before any box the run asks whether its window station can be seen, and
    // then whether it runs in session 0 of Vista or later; what cannot be
    // asked counts as seen.
    std::vector<std::string> stationQuery = {"GetProcessWindowStation()"};
    if (script.station != nullptr)
        stationQuery.push_back("GetUserObjectInformationA(0x3c, 1, 12, out)");
    bool seen = script.station == nullptr || !script.stationFlagsAnswered ||
                (script.stationFlags & platform::kWsfVisible) != 0;
    if (seen) {
        stationQuery.insert(stationQuery.end(), {"GetCurrentProcessId()", "ProcessIdToSessionId(2468, out)"});
        if (script.sessionAnswered && script.sessionId == 0) {
            stationQuery.insert(stationQuery.end(), {"GetModuleHandleA(\"kernel32.dll\")",
                                                     "GetProcAddress(0x7c800000, \"GetTickCount64\")"});
            seen = (script.version & 0xFF) < 6;  // before Vista session 0 is a user's
        }
    }
    // True when the calls from index `from` on are the station query, then `boxes` only when seen.
    auto reportIs = [&](const std::vector<std::string>& calls, size_t from, const std::vector<std::string>& boxes) {
        std::vector<std::string> expected = stationQuery;
        if (seen)
            expected.insert(expected.end(), boxes.begin(), boxes.end());
        return calls.size() >= from && std::vector<std::string>(calls.begin() + from, calls.end()) == expected;
    };

    std::vector<std::string> calls = LoggedCalls();
    if (!parsed) {
        size_t asked = stationQuery.size();
        Check(calls.size() >= asked && std::equal(stationQuery.begin(), stationQuery.end(), calls.begin()),
              "help: the station is asked first");
        if (!seen) {
            Check(calls.size() == asked, "help where nobody sees it: no box");
            return 0;
        }
        Check(calls.size() == asked + 4, "help: two screen queries and two boxes");
        Check(StartsWith(calls[asked + 2], "MessageBoxA(null, \"Korvanel Reference (1/2)"), "page 1 first");
        Check(StartsWith(calls[asked + 3], "MessageBoxA(null, \"Korvanel Reference (2/2)"), "then page 2");
        return 0;
    }
    Check(!calls.empty() && StartsWith(calls[0], "FindWindowA("), "a parsed tail looks the window up");
    if (script.window == nullptr) {
        Check(calls.size() == 1, "a missing window ends the run silently");
        return 0;
    }
    Check(calls.size() >= 3 && calls[2] == "OpenThread(0xb0, false, " + std::to_string(script.threadId) + ")",
          "the window's thread is opened for 0xb0");
    if (script.thread == nullptr) {
        Check(reportIs(calls, 3, {ErrorBox(6)}), "an unopened thread reports 6 where it can be seen");
        return 0;
    }
    Check(calls.size() >= 6 && calls[3] == "SetThreadPriority(0x2c, " + std::to_string(expected.priority) + ")",
          "the parsed priority is set");
    Check(calls[4] == "GetLastError()" && calls[5] == "CloseHandle(0x2c)", "error read, then the handle closed");
    if (script.priorityAccepted)
        Check(calls.size() == 6, "a successful change shows nothing");
    else
        Check(reportIs(calls, 6, {ErrorBox(script.lastError)}), "a refusal shows the platform's code where it can be seen");
    return 0;
}
