// The run flow against the platform test double: which calls, in which order, with what.
#include "app/run.h"
#include "platform/platform_double.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

const char kPage1Start[] = "MessageBoxA(null, \"Korvanel Reference (1/2)";
const char kPage2Start[] = "MessageBoxA(null, \"Korvanel Reference (2/2)";
const char kStationQuery[] = "GetProcessWindowStation()";
const char kStationFlagsQuery[] = "GetUserObjectInformationA(0x3c, 1, 12, out)";
const char kProcessIdQuery[] = "GetCurrentProcessId()";
const char kSessionQuery[] = "ProcessIdToSessionId(2468, out)";
// Vista or later: kernel32 exports a function Vista brought.
const Calls kVistaQuery = {"GetModuleHandleA(\"kernel32.dll\")", "GetProcAddress(0x7c800000, \"GetTickCount64\")"};
// What a run asks before a box when it is in a user's session, on a visible station.
const Calls kBeforeABox = {kStationQuery, kStationFlagsQuery, kProcessIdQuery, kSessionQuery};
const char kErrorBox87[] =
    "MessageBoxA(null, \"SetThreadPriority function error\n\nGetLastError()=87\n\", \"Kor Vanel\", 0x40010)";

class RunFlow : public ::testing::Test {
protected:
    void SetUp() override { ResetPlatformDouble(); }
    void TearDown() override { EXPECT_EQ(0, g_platform.openHandles) << "a thread handle was left open"; }

    // The calls of a successful change, up to and including CloseHandle.
    static Calls ChangeCalls(const std::string& find, int priority)
    {
        return {find,
                "GetWindowThreadProcessId(0x10010, null)",
                "OpenThread(0xb0, false, 1234)",
                "SetThreadPriority(0x2c, " + std::to_string(priority) + ")",
                "GetLastError()",
                "CloseHandle(0x2c)"};
    }

    static bool StartsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }

    // True when the log is exactly the two help pages (after asking whether
    // anybody can see them, and the two screen queries).
    static void ExpectHelpPagesOnly(const Calls& before = kBeforeABox)
    {
        Calls calls = LoggedCalls();
        size_t asked = before.size();
        ASSERT_EQ(asked + 4, calls.size()) << ::testing::PrintToString(calls);
        EXPECT_EQ(before, Calls(calls.begin(), calls.begin() + asked));
        EXPECT_EQ("GetSystemMetrics(0)", calls[asked]);
        EXPECT_EQ("GetSystemMetrics(1)", calls[asked + 1]);
        EXPECT_TRUE(StartsWith(calls[asked + 2], kPage1Start)) << calls[asked + 2];
        EXPECT_TRUE(StartsWith(calls[asked + 3], kPage2Start)) << calls[asked + 3];
    }
};

TEST_F(RunFlow, SuccessfulChangeShowsNothing)
{
    EXPECT_EQ(0, RunKorvanel("Progman \"Program Manager\" ABOVE_NORMAL"));
    EXPECT_EQ(ChangeCalls("FindWindowA(\"Progman\", \"Program Manager\")", 1), LoggedCalls());
}

TEST_F(RunFlow, EmptyArgumentsReachTheLookupAsNull)
{
    RunKorvanel("NULL NULL NORMAL");
    EXPECT_EQ(ChangeCalls("FindWindowA(null, null)", 0), LoggedCalls());
    ResetPlatformDouble();
    RunKorvanel("WMPlayerApp NULL -15");
    EXPECT_EQ(ChangeCalls("FindWindowA(\"WMPlayerApp\", null)", -15), LoggedCalls());
}

TEST_F(RunFlow, RefusedChangeShowsTheErrorCode)
{
    g_platform.script.priorityAccepted = false;
    g_platform.script.lastError = 87;
    EXPECT_EQ(0, RunKorvanel("Class Title 5"));
    Calls expected = ChangeCalls("FindWindowA(\"Class\", \"Title\")", 5);
    expected.insert(expected.end(), kBeforeABox.begin(), kBeforeABox.end());
    expected.push_back(kErrorBox87);
    EXPECT_EQ(expected, LoggedCalls());
}

TEST_F(RunFlow, LastErrorIsReadEvenOnSuccess)
{
    g_platform.script.lastError = 1234;  // stale code from an earlier call: shown nowhere
    RunKorvanel("Class Title 1");
    EXPECT_EQ(ChangeCalls("FindWindowA(\"Class\", \"Title\")", 1), LoggedCalls());
}

TEST_F(RunFlow, ThreadThatCannotBeOpenedReportsSix)
{
    g_platform.script.thread = nullptr;
    g_platform.script.lastError = 5;  // the platform's own code must not be used
    EXPECT_EQ(0, RunKorvanel("Class NULL HIGHEST"));
    Calls expected = {"FindWindowA(\"Class\", null)", "GetWindowThreadProcessId(0x10010, null)",
                      "OpenThread(0xb0, false, 1234)"};
    expected.insert(expected.end(), kBeforeABox.begin(), kBeforeABox.end());
    expected.push_back("MessageBoxA(null, \"SetThreadPriority function error\n\nGetLastError()=6\n\", \"Kor Vanel\", 0x40010)");
    EXPECT_EQ(expected, LoggedCalls());
}

TEST_F(RunFlow, MissingWindowIsSilent)
{
    g_platform.script.window = nullptr;
    EXPECT_EQ(0, RunKorvanel("NoSuchClass NULL NORMAL"));
    EXPECT_EQ(Calls{"FindWindowA(\"NoSuchClass\", null)"}, LoggedCalls());
}

TEST_F(RunFlow, AbsentEmptyOrMalformedTailShowsBothHelpPages)
{
    const char* tails[] = {nullptr, "", "\"\"", "Class Title", "Class Title 1 2", "   \t "};
    for (const char* tail : tails) {
        SCOPED_TRACE(tail == nullptr ? "absent tail" : std::string("tail '") + tail + "'");
        ResetPlatformDouble();
        EXPECT_EQ(0, RunKorvanel(tail));
        ExpectHelpPagesOnly();
    }
}

// Nobody can ever answer a box on a window station that reaches no screen (a
// service, a task run whether the user is logged on or not), nor in session 0
// from Vista on: none is shown there, but the change is still made. Before
// Vista session 0 is a user's own, so the boxes show there.
TEST_F(RunFlow, BoxOnlyWhereSomebodyCanSeeIt)
{
    const uint32_t kVisible = platform::kWsfVisible, kHidden = 0x0002;  // other flags, but not WSF_VISIBLE
    const uint32_t kUnknown = 0xFFFFFFFF;                              // the session cannot be read
    // The Windows, as GetVersion packs it: the build in the high word, the minor and the major version in the
    // low one. Under the "Windows XP SP3" compatibility mode GetVersion reads 5.1 on Windows 10, but kernel32
    // still has its exports, so the tool must not take it for XP.
    const uint32_t kXp = 0x0A280105, kVista = 0x17720006, kWindows10 = 0x4A65000A, kWindows10AsXp = kWindows10;
    const Calls refused = ChangeCalls("FindWindowA(\"Class\", \"Title\")", 5);
    const Calls changed = ChangeCalls("FindWindowA(\"Class\", \"Title\")", 2);
    const Calls hidden = {kStationQuery, kStationFlagsQuery};
    Calls session0 = {kStationQuery, kStationFlagsQuery, kProcessIdQuery, kSessionQuery};
    session0.insert(session0.end(), kVistaQuery.begin(), kVistaQuery.end());
    const Calls userSession = kBeforeABox;
    const Calls box = {kErrorBox87};
    struct {
        const char* tail;
        bool accepted;
        uint32_t stationFlags;
        uint32_t session;
        uint32_t version;
        std::vector<Calls> expected;  // joined in order
    } rows[] = {
        {"", true, kHidden, 1, kWindows10, {hidden}},
        {"Class Title", true, kHidden, 1, kWindows10, {hidden}},
        {"Class Title 5", false, kHidden, 1, kWindows10, {refused, hidden}},
        {"Class Title HIGHEST", true, kHidden, 1, kWindows10, {changed}},
        {"", true, kVisible, 0, kVista, {session0}},
        {"Class Title 5", false, kVisible, 0, kVista, {refused, session0}},
        {"Class Title 5", false, kVisible, 0, kWindows10, {refused, session0}},
        {"Class Title 5", false, kVisible, 0, kWindows10AsXp, {refused, session0}},
        {"Class Title 5", false, kVisible, 0, kXp, {refused, session0, box}},
        {"Class Title 5", false, kVisible, 1, kWindows10, {refused, userSession, box}},
        {"Class Title 5", false, kVisible, kUnknown, kWindows10, {refused, userSession, box}},
        {"Class Title HIGHEST", true, kVisible, 0, kVista, {changed}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string("tail '") + row.tail + "', station flags " + std::to_string(row.stationFlags) +
                     ", session " + std::to_string(row.session) + ", version " + std::to_string(row.version));
        ResetPlatformDouble();
        g_platform.script.stationFlags = row.stationFlags;
        g_platform.script.sessionAnswered = row.session != kUnknown;
        g_platform.script.sessionId = row.session == kUnknown ? 0 : row.session;
        g_platform.script.version = row.version;
        g_platform.script.priorityAccepted = row.accepted;
        g_platform.script.lastError = 87;
        EXPECT_EQ(0, RunKorvanel(row.tail));
        Calls expected;
        for (const Calls& part : row.expected)
            expected.insert(expected.end(), part.begin(), part.end());
        EXPECT_EQ(expected, LoggedCalls());
    }
}

TEST_F(RunFlow, StationOrSessionThatCannotBeAskedStillGetsTheBoxes)
{
    g_platform.script.station = nullptr;
    RunKorvanel("");
    ExpectHelpPagesOnly({kStationQuery, kProcessIdQuery, kSessionQuery});
    ResetPlatformDouble();
    g_platform.script.stationFlagsAnswered = false;
    RunKorvanel("");
    ExpectHelpPagesOnly();
    ResetPlatformDouble();
    g_platform.script.sessionAnswered = false;
    g_platform.script.sessionId = 0;
    RunKorvanel("");
    ExpectHelpPagesOnly();
}

TEST_F(RunFlow, OverlongClassShowsHelpAndLooksNothingUp)
{
    EXPECT_EQ(0, RunKorvanel((std::string(300, 'c') + " NULL 1").c_str()));
    ExpectHelpPagesOnly();
}

TEST(ApplyWindowThreadPriority, WritesNoErrorWhenNoneIsAsked)
{
    ResetPlatformDouble();
    g_platform.script.thread = nullptr;
    EXPECT_FALSE(ApplyWindowThreadPriority(g_platform.script.window, 1, nullptr));
    g_platform.script.thread = reinterpret_cast<platform::Handle>(0x2c);
    g_platform.script.priorityAccepted = false;
    EXPECT_FALSE(ApplyWindowThreadPriority(g_platform.script.window, 1, nullptr));
    EXPECT_EQ(0, g_platform.openHandles);
}

TEST(ApplyWindowThreadPriority, ClearsLastErrorOnSuccess)
{
    ResetPlatformDouble();
    uint32_t lastError = 77;
    EXPECT_TRUE(ApplyWindowThreadPriority(g_platform.script.window, 2, &lastError));
    EXPECT_EQ(0u, lastError);
}

TEST(ComposeErrorText, PrintsTheCodeAsSignedDecimal)
{
    const struct {
        uint32_t code;
        const char* expected;
    } rows[] = {
        {0, "SetThreadPriority function error\n\nGetLastError()=0\n"},
        {87, "SetThreadPriority function error\n\nGetLastError()=87\n"},
        {0x80070005u, "SetThreadPriority function error\n\nGetLastError()=-2147024891\n"},
        {0x80000000u, "SetThreadPriority function error\n\nGetLastError()=-2147483648\n"},
    };
    for (const auto& row : rows) {
        char text[kErrorTextSize];
        ComposeErrorText(row.code, text);
        EXPECT_STREQ(row.expected, text);
    }
}

// --- the command tail ------------------------------------------------------------

TEST(CutCommandTail, CutsTheProgramNameByTheFourStepRule)
{
    const struct {
        const char* commandLine;
        const char* tail;
    } rows[] = {
        {"korvanel.exe Progman NULL 1", "Progman NULL 1"},
        {"  \t korvanel.exe \t  Progman NULL 1", "Progman NULL 1"},
        {"\"C:\\Program Files\\korvanel.exe\" A B C", "A B C"},
        {"\"korvanel.exe\"Progman NULL 1", "Progman NULL 1"},
        {"\"korvanel.exe\"\"Program Manager\"", "\"Program Manager\""},
        {"\"unterminated name and more", ""},
        {"korvanel.exe\tA\tB", "A\tB"},
        {"korvanel.exe", ""},
        {"korvanel.exe   ", ""},
        {"", ""},
        {"   ", ""},
        {"\"\" A B C", "A B C"},
        {"kor\"van el\".exe A", "el\".exe A"},  // a quote inside the name does not group
        {"korvanel.exe A  B  ", "A  B  "},
    };
    for (const auto& row : rows)
        EXPECT_STREQ(row.tail, CutCommandTail(row.commandLine)) << "command line '" << row.commandLine << "'";
}

TEST(CutCommandTail, NoCommandLineGivesNoTail)
{
    EXPECT_EQ(nullptr, CutCommandTail(nullptr));
}

}  // namespace
