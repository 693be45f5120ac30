// The parser: how a command tail becomes class, title and priority.
#include "args/arguments.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

const unsigned char kGuard = 0xA5;
const size_t kGuardSize = 32;

// Buffers as the run allocates them, each followed by guard bytes that must survive.
class Parse : public ::testing::Test {
protected:
    void SetUp() override
    {
        classStorage.assign(kClassNameSize + kGuardSize, kGuard);
        titleStorage.assign(kWindowTitleSize + kGuardSize, kGuard);
        memset(&arguments, 0, sizeof(arguments));
        arguments.className = reinterpret_cast<char*>(classStorage.data());
        arguments.windowTitle = reinterpret_cast<char*>(titleStorage.data());
        arguments.priority = 99;  // shows whether the parser wrote it
    }

    void TearDown() override
    {
        for (size_t i = kClassNameSize; i < classStorage.size(); ++i)
            ASSERT_EQ(kGuard, classStorage[i]) << "className written past its buffer at " << i;
        for (size_t i = kWindowTitleSize; i < titleStorage.size(); ++i)
            ASSERT_EQ(kGuard, titleStorage[i]) << "windowTitle written past its buffer at " << i;
        EXPECT_EQ(nullptr, arguments.workCopy) << "work copy still present after the parse";
    }

    bool Run(const std::string& tail)
    {
        std::string before = tail;
        bool result = ParseArguments(tail.c_str(), &arguments);
        EXPECT_EQ(before, tail) << "the tail itself was changed";
        return result;
    }

    std::string ClassName() const { return arguments.className; }
    std::string WindowTitle() const { return arguments.windowTitle; }

    std::vector<unsigned char> classStorage;
    std::vector<unsigned char> titleStorage;
    RunArguments arguments;
};

// --- tokenising -------------------------------------------------------------

TEST_F(Parse, QuotedTitleWithSpacesIsOneToken)
{
    ASSERT_TRUE(Run("Progman \"Program Manager\" ABOVE_NORMAL"));
    EXPECT_EQ("Progman", ClassName());
    EXPECT_EQ("Program Manager", WindowTitle());
    EXPECT_EQ(1, arguments.priority);
}

TEST_F(Parse, RunsOfSeparatorsCountOnce)
{
    ASSERT_TRUE(Run("  \t Progman \t\t  \"\"Title\"\"   \t 2  \t"));
    EXPECT_EQ("Progman", ClassName());
    EXPECT_EQ("Title", WindowTitle());
    EXPECT_EQ(2, arguments.priority);
}

TEST_F(Parse, QuoteSplitsInsideAWord)
{
    // a"b c"d: the quotes end and start tokens, the blank inside them stays.
    ASSERT_TRUE(Run("a\"b c\"d"));
    EXPECT_EQ("a", ClassName());
    EXPECT_EQ("b c", WindowTitle());
    EXPECT_EQ(0, arguments.priority) << "a token without digits converts to 0";
}

TEST_F(Parse, TabSeparatesEvenInsideQuotes)
{
    ASSERT_TRUE(Run("\"Class\tTitle\" 1"));
    EXPECT_EQ("Class", ClassName());
    EXPECT_EQ("Title", WindowTitle());
    EXPECT_EQ(1, arguments.priority);
}

TEST_F(Parse, UnbalancedQuoteKeepsTheRestAsOneToken)
{
    EXPECT_FALSE(Run("Class \"two words")) << "class and one open-quoted token are two tokens";
    EXPECT_TRUE(Run("Class \"Title\" \"HIGHEST and more"));
    EXPECT_EQ("Title", WindowTitle());
    EXPECT_EQ(0, arguments.priority) << "the open-quoted token is not a keyword";
}

TEST_F(Parse, HighBytesAndControlCharactersAreTextLikeAnyOther)
{
    ASSERT_TRUE(Run("Cl\x01\x7f \"Caf\xe9 \xff\x80\" -1"));
    EXPECT_EQ("Cl\x01\x7f", ClassName());
    EXPECT_EQ("Caf\xe9 \xff\x80", WindowTitle());
    EXPECT_EQ(-1, arguments.priority);
}

// --- the NULL placeholder ---------------------------------------------------

TEST_F(Parse, NullLeavesEitherArgumentEmpty)
{
    ASSERT_TRUE(Run("WMPlayerApp NULL -15"));
    EXPECT_EQ("WMPlayerApp", ClassName());
    EXPECT_EQ("", WindowTitle());
    EXPECT_EQ(-15, arguments.priority);

    ASSERT_TRUE(Run("\"NULL\" \"Program Manager\" 0"));
    EXPECT_EQ("", ClassName()) << "quotes vanish before the comparison";
    EXPECT_EQ("Program Manager", WindowTitle());

    ASSERT_TRUE(Run("NULL NULL 0"));
    EXPECT_EQ("", ClassName());
    EXPECT_EQ("", WindowTitle());
}

TEST_F(Parse, NullIsCaseSensitiveAndWhole)
{
    ASSERT_TRUE(Run("null NULLX 0"));
    EXPECT_EQ("null", ClassName());
    EXPECT_EQ("NULLX", WindowTitle());
}

TEST_F(Parse, PlaceholderClearsWhatAnEarlierParseLeft)
{
    ASSERT_TRUE(Run("Old OldTitle 1"));
    ASSERT_TRUE(Run("NULL NULL 1"));
    EXPECT_EQ("", ClassName());
    EXPECT_EQ("", WindowTitle());
}

TEST_F(Parse, EmptyQuotesAreNotAnEmptyArgument)
{
    EXPECT_FALSE(Run("\"\" Title 1")) << "an empty pair of quotes yields no token";
}

// --- keywords -----------------------------------------------------------------

TEST(ParsePriority, EveryKeywordHasItsValue)
{
    const struct {
        const char* keyword;
        int32_t expected;
    } rows[] = {
        {"IDLE", -15},     {"ABOVE_IDLE", -2},   {"LOWEST", -2},  {"LOW", -1},
        {"BELOW_NORMAL", -1}, {"NORMAL", 0},      {"ABOVE_NORMAL", 1}, {"HIGH", 1},
        {"HIGHEST", 2},    {"TIME_CRITICAL", 15}, {"CRITICAL", 15},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, ParsePriority(row.keyword)) << row.keyword;
}

TEST(ParsePriority, KeywordsAreExactAndCaseSensitive)
{
    EXPECT_EQ(0, ParsePriority("idle")) << "lower case converts as a number";
    EXPECT_EQ(0, ParsePriority("Highest"));
    EXPECT_EQ(0, ParsePriority("IDLE_"));
    EXPECT_EQ(0, ParsePriority(" IDLE")) << "a leading blank makes it no keyword";
    EXPECT_EQ(0, ParsePriority("HIGHESTX"));
}

// --- numbers --------------------------------------------------------------------

TEST(ParsePriority, NumbersAreClampedToTheRange)
{
    const struct {
        const char* token;
        int32_t expected;
    } rows[] = {
        {"15", 15},  {"16", 15},   {"7", 7},      {"-1", -1},     {"-15", -15},  {"-16", -15},
        {"0", 0},    {"+3", 3},    {"2147483647", 15}, {"-2147483648", -15}, {"2147483648", -15},
        {"4294967295", -1}, {"4294967294", -2}, {"4294967281", -15},
        {"99999999999", -1}, {"-99999999999", -1}, {"-4294967295", 1}, {"-4294967296", -1},
        // Below INT32_MIN a negative number wraps to a positive one: the command-line reference warns of TIME_CRITICAL.
        {"-2147483649", 15}, {"-4294967281", 15}, {"-4294967282", 14},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, ParsePriority(row.token)) << "token '" << row.token << "'";
}

TEST(ParsePriority, BaseFollowsThePrefix)
{
    const struct {
        const char* token;
        int32_t expected;
    } rows[] = {
        {"0x0F", 15}, {"0XA", 10}, {"0xf", 15}, {"-0x2", -2}, {"017", 15}, {"010", 8},
        {"08", 0},    {"09", 0},   {"0x", 0},   {"0xG", 0},   {"0x1G", 1}, {"0xFFFFFFFF", -1},
        {"0x100000000", -1},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, ParsePriority(row.token)) << "token '" << row.token << "'";
}

TEST(ParsePriority, ConversionStopsAtTheFirstCharacterThatDoesNotFit)
{
    EXPECT_EQ(5, ParsePriority("5x"));
    EXPECT_EQ(1, ParsePriority("1.9"));
    EXPECT_EQ(0, ParsePriority("x5"));
    EXPECT_EQ(0, ParsePriority("-"));
    EXPECT_EQ(0, ParsePriority("+-1"));
    EXPECT_EQ(0, ParsePriority("\xb5"));
    EXPECT_EQ(3, ParsePriority("\n\v\f\r 3")) << "leading white space is skipped";
}

TEST(ConvertUnsigned32, SaturatesAndWrapsLikeA32BitStrtoul)
{
    EXPECT_EQ(4294967295u, ConvertUnsigned32("4294967295"));
    EXPECT_EQ(4294967295u, ConvertUnsigned32("4294967296"));
    EXPECT_EQ(4294967295u, ConvertUnsigned32("18446744073709551617"));
    EXPECT_EQ(1u, ConvertUnsigned32("-4294967295"));
    EXPECT_EQ(4294967295u, ConvertUnsigned32("-1"));
    EXPECT_EQ(0x80000000u, ConvertUnsigned32("-2147483648"));
    EXPECT_EQ(4294967295u, ConvertUnsigned32("037777777777"));
    EXPECT_EQ(4294967295u, ConvertUnsigned32("040000000000"));
    EXPECT_EQ(0u, ConvertUnsigned32(""));
}

// Where the C library's unsigned long is 32 bits wide (Windows), its strtoul is the reference.
// One known exception is left out: msvcrt.dll answers 1, not ULONG_MAX, for a minus sign
// before a magnitude beyond 32 bits ("-4294967296"); the tool saturates whatever the sign.
TEST(ConvertUnsigned32, AgreesWithTheCRuntime)
{
    if (sizeof(unsigned long) != 4)
        GTEST_SKIP() << "unsigned long is " << sizeof(unsigned long) * 8 << " bits here";
    const char* tokens[] = {
        "0", "15", "-15", "+7", "4294967295", "4294967296", "-4294967295", "-1", "99999999999999999999",
        "0x0F", "0XfF", "0x", "0xG", "017", "08", "0777777777777", "5x", " \t\n12", "-0x80000000", "-", "+",
        "abc", "\xe9", "-2147483649", "2147483648", "0x7fffffff", "00000000000000000000001",
    };
    for (const char* token : tokens)
        EXPECT_EQ(static_cast<uint32_t>(strtoul(token, nullptr, 0)), ConvertUnsigned32(token)) << "token '" << token << "'";
}

// --- token counts -------------------------------------------------------------

TEST_F(Parse, OnlyExactlyThreeTokensSucceed)
{
    EXPECT_FALSE(Run("Progman"));
    EXPECT_FALSE(Run("Progman NULL"));
    EXPECT_TRUE(Run("Progman NULL 1"));
    EXPECT_FALSE(Run("Progman NULL 1 extra"));
    EXPECT_FALSE(Run("\"\""));
    EXPECT_FALSE(Run("\"\" \"\" \t "));
}

TEST_F(Parse, FourTokensStillAssignTheFirstThree)
{
    EXPECT_FALSE(Run("Class Title HIGHEST extra"));
    EXPECT_EQ("Class", ClassName());
    EXPECT_EQ("Title", WindowTitle());
    EXPECT_EQ(2, arguments.priority);
}

TEST_F(Parse, ManyTokensAreCountedSafely)
{
    std::string tail;
    for (int i = 0; i < 20000; ++i)
        tail += "t ";
    EXPECT_FALSE(Run(tail));
}

// --- arguments longer than their buffers ------------------------------------------

TEST_F(Parse, LongestClassAndTitleFit)
{
    std::string name(255, 'c');
    std::string title(1023, 't');
    ASSERT_TRUE(Run(name + " \"" + title + "\" 1"));
    EXPECT_EQ(name, ClassName());
    EXPECT_EQ(title, WindowTitle());
}

TEST_F(Parse, OverlongClassOrTitleFailsWithoutOverflow)
{
    EXPECT_FALSE(Run(std::string(256, 'c') + " Title 1"));
    EXPECT_FALSE(Run("Class " + std::string(1024, 't') + " 1"));
    EXPECT_FALSE(Run(std::string(40000, 'c') + " " + std::string(40000, 't') + " 1"));
}

TEST_F(Parse, OverlongPriorityTokenIsOnlyConverted)
{
    ASSERT_TRUE(Run("Class Title " + std::string(5000, '9')));
    EXPECT_EQ(-1, arguments.priority) << "a magnitude beyond 32 bits saturates";
}

}  // namespace
