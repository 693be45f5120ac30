// Fuzzes the parser and checks its answers against a plain model of the syntax.
#include "args/arguments.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

// The tokens of a tail, by the rules, written for clarity rather than speed.
std::vector<std::string> ModelTokens(const std::string& tail)
{
    std::vector<std::string> tokens;
    std::string current;
    bool insideQuotes = false;
    for (char c : tail) {
        bool separator = c == '\t' || c == '"' || (c == ' ' && !insideQuotes);
        if (c == '"')
            insideQuotes = !insideQuotes;
        if (separator) {
            if (!current.empty())
                tokens.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        tokens.push_back(current);
    return tokens;
}

std::string ModelText(const std::string& token)
{
    return token == "NULL" ? std::string() : token;
}

void Check(bool condition, const char* what)
{
    if (!condition) {
        fprintf(stderr, "invariant broken: %s\n", what);
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A command tail never holds a NUL; an empty one never reaches the parser.
    std::string tail(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    if (tail.empty())
        return 0;

    // Buffers of exactly the documented sizes, so that the sanitizer sees any overrun.
    RunArguments arguments;
    memset(&arguments, 0, sizeof(arguments));
    arguments.className = static_cast<char*>(malloc(kClassNameSize));
    arguments.windowTitle = static_cast<char*>(malloc(kWindowTitleSize));
    bool parsed = ParseArguments(tail.c_str(), &arguments);

    std::vector<std::string> tokens = ModelTokens(tail);
    bool fits = (tokens.size() < 1 || ModelText(tokens[0]).size() < kClassNameSize) &&
                (tokens.size() < 2 || ModelText(tokens[1]).size() < kWindowTitleSize);
    Check(arguments.workCopy == nullptr, "the work copy is released");
    Check(parsed == (tokens.size() == 3 && fits), "true exactly for three tokens that fit");
    if (parsed) {
        Check(memchr(arguments.className, '\0', kClassNameSize) != nullptr, "className is terminated in its buffer");
        Check(memchr(arguments.windowTitle, '\0', kWindowTitleSize) != nullptr, "windowTitle is terminated in its buffer");
        Check(ModelText(tokens[0]) == arguments.className, "className is token 0");
        Check(ModelText(tokens[1]) == arguments.windowTitle, "windowTitle is token 1");
        Check(arguments.priority >= -15 && arguments.priority <= 15, "priority within -15..15");
        Check(arguments.priority == ParsePriority(tokens[2].c_str()), "priority is token 2's");
    }
    free(arguments.className);
    free(arguments.windowTitle);
    return 0;
}
