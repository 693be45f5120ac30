// The real tool, started as a user's shortcut or script would start it,
// against real windows, with every box it shows read and answered.
#include "expectations.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <string>
#include <utility>
#include <vector>

namespace {

// --- changes that succeed ---------------------------------------------------------

TEST_F(Target, KeywordSetsPriorityAndShowsNothing)
{
    Start("KorvanelKeywordTarget", "Keyword Target");
    ExpectSilent(RunTool(QuotedTool() + " KorvanelKeywordTarget NULL HIGHEST"));
    EXPECT_EQ(THREAD_PRIORITY_HIGHEST, Priority());
}

TEST_F(Target, NumbersAreClampedAndApplied)
{
    Start("KorvanelNumberTarget", "Number Target Window");
    const struct {
        const char* priority;
        int expected;
    } rows[] = {{"-1", -1}, {"0x0F", 15}, {"-16", -15}, {"1", 1}, {"4294967294", -2}, {"017", 15}, {"abc", 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string("priority ") + row.priority);
        ExpectSilent(RunTool(QuotedTool() + " NULL \"Number Target Window\" " + row.priority));
        EXPECT_EQ(row.expected, Priority()) << "priority " << row.priority;
    }
}

TEST_F(Target, ClassAndTitleMustBothMatch)
{
    Start("KorvanelPairTarget", "Pair Target");
    ExpectSilent(RunTool(QuotedTool() + " KorvanelPairTarget \"Other Title\" HIGHEST"));
    EXPECT_EQ(THREAD_PRIORITY_NORMAL, Priority()) << "a window with another title was changed";
    ExpectSilent(RunTool(QuotedTool() + " \"KorvanelPairTarget\" \"Pair Target\" LOWEST"));
    EXPECT_EQ(THREAD_PRIORITY_LOWEST, Priority());
}

TEST_F(Target, ProgramNameGluedToTheFirstArgument)
{
    Start("KorvanelGluedTarget", "Glued Target");
    ExpectSilent(RunTool(QuotedTool() + "KorvanelGluedTarget NULL ABOVE_NORMAL"));
    EXPECT_EQ(THREAD_PRIORITY_ABOVE_NORMAL, Priority());
}

TEST_F(Target, BlanksAndTabsAroundTheArguments)
{
    Start("KorvanelBlankTarget", "Blank Target");
    ExpectSilent(RunTool("  " + QuotedTool() + " \t KorvanelBlankTarget\t\"Blank Target\"  IDLE \t "));
    EXPECT_EQ(THREAD_PRIORITY_IDLE, Priority());
}

// Names outside every single-byte code page, in a UTF-16 command line as a Windows
// shell passes it: the tool's manifest makes its code page UTF-8.
TEST_F(Target, NamesInAnyScriptAreFound)
{
    const struct {
        const wchar_t* className;
        const wchar_t* title;
        bool byClass;  // named by its class, else by its title
    } rows[] = {
        {L"KorvanelJapaneseTarget", L"\u512a\u5148\u5ea6\u30c6\u30b9\u30c8 \u30a6\u30a3\u30f3\u30c9\u30a6", false},
        // Cyrillic and Greek: no single-byte code page has both.
        {L"\u041a\u043e\u0440\u0432\u0430\u043d\u0435\u043b\u039a\u03bb\u03ac\u03c3\u03b7", L"Script Target", true},
        {L"KorvanelEmojiTarget", L"Launch \U0001F680 pad", false},  // beyond U+FFFF: a surrogate pair
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.byClass ? "named by class" : "named by title");
        Start(row.className, row.title);
        std::wstring names = row.byClass ? std::wstring(row.className) + L" NULL" : L"NULL \"" + std::wstring(row.title) + L"\"";
        ExpectSilent(RunTool(QuotedToolW() + L" " + names + L" HIGHEST"));
        EXPECT_EQ(THREAD_PRIORITY_HIGHEST, Priority());
    }
}

// The buffers count UTF-8 bytes: 341 three-byte characters are 1023 bytes and
// fit the title; one more is over, as any over-long title is.
TEST_F(Target, TitleLimitCountsUtf8Bytes)
{
    std::wstring title(341, L'\u30a2');
    Start(L"KorvanelLimitTarget", title.c_str());
    ExpectSilent(RunTool(QuotedToolW() + L" NULL \"" + title + L"\" HIGHEST"));
    EXPECT_EQ(THREAD_PRIORITY_HIGHEST, Priority());

    title += L'\u30a2';
    Start(L"KorvanelLimitTarget", title.c_str());
    ExpectHelpPages(RunTool(QuotedToolW() + L" NULL \"" + title + L"\" HIGHEST"));
    EXPECT_EQ(THREAD_PRIORITY_NORMAL, Priority());
}

// --- refusals and misses ------------------------------------------------------------

TEST_F(Target, RefusedPriorityShowsThePlatformsErrorCode)
{
    Start("KorvanelRefusedTarget", "Refused Target");
    ToolRun run = RunTool(QuotedTool() + " KorvanelRefusedTarget NULL 5");
    ExpectEndedWithZero(run);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ("SetThreadPriority function error\n\nGetLastError()=87\n", run.boxes[0].text);
    ExpectBoxLook(run.boxes[0], 'r');
    EXPECT_EQ(THREAD_PRIORITY_NORMAL, Priority());
}

TEST(Miss, MissingWindowShowsNothing)
{
    ExpectSilent(RunTool(QuotedTool() + " KorvanelNoSuchClass NULL NORMAL"));
}

bool UnderWine()
{
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

// --- help pages ----------------------------------------------------------------------

TEST(Help, EmptyTailShowsBothPages)
{
    ExpectHelpPages(RunTool(QuotedTool()));
    ExpectHelpPages(RunTool(QuotedTool() + "   \t "));
}

TEST(Help, MalformedTailShowsBothPages)
{
    ExpectHelpPages(RunTool(QuotedTool() + " OnlyTwo Tokens"));
    ExpectHelpPages(RunTool(QuotedTool() + " \"\""));
    ExpectHelpPages(RunTool(QuotedTool() + " A B C D"));
    ExpectHelpPages(RunTool(QuotedTool() + " Class \"open quote and more"));
}

// Showing a box, Windows loads DLLs by name (uxtheme.dll for the theme), and
// looks in the program's folder first unless the program keeps the search to
// System32. One planted beside a copy of the tool must never run.
TEST(Help, PlantedDllBesideTheToolNeverRuns)
{
    char temp[MAX_PATH] = "";
    char self[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string probe = self;
    probe.erase(probe.rfind('\\') + 1);
    probe += "korvanel_planted_probe.dll";
    std::string folder = std::string(temp) + "korvanel-planted-" + std::to_string(GetCurrentProcessId()) + "-" +
                         std::to_string(GetTickCount());
    std::string tool = folder + "\\korvanel.exe";
    std::string dll = folder + "\\uxtheme.dll";
    std::string ran = folder + "\\planted-dll-ran";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << folder << ", error " << GetLastError();
    EXPECT_TRUE(CopyFileA(g_toolPath.c_str(), tool.c_str(), TRUE)) << tool << ", error " << GetLastError();
    EXPECT_TRUE(CopyFileA(probe.c_str(), dll.c_str(), TRUE)) << probe << ", error " << GetLastError();
    // Wine prefers its own DLLs to files; its runner tells it to prefer files for
    // uxtheme (WINEDLLOVERRIDES, which Wine keeps out of the Windows environment),
    // and it then searches as Windows does.
    std::string original = g_toolPath;
    g_toolPath = tool;
    ExpectHelpPages(RunTool(QuotedTool()));
    g_toolPath = original;
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(ran.c_str())) << "the uxtheme.dll beside the tool ran in it";
    // A tool that crashed may hold its files a moment longer.
    bool removed = false;
    for (int attempt = 0; attempt < 50 && !removed; ++attempt) {
        for (const std::string& file : {ran, dll, tool})
            DeleteFileA(file.c_str());
        removed = RemoveDirectoryA(folder.c_str()) != FALSE;
        if (!removed)
            Sleep(100);
    }
    EXPECT_TRUE(removed) << folder << ", error " << GetLastError();
}

// --- the other architecture ----------------------------------------------------------

// Notepad of the other architecture than this program's, as this program names it
// (a 32-bit program sees the 64-bit system folder as Sysnative); empty on a 32-bit
// Windows, which has none.
std::string OtherArchitectureNotepad()
{
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    bool tool64 = sizeof(void*) == 8;
    if (!tool64 && !wow64)
        return "";
    char windows[MAX_PATH] = "";
    GetWindowsDirectoryA(windows, MAX_PATH);
    return std::string(windows) + (tool64 ? "\\SysWOW64\\notepad.exe" : "\\Sysnative\\notepad.exe");
}

// The everyday case on 64-bit Windows: the 32-bit tool and a 64-bit program's
// window, or the 64-bit tool and a 32-bit program's. Notepad of the other
// architecture is the target.
TEST(OtherArchitecture, ThreadOfTheOtherArchitectureIsChanged)
{
    bool tool64 = sizeof(void*) == 8;
    std::string notepad = OtherArchitectureNotepad();
    if (notepad.empty())
        GTEST_SKIP() << "a 32-bit Windows runs no 64-bit programs";
    std::string line = "\"" + notepad + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(notepad.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        << notepad << ", error " << GetLastError();
    auto stopNotepad = [&process] {
        TerminateProcess(process.hProcess, 0);
        WaitForSingleObject(process.hProcess, 10000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    };
    WaitForInputIdle(process.hProcess, 20000);
    std::vector<HWND> windows;
    for (int attempt = 0; attempt < 200 && windows.empty(); ++attempt) {
        windows = FindVisibleWindows(process.dwProcessId, "Notepad");
        Sleep(50);
    }
    if (windows.empty()) {
        stopNotepad();
        if (!UnderWine())
            GTEST_SKIP() << "this Windows hands " << notepad << " on to another Notepad";
        FAIL() << "Notepad showed no window";
    }
    BOOL targetWow64 = FALSE;
    IsWow64Process(process.hProcess, &targetWow64);
    EXPECT_EQ(tool64, targetWow64 != FALSE) << "Notepad is not of the other architecture";
    // A title of its own, so that no other Notepad can be taken for it.
    SetWindowTextA(windows[0], "Korvanel Other Architecture");
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, GetWindowThreadProcessId(windows[0], nullptr));
    EXPECT_EQ(THREAD_PRIORITY_NORMAL, GetThreadPriority(thread));
    ExpectSilent(RunTool(QuotedTool() + " Notepad \"Korvanel Other Architecture\" HIGHEST"));
    EXPECT_EQ(THREAD_PRIORITY_HIGHEST, GetThreadPriority(thread));
    CloseHandle(thread);
    stopNotepad();
}

// --- the user's page ------------------------------------------------------------------

// The README's batch file that starts a program and then sets it, as printed there.
std::string ReadmeRecipe()
{
    std::string text;
    FILE* file = fopen(KORVANEL_README, "rb");
    char chunk[4096];
    for (size_t got = 0; file != nullptr && (got = fread(chunk, 1, sizeof(chunk), file)) > 0;)
        text.append(chunk, got);
    if (file != nullptr)
        fclose(file);
    size_t start = text.find("```bat\nstart \"\" /normal");
    size_t end = start == std::string::npos ? start : text.find("```", start + 7);
    return end == std::string::npos ? "" : text.substr(start + 7, end - start - 7);
}

// The recipe with only its placeholders replaced: Notepad of each architecture for the
// program, the tool under test for the tool, run by cmd.exe as a .bat file below the normal
// priority class, as a task of the default priority runs it. Notepad must start in the normal
// class all the same (CreateProcess gives a child its creator's below-normal class otherwise),
// and its window thread end at the priority the recipe asks for. Wine gives every new process
// the normal class, whatever its creator asks, cmd.exe here included: only on Windows can the
// class check fail.
TEST(Recipe, BatchFileStartsTheProgramThenSetsIt)
{
    const std::string recipe = ReadmeRecipe();
    ASSERT_NE("", recipe) << "no ```bat block beginning 'start \"\" /normal' in " << KORVANEL_README;
    char windows[MAX_PATH] = "", tool[MAX_PATH] = "", temp[MAX_PATH] = "";
    GetWindowsDirectoryA(windows, MAX_PATH);
    GetFullPathNameA(g_toolPath.c_str(), MAX_PATH, tool, nullptr);
    GetTempPathA(MAX_PATH, temp);
    std::vector<std::string> notepads = {std::string(windows) + "\\system32\\notepad.exe", OtherArchitectureNotepad()};
    if (notepads.back().empty())
        notepads.pop_back();
    std::string batch = std::string(temp) + "korvanel-recipe-" + std::to_string(GetCurrentProcessId()) + ".bat";
    std::string cmd = std::string(windows) + "\\system32\\cmd.exe";
    for (const std::string& notepad : notepads) {
        SCOPED_TRACE(notepad);
        std::string text = recipe;
        for (const auto& placeholder : {std::make_pair(std::string("\"C:\\Program Files\\Example\\example.exe\""), "\"" + notepad + "\""),
                                        std::make_pair(std::string("\"C:\\Program Files\\Korvanel\\korvanel.exe\""), "\"" + std::string(tool) + "\""),
                                        std::make_pair(std::string("ExampleWindowClass"), std::string("Notepad"))}) {
            size_t at = text.find(placeholder.first);
            ASSERT_NE(std::string::npos, at) << "the recipe has no " << placeholder.first << ":\n" << recipe;
            text.replace(at, placeholder.first.size(), placeholder.second);
        }
        for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2))
            text.insert(at, "\r");  // cmd reads batch files in CRLF lines
        FILE* file = fopen(batch.c_str(), "wb");
        ASSERT_NE(nullptr, file) << batch;
        fwrite(text.data(), 1, text.size(), file);
        fclose(file);
        std::string line = "\"" + cmd + "\" /d /c \"" + batch + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessA(cmd.c_str(), &line[0], nullptr, nullptr, FALSE, BELOW_NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                                   &startup, &process))
            << line << ", error " << GetLastError();
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 120000)) << "the batch file did not end in 2 minutes";
        TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        DeleteFileA(batch.c_str());
        HWND window = FindWindowA("Notepad", nullptr);
        ASSERT_NE(nullptr, window) << "the batch file started no Notepad";
        DWORD notepadId = 0;
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, GetWindowThreadProcessId(window, &notepadId));
        EXPECT_EQ(THREAD_PRIORITY_ABOVE_NORMAL, GetThreadPriority(thread)) << "the recipe:\n" << text;
        CloseHandle(thread);
        HANDLE started = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, notepadId);
        EXPECT_EQ(static_cast<DWORD>(NORMAL_PRIORITY_CLASS), GetPriorityClass(started)) << "the recipe:\n" << text;
        TerminateProcess(started, 0);
        WaitForSingleObject(started, 10000);
        CloseHandle(started);
    }
}

// --- sessions nobody sees --------------------------------------------------------------

// A service, or a task run whether the user is logged on or not, runs on a window
// station that reaches no screen; a box there would never be answered. Such a
// station of the test's own, with one desktop, stands in for it: only the
// interactive station has WSF_VISIBLE.
TEST(HiddenStation, EndsAtOnceWithoutABox)
{
    char name[64];
    snprintf(name, sizeof(name), "KorvanelHidden%lu", GetCurrentProcessId());
    HWINSTA own = GetProcessWindowStation();
    HWINSTA station = CreateWindowStationA(name, 0, WINSTA_ALL_ACCESS, nullptr);
    ASSERT_NE(nullptr, station) << "CreateWindowStationA failed, error " << GetLastError();
    // A desktop is created on the process's own station, so the test moves there for that.
    HDESK desktop = nullptr;
    if (SetProcessWindowStation(station)) {
        desktop = CreateDesktopA("Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        EXPECT_NE(nullptr, desktop) << "CreateDesktopA failed, error " << GetLastError();
        EXPECT_TRUE(SetProcessWindowStation(own)) << "error " << GetLastError();
    } else {
        ADD_FAILURE() << "SetProcessWindowStation failed, error " << GetLastError();
    }
    if (desktop != nullptr) {
        std::string where = std::string(name) + "\\Default";
        for (const char* tail : {"", " OnlyTwo Tokens"}) {
            SCOPED_TRACE(std::string("tail '") + tail + "'");
            ToolRun run = RunTool(QuotedTool() + tail, where.c_str());
            ExpectSilent(run);
            EXPECT_LT(run.milliseconds, 15000u) << "the tool took its time";
        }
        CloseDesktop(desktop);
    }
    CloseWindowStation(station);
}

}  // namespace

// Usage: korvanel_e2e_tests.exe TOOL.exe landscape|portrait|any [gtest options]
// The orientation says which screen the runner set up; "any" takes the screen as it is.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    bool known = argc == 3 && (strcmp(argv[2], "landscape") == 0 || strcmp(argv[2], "portrait") == 0 ||
                               strcmp(argv[2], "any") == 0);
    if (!known) {
        fprintf(stderr, "usage: %s TOOL.exe landscape|portrait|any [gtest options]\n", argv[0]);
        return 2;
    }
    g_toolPath = argv[1];
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    g_portrait = width < height;
    if (strcmp(argv[2], "any") != 0 && g_portrait != (strcmp(argv[2], "portrait") == 0)) {
        fprintf(stderr, "the screen is %dx%d, not %s\n", width, height, argv[2]);
        return 2;
    }
    int status = RUN_ALL_TESTS();
    // A filter that matches no test checks nothing, and must not pass for a check.
    if (::testing::UnitTest::GetInstance()->test_to_run_count() == 0) {
        fprintf(stderr, "no test matched the filter, so nothing was checked\n");
        return 1;
    }
    return status;
}
