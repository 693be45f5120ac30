// Helpers for end-to-end tests on Windows: target windows on threads of their
// own, starting the real tool, and reading the message boxes it shows.
#ifndef KORVANEL_TESTS_E2E_HARNESS_H
#define KORVANEL_TESTS_E2E_HARNESS_H

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>
#include <vector>

// Where the tool under test is, set from the command line of the test program.
extern std::string g_toolPath;

// A top-level window created by a thread that does nothing else.
struct TargetWindow {
    HWND window = nullptr;
    HANDLE thread = nullptr;  // the creating thread, open for THREAD_QUERY_INFORMATION
    DWORD threadId = 0;
};

// Creates the window on a new thread and waits until it exists.
TargetWindow StartTargetWindow(const wchar_t* className, const wchar_t* title);
// Closes the window, ends its thread, releases the handle.
void StopTargetWindow(TargetWindow* target);

// What one message box of the tool showed.
struct ShownBox {
    std::string caption;
    std::string text;
    int buttons = 0;          // push buttons in the box
    bool okButton = false;    // one of them is IDOK
    char iconColour = '?';    // 'r' mostly red, 'b' mostly blue, '?' neither
};

// What one run of the tool did.
struct ToolRun {
    std::vector<ShownBox> boxes;  // in the order they were shown
    int mostBoxesAtOnce = 0;
    DWORD exitCode = 0xFFFFFFFF;
    bool finished = false;        // ended on its own within the time allowed
    DWORD milliseconds = 0;       // from the start to the end of the process
};

// Starts the tool with exactly this command line, answers each box with OK
// once it has been read, and waits for the tool to end. The ANSI command line
// goes through CreateProcessA, on the named desktop ("Station\\Desktop") if one
// is given; the UTF-16 one through CreateProcessW, as a Windows shell starts programs.
ToolRun RunTool(const std::string& commandLine, const char* desktop = nullptr);
ToolRun RunTool(const std::wstring& commandLine);

// The visible top-level windows of a process that have this class.
std::vector<HWND> FindVisibleWindows(DWORD processId, const char* className);

// The tool's path in double quotes, as a command line starts.
std::string QuotedTool();
std::wstring QuotedToolW();

// text in this program's ANSI code page, as UTF-16.
std::wstring Widen(const std::string& text);

#endif
