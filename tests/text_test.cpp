// Bounded copies and appends: never past the buffer, always terminated.
#include "args/text.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>

namespace {

TEST(BoundedText, CopyCutsToTheBufferAndSaysSo)
{
    char buffer[8];
    memset(buffer, 'x', sizeof(buffer));
    EXPECT_TRUE(CopyText(buffer, sizeof(buffer), "1234567"));
    EXPECT_STREQ("1234567", buffer);
    EXPECT_FALSE(CopyText(buffer, sizeof(buffer), "12345678"));
    EXPECT_STREQ("1234567", buffer);
    EXPECT_FALSE(CopyText(buffer, 0, "a")) << "a zero-sized buffer takes nothing";
}

TEST(BoundedText, AppendStopsAtTheEnd)
{
    char buffer[6] = "ab";
    EXPECT_TRUE(AppendText(buffer, sizeof(buffer), "cd"));
    EXPECT_STREQ("abcd", buffer);
    EXPECT_FALSE(AppendText(buffer, sizeof(buffer), "efg"));
    EXPECT_STREQ("abcde", buffer);
    EXPECT_FALSE(AppendText(buffer, sizeof(buffer), "z"));
    EXPECT_STREQ("abcde", buffer);
}

TEST(BoundedText, AppendOnUnterminatedBufferStaysInside)
{
    char guarded[8];
    memset(guarded, 'x', sizeof(guarded));
    EXPECT_FALSE(AppendText(guarded, 4, "y"));
    EXPECT_EQ('\0', guarded[3]) << "the last byte becomes the terminator";
    EXPECT_EQ('x', guarded[4]) << "nothing past the given size";
}

TEST(BoundedText, DecimalsIncludeTheExtremes)
{
    const struct {
        int32_t value;
        const char* expected;
    } rows[] = {{0, "0"}, {7, "7"}, {-1, "-1"}, {87, "87"}, {2147483647, "2147483647"}, {INT32_MIN, "-2147483648"}};
    for (const auto& row : rows) {
        char buffer[16] = "=";
        EXPECT_TRUE(AppendDecimal(buffer, sizeof(buffer), row.value));
        EXPECT_EQ(std::string("=") + row.expected, buffer);
    }
    char small[4] = "";
    EXPECT_FALSE(AppendDecimal(small, sizeof(small), -1234));
    EXPECT_STREQ("-12", small);
}

}  // namespace
