// Times full runs of programs under the same conditions: one target window,
// rounds of one start of each, each timed from CreateProcess to the end of the
// process. The programs come in groups, and a group's programs are started
// one after another: under Wine a process starts later when the one before it
// ran in another code page, so programs are compared only within a group that
// shares one. Prints one line per run:
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
    std::string name;  // a floor ("floor..."), or a build of the tool
    std::string path;
};

bool IsFloor(const Program& program)
{
    return program.name.compare(0, 5, "floor") == 0;
}

// A new random order of `order`'s indices.
void Shuffle(std::vector<size_t>* order, unsigned* seed)
{
    for (size_t i = 0; i < order->size(); ++i) {
        *seed = *seed * 1103515245u + 12345u;
        size_t j = (*seed >> 16) % (i + 1);
        (*order)[i] = (*order)[j];
        (*order)[j] = i;
    }
}

// Microseconds from CreateProcess to the end of the process; -1 when it could
// not start. Wine now and then fails a start (error 1359); such a start is tried
// again, as it tells nothing about the program. `exitCode` gets the process's.
double TimedRun(const std::string& program, const std::string& arguments, DWORD* exitCode)
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
        GetExitCodeProcess(process.hProcess, exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return (end.QuadPart - start.QuadPart) * 1e6 / frequency.QuadPart;
    }
    return -1;
}

}  // namespace

// Usage: bench_driver.exe RUNS NAME=PROGRAM.exe ... [-- NAME=PROGRAM.exe ...]
// "--" starts another group. Floors (names beginning with "floor") get no arguments.
int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s RUNS NAME=PROGRAM.exe ... [-- NAME=PROGRAM.exe ...]\n", argv[0]);
        return 2;
    }
    int runs = atoi(argv[1]);
    std::vector<std::vector<Program>> groups(1);
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "--") == 0) {
            groups.emplace_back();
            continue;
        }
        const char* split = strchr(argv[i], '=');
        if (split == nullptr) {
            fprintf(stderr, "'%s' is not NAME=PROGRAM.exe\n", argv[i]);
            return 2;
        }
        groups.back().push_back(Program{std::string(argv[i], static_cast<size_t>(split - argv[i])), split + 1});
    }
    for (const std::vector<Program>& group : groups) {
        if (group.empty()) {
            fprintf(stderr, "a group without programs\n");
            return 2;
        }
    }
    TargetWindow target = StartTargetWindow(L"KorvanelBenchTarget", L"Bench Target");
    if (target.window == nullptr) {
        fprintf(stderr, "no target window\n");
        return 1;
    }

    // Every tool run changes the priority: to HIGHEST when it is not, else back
    // to NORMAL. Each run is judged on its own, so one that failed does not
    // make the ones after it look wrong. Wine now and then loses a whole run
    // (seen about once in ten thousand starts); a run that changed nothing is
    // said on stderr and tried once more, and only a second one in a row counts
    // against the tool.
    int failures = 0;
    int said = 0;
    auto run = [&](const Program& program) {
        DWORD exitCode = 0;
        if (IsFloor(program))
            return TimedRun(program.path, "", &exitCode);
        double us = -1;
        for (int attempt = 1; attempt <= 2; ++attempt) {
            int before = GetThreadPriority(target.thread);
            int wanted = before == THREAD_PRIORITY_HIGHEST ? THREAD_PRIORITY_NORMAL : THREAD_PRIORITY_HIGHEST;
            us = TimedRun(program.path,
                          wanted == THREAD_PRIORITY_HIGHEST ? " KorvanelBenchTarget NULL HIGHEST"
                                                            : " KorvanelBenchTarget NULL NORMAL",
                          &exitCode);
            int after = GetThreadPriority(target.thread);
            if (us >= 0 && after == wanted)
                return us;
            if (++said <= 10)
                fprintf(stderr, "%s did not set the priority (attempt %d): %d before, %d after, %d wanted, exit code %lu\n",
                        program.path.c_str(), attempt, before, after, wanted, exitCode);
        }
        ++failures;
        return us;
    };

    // One unmeasured start of each first, so all meet the same warm caches.
    for (const std::vector<Program>& group : groups)
        for (const Program& program : group)
            run(program);
    // Each round runs every group once, and in it every program once, each in
    // an order of its own: the start of a process depends on which one ran
    // before it, and a fixed order would charge that to one program.
    unsigned seed = 20261208;
    std::vector<size_t> groupOrder(groups.size());
    for (int round = 0; round < runs; ++round) {
        Shuffle(&groupOrder, &seed);
        for (size_t g : groupOrder) {
            std::vector<size_t> order(groups[g].size());
            Shuffle(&order, &seed);
            for (size_t index : order)
                printf("%s %.0f\n", groups[g][index].name.c_str(), run(groups[g][index]));
        }
    }
    StopTargetWindow(&target);
    if (failures != 0)
        fprintf(stderr, "%d tool runs did not set the priority\n", failures);
    return failures == 0 ? 0 : 1;
}
