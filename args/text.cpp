#include "args/text.h"

bool CopyText(char* destination, size_t size, const char* source)
{
    if (size == 0)
        return false;
    destination[0] = '\0';
    return AppendText(destination, size, source);
}

bool AppendText(char* destination, size_t size, const char* source)
{
    if (size == 0)
        return false;
    size_t used = 0;
    while (used + 1 < size && destination[used] != '\0')
        ++used;
    size_t copied = 0;
    while (used + 1 < size && source[copied] != '\0')
        destination[used++] = source[copied++];
    destination[used] = '\0';
    return source[copied] == '\0';
}

bool AppendDecimal(char* destination, size_t size, int32_t value)
{
    // Work on the magnitude as unsigned so that INT32_MIN needs no special case.
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    char digits[12];  // sign, ten digits, terminator
    size_t position = sizeof(digits) - 1;
    digits[position] = '\0';
    do {
        digits[--position] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        digits[--position] = '-';
    return AppendText(destination, size, digits + position);
}
