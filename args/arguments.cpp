#include "args/arguments.h"

#include "args/text.h"

#include <stdlib.h>
#include <string.h>

namespace {

struct PriorityKeyword {
    const char* keyword;
    int32_t priority;
};

// Compared in this order; the aliases sit beside the standard names.
const PriorityKeyword kPriorityKeywords[] = {
    {"IDLE", -15},        {"ABOVE_IDLE", -2},   {"LOWEST", -2},    {"LOW", -1},
    {"BELOW_NORMAL", -1}, {"NORMAL", 0},        {"ABOVE_NORMAL", 1}, {"HIGH", 1},
    {"HIGHEST", 2},       {"TIME_CRITICAL", 15}, {"CRITICAL", 15},
};

const int32_t kLowestPriority = -15;
const int32_t kHighestPriority = 15;

bool IsCSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The value of c as a digit, or 36 when it is none.
unsigned DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'z')
        return static_cast<unsigned>(c - 'a') + 10;
    if (c >= 'A' && c <= 'Z')
        return static_cast<unsigned>(c - 'A') + 10;
    return 36;
}

// Quotes become separators and toggle quoting; unquoted spaces become separators.
void MarkSeparators(char* text)
{
    bool insideQuotes = false;
    for (char* c = text; *c != '\0'; ++c) {
        if (*c == '"') {
            insideQuotes = !insideQuotes;
            *c = '\t';
        } else if (*c == ' ' && !insideQuotes) {
            *c = '\t';
        }
    }
}

// strtok-style splitting on tabs: skips runs of tabs, never yields an empty token.
char* NextToken(char** cursor)
{
    char* c = *cursor;
    while (*c == '\t')
        ++c;
    if (*c == '\0') {
        *cursor = c;
        return nullptr;
    }
    char* token = c;
    while (*c != '\0' && *c != '\t')
        ++c;
    if (*c == '\t')
        *c++ = '\0';
    *cursor = c;
    return token;
}

// The first two tokens: "NULL" leaves the buffer empty. False when the token does not fit.
bool AssignText(const char* token, char* buffer, size_t size)
{
    buffer[0] = '\0';
    if (strcmp(token, "NULL") == 0)
        return true;
    return CopyText(buffer, size, token);
}

}  // namespace

uint32_t ConvertUnsigned32(const char* text)
{
    const char* c = text;
    while (IsCSpace(*c))
        ++c;
    bool negative = false;
    if (*c == '+' || *c == '-') {
        negative = *c == '-';
        ++c;
    }
    unsigned base = 10;
    if (c[0] == '0' && (c[1] == 'x' || c[1] == 'X') && DigitValue(c[2]) < 16) {
        base = 16;
        c += 2;
    } else if (c[0] == '0') {
        base = 8;
    }
    uint32_t value = 0;
    bool overflow = false;
    for (unsigned digit = DigitValue(*c); digit < base; digit = DigitValue(*++c)) {
        if (value > (UINT32_MAX - digit) / base)
            overflow = true;
        else
            value = value * base + digit;
    }
    if (overflow)
        return UINT32_MAX;
    return negative ? 0u - value : value;
}

int32_t ParsePriority(const char* token)
{
    for (const PriorityKeyword& row : kPriorityKeywords) {
        if (strcmp(token, row.keyword) == 0)
            return row.priority;
    }
    uint32_t bits = ConvertUnsigned32(token);
    // Read the 32 bits as two's complement without relying on implementation-defined casts.
    int64_t value = bits <= INT32_MAX ? static_cast<int64_t>(bits) : static_cast<int64_t>(bits) - 0x100000000LL;
    if (value > kHighestPriority)
        return kHighestPriority;
    if (value < kLowestPriority)
        return kLowestPriority;
    return static_cast<int32_t>(value);
}

bool ParseArguments(const char* tail, RunArguments* arguments)
{
    size_t length = strlen(tail);
    arguments->workCopy = static_cast<char*>(malloc(length + 1));
    if (arguments->workCopy == nullptr)
        return false;
    memcpy(arguments->workCopy, tail, length + 1);
    MarkSeparators(arguments->workCopy);

    bool fits = true;
    size_t count = 0;
    char* cursor = arguments->workCopy;
    for (char* token = NextToken(&cursor); token != nullptr; token = NextToken(&cursor), ++count) {
        if (count == 0)
            fits = AssignText(token, arguments->className, kClassNameSize) && fits;
        else if (count == 1)
            fits = AssignText(token, arguments->windowTitle, kWindowTitleSize) && fits;
        else if (count == 2)
            arguments->priority = ParsePriority(token);
    }

    free(arguments->workCopy);
    arguments->workCopy = nullptr;
    return count == 3 && fits;
}
