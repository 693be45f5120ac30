// Times full runs of the tool against the floor program under the same
// conditions: one target window, alternating starts, each timed from
// CreateProcess to the end of the process. Prints one line per run:
//   tool MICROSECONDS   or   floor MICROSECONDS
// and fails if a tool run did not change the target's priority.
#include "harness.h"

#include <stdio.h>
#include <stdlib.h>
#include <string>

namespace {

// Microseconds from CreateProcess to the end of the process; -1 when it could not start.
double TimedRun(const std::string& program, const std::string& arguments)
{
    std::string line = "\"" + program + "\"" + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    QueryPerformanceCounter(&end);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return (end.QuadPart - start.QuadPart) * 1e6 / frequency.QuadPart;
}

}  // namespace

// Usage: bench_driver.exe TOOL.exe FLOOR.exe RUNS
int main(int argc, char** argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: %s TOOL.exe FLOOR.exe RUNS\n", argv[0]);
        return 2;
    }
    std::string tool = argv[1], floorProgram = argv[2];
    int runs = atoi(argv[3]);
    TargetWindow target = StartTargetWindow(L"KorvanelBenchTarget", L"Bench Target");
    if (target.window == nullptr) {
        fprintf(stderr, "no target window\n");
        return 1;
    }

    // One unmeasured start of each first, so both meet the same warm caches.
    TimedRun(tool, " KorvanelBenchTarget NULL NORMAL");
    TimedRun(floorProgram, "");
    int failures = 0;
    for (int i = 0; i < runs; ++i) {
        // Every run changes the priority: HIGHEST and NORMAL in turn.
        bool high = i % 2 == 0;
        // Alternate which program goes first, so neither always follows the other.
        for (int turn = 0; turn < 2; ++turn) {
            bool toolTurn = (turn == 0) == high;
            if (toolTurn) {
                double us = TimedRun(tool, high ? " KorvanelBenchTarget NULL HIGHEST" : " KorvanelBenchTarget NULL NORMAL");
                int expected = high ? THREAD_PRIORITY_HIGHEST : THREAD_PRIORITY_NORMAL;
                if (us < 0 || GetThreadPriority(target.thread) != expected)
                    ++failures;
                printf("tool %.0f\n", us);
            } else {
                printf("floor %.0f\n", TimedRun(floorProgram, ""));
            }
        }
    }
    StopTargetWindow(&target);
    if (failures != 0)
        fprintf(stderr, "%d tool runs did not set the priority\n", failures);
    return failures == 0 ? 0 : 1;
}
