// Fuzzes the cutting of the command tail from a full command line.
#include "app/run.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

namespace {

void Check(bool condition, const char* what)
{
    if (!condition) {
        fprintf(stderr, "invariant broken: %s\n", what);
        abort();
    }
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string line(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    const char* tail = CutCommandTail(line.c_str());
    Check(tail != nullptr, "a command line always gives a tail");
    size_t cut = static_cast<size_t>(tail - line.c_str());
    Check(cut <= line.size(), "the tail lies within the command line");
    Check(tail[0] == '\0' || !IsBlank(tail[0]), "the tail starts with no blank");

    // The program name is what lies between the leading and the trailing blanks.
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) {
        Check(tail[0] == '\0', "a blank line has an empty tail");
        return 0;
    }
    size_t end;
    if (line[start] == '"') {
        size_t quote = line.find('"', start + 1);
        end = quote == std::string::npos ? line.size() : quote + 1;
    } else {
        end = line.find_first_of(" \t", start);
        if (end == std::string::npos)
            end = line.size();
    }
    size_t expected = line.find_first_not_of(" \t", end);
    Check(cut == (expected == std::string::npos ? line.size() : expected), "the tail starts after the program name");
    return 0;
}
