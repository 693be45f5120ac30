// Times full runs of the tool, of the tool built without its manifest, and of
// the floor program under the same conditions: one target window, rounds of one
// start of each, each timed from CreateProcess to the end of the process.
// Prints one line per run:
//   NAME MICROSECONDS
// and fails if a tool run did not change the target's priority.
#include "harness.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

struct Program {
    std::string name;  // "floor", or a build of the tool
    std::string path;
};

// Microseconds from CreateProcess to the end of the process; -1 when it could
// not start. Wine now and then fails a start (error 1359); such a start is tried
// again, as it tells nothing about the program.
double TimedRun(const std::string& program, const std::string& arguments)
{
    for (int attempt = 1; attempt <= 3; ++attempt) {
        std::string line = "\"" + program + "\"" + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        LARGE_INTEGER frequency, start, end;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        if (!CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process)) {
            fprintf(stderr, "could not start %s (attempt %d): error %lu\n", program.c_str(), attempt, GetLastError());
            continue;
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        QueryPerformanceCounter(&end);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return (end.QuadPart - start.QuadPart) * 1e6 / frequency.QuadPart;
    }
    return -1;
}

}  // namespace

// Usage: bench_driver.exe RUNS NAME=PROGRAM.exe ...   (the one named "floor" gets no arguments)
int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s RUNS NAME=PROGRAM.exe ...\n", argv[0]);
        return 2;
    }
    int runs = atoi(argv[1]);
    std::vector<Program> programs;
    for (int i = 2; i < argc; ++i) {
        const char* split = strchr(argv[i], '=');
        if (split == nullptr) {
            fprintf(stderr, "'%s' is not NAME=PROGRAM.exe\n", argv[i]);
            return 2;
        }
        programs.push_back(Program{std::string(argv[i], static_cast<size_t>(split - argv[i])), split + 1});
    }
    TargetWindow target = StartTargetWindow(L"KorvanelBenchTarget", L"Bench Target");
    if (target.window == nullptr) {
        fprintf(stderr, "no target window\n");
        return 1;
    }

    // Every tool run changes the priority: HIGHEST and NORMAL in turn.
    bool high = true;
    int failures = 0;
    auto run = [&](const Program& program) {
        if (program.name == "floor")
            return TimedRun(program.path, "");
        double us = TimedRun(program.path, high ? " KorvanelBenchTarget NULL HIGHEST" : " KorvanelBenchTarget NULL NORMAL");
        if (us < 0 || GetThreadPriority(target.thread) != (high ? THREAD_PRIORITY_HIGHEST : THREAD_PRIORITY_NORMAL))
            ++failures;
        high = !high;
        return us;
    };

    // One unmeasured start of each first, so all meet the same warm caches.
    for (const Program& program : programs)
        run(program);
    // Each round runs every program once, in an order of its own: the start
    // of a process depends on which one ran before it, and a fixed order would
    // charge that to one program.
    std::vector<size_t> order(programs.size());
    unsigned seed = 20261208;
    for (int round = 0; round < runs; ++round) {
        for (size_t i = 0; i < order.size(); ++i) {
            seed = seed * 1103515245u + 12345u;
            size_t j = (seed >> 16) % (i + 1);
            order[i] = order[j];
            order[j] = i;
        }
        for (size_t index : order)
            printf("%s %.0f\n", programs[index].name.c_str(), run(programs[index]));
    }
    StopTargetWindow(&target);
    if (failures != 0)
        fprintf(stderr, "%d tool runs did not set the priority\n", failures);
    return failures == 0 ? 0 : 1;
}
