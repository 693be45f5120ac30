// The per-run record and the parser that fills it from the command tail.
#ifndef KORVANEL_ARGS_ARGUMENTS_H
#define KORVANEL_ARGS_ARGUMENTS_H

#include <stddef.h>
#include <stdint.h>

const size_t kClassNameSize = 256;     // 255 characters and the terminator
const size_t kWindowTitleSize = 1024;  // 1023 characters and the terminator

struct RunArguments {
    int32_t priority;   // relative thread priority, -15..15 once parsed
    char* workCopy;     // the parser's private copy of the tail, only during a parse
    char* className;    // kClassNameSize bytes, owned by the run; empty = not given
    char* windowTitle;  // kWindowTitleSize bytes, owned by the run; empty = not given
};

// Fills arguments from tail (not changed). Both text buffers must already be
// allocated. True only when the tail holds exactly three tokens and the first
// two fit their buffers; after false the contents of arguments are unspecified.
bool ParseArguments(const char* tail, RunArguments* arguments);

// The priority a third token stands for: a keyword, or a number read as
// strtoul(token, NULL, 0) does on a platform with 32-bit unsigned long,
// taken as signed and clamped to -15..15.
int32_t ParsePriority(const char* token);

// The strtoul base-0 conversion with 32-bit results, independent of the
// C library's long size and locale.
uint32_t ConvertUnsigned32(const char* text);

#endif
