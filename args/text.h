// Bounded text helpers shared by the parser, the help pages and the error box.
// Every function takes the full size of the destination buffer and never
// writes past it; the result is always terminated when size > 0.
#ifndef KORVANEL_ARGS_TEXT_H
#define KORVANEL_ARGS_TEXT_H

#include <stddef.h>
#include <stdint.h>

// Copies source into destination. False when it did not fit (the copy is then cut).
bool CopyText(char* destination, size_t size, const char* source);

// Appends source to the text already in destination. False when it was cut.
bool AppendText(char* destination, size_t size, const char* source);

// Appends value as a signed decimal number. False when it was cut.
bool AppendDecimal(char* destination, size_t size, int32_t value);

#endif
