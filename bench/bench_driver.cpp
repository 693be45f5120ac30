// Times full runs of programs: one target window, rounds of one start of
// each, each from CreateProcess to the end of the process. Programs come in
// groups started one after another, for under Wine a process starts later when
// the one before it ran in another code page. Prints "# seed SEED rounds ROUNDS",
// then for every complete round the lines
//   ROUND NAME MICROSECONDS
// A round in which a program failed (did not start, did not end in time, exited
// with another code than 0, or left its target's priority as it was) is
// dropped whole and said on stderr; a session that drops more
// than one round in twenty fails.
#include "harness.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

const DWORD kTimeLimitMs = 10000;

struct Program {
    std::string name;  // a floor ("floor..."), or a build of the tool
    std::string path;
};

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

// Microseconds from CreateProcess to the end of the process; why it failed in
// `failure`. A program still running after kTimeLimitMs is ended with 0xDEAD.
double TimedRun(const Program& program, const char* arguments, std::string* failure)
{
    std::string line = "\"" + program.path + "\"" + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(program.path.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        *failure = "could not start: error " + std::to_string(GetLastError());
        return 0;
    }
    DWORD exitCode = 0xDEAD;
    if (WaitForSingleObject(process.hProcess, kTimeLimitMs) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, exitCode);  // and said below as its exit code
    WaitForSingleObject(process.hProcess, kTimeLimitMs);
    QueryPerformanceCounter(&end);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (exitCode != 0)
        *failure = "exit code " + std::to_string(exitCode);
    return (end.QuadPart - start.QuadPart) * 1e6 / frequency.QuadPart;
}

// One run, which must change its target's priority: to HIGHEST when it is not,
// else back to NORMAL. The floors work on a target of their own.
double Run(const Program& program, HANDLE toolTarget, HANDLE floorTarget, std::string* failure)
{
    bool floor = program.name.compare(0, 5, "floor") == 0;
    HANDLE target = floor ? floorTarget : toolTarget;
    bool raise = GetThreadPriority(target) != THREAD_PRIORITY_HIGHEST;
    const char* arguments = floor ? (raise ? " H" : " N")
                                  : (raise ? " KorvanelBenchTarget NULL HIGHEST" : " KorvanelBenchTarget NULL NORMAL");
    double us = TimedRun(program, arguments, failure);
    int after = GetThreadPriority(target);
    if (failure->empty() && after != (raise ? THREAD_PRIORITY_HIGHEST : THREAD_PRIORITY_NORMAL))
        *failure = "left the priority at " + std::to_string(after);
    return us;
}

}  // namespace

// Usage: bench_driver.exe ROUNDS SEED NAME=PROGRAM.exe ... [-- NAME=PROGRAM.exe ...]
// "--" starts another group. Floors (names beginning with "floor") get " H" or " N".
int main(int argc, char** argv)
{
    int rounds = argc > 3 ? atoi(argv[1]) : 0;
    unsigned seed = argc > 3 ? static_cast<unsigned>(strtoul(argv[2], nullptr, 10)) : 0;
    std::vector<std::vector<Program>> groups(1);
    for (int i = 3; i < argc && rounds > 0; ++i) {
        const char* split = strchr(argv[i], '=');
        if (strcmp(argv[i], "--") == 0)
            groups.emplace_back();
        else if (split != nullptr)
            groups.back().push_back(Program{std::string(argv[i], static_cast<size_t>(split - argv[i])), split + 1});
        else
            rounds = 0;
    }
    for (const std::vector<Program>& group : groups)
        rounds = group.empty() ? 0 : rounds;
    if (rounds <= 0) {
        fprintf(stderr, "usage: %s ROUNDS SEED NAME=PROGRAM.exe ... [-- NAME=PROGRAM.exe ...]\n", argv[0]);
        return 2;
    }
    printf("# seed %u rounds %d\n", seed, rounds);  // the session can be repeated from its record
    TargetWindow target = StartTargetWindow(L"KorvanelBenchTarget", L"Bench Target");
    TargetWindow floorTarget = StartTargetWindow(L"KorvanelBenchFloor", L"Bench Floor");
    if (target.window == nullptr || floorTarget.window == nullptr) {
        fprintf(stderr, "no target window\n");
        return 1;
    }

    // One unmeasured start of each, so that all meet warm caches.
    std::string failure;
    for (const std::vector<Program>& group : groups)
        for (const Program& program : group)
            Run(program, target.thread, floorTarget.thread, &failure);
    // Every round in orders of its own: a start depends on the process before
    // it, and a fixed order would charge that to one program.
    int dropped = 0;
    std::vector<size_t> groupOrder(groups.size());
    for (int round = 0; round < rounds; ++round) {
        std::vector<const Program*> order;
        Shuffle(&groupOrder, &seed);
        for (size_t g : groupOrder) {
            std::vector<size_t> inGroup(groups[g].size());
            Shuffle(&inGroup, &seed);
            for (size_t index : inGroup)
                order.push_back(&groups[g][index]);
        }
        std::string lines;
        failure.clear();
        for (size_t i = 0; i < order.size() && failure.empty(); ++i) {
            char line[128];
            double us = Run(*order[i], target.thread, floorTarget.thread, &failure);
            snprintf(line, sizeof(line), "%d %s %.0f\n", round, order[i]->name.c_str(), us);
            lines += line;
            if (!failure.empty() && ++dropped <= 10)
                fprintf(stderr, "round %d dropped: %s %s\n", round, order[i]->name.c_str(), failure.c_str());
        }
        if (failure.empty())
            fputs(lines.c_str(), stdout);
    }
    StopTargetWindow(&floorTarget);
    StopTargetWindow(&target);
    fprintf(stderr, "%d of %d rounds dropped\n", dropped, rounds);
    return dropped * 20 > rounds ? 1 : 0;
}
