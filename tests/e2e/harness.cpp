#include "harness.h"

#include <stdio.h>

std::string g_toolPath;

namespace {

const DWORD kRunTimeoutMs = 60000;
const DWORD kPollMs = 20;

struct TargetStart {
    const wchar_t* className;
    const wchar_t* title;
    HWND window;
    HANDLE ready;
};

LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Unicode windows, so that any name can be given.
DWORD WINAPI TargetThread(void* parameter)
{
    TargetStart* start = static_cast<TargetStart*>(parameter);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = TargetProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = start->className;
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, start->className, start->title, WS_OVERLAPPEDWINDOW, 10, 10, 200, 100,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
    start->window = window;
    // `start` lives on the caller's stack, which may be gone once it is woken.
    SetEvent(start->ready);
    if (window == nullptr)
        return 1;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}

struct WindowSearch {
    DWORD processId;
    const char* className;
    std::vector<HWND> windows;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM parameter)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    char className[64] = "";
    GetClassNameA(window, className, sizeof(className));
    if (processId == search->processId && strcmp(className, search->className) == 0 && IsWindowVisible(window))
        search->windows.push_back(window);
    return TRUE;
}

std::string WindowText(HWND window)
{
    char text[1024] = "";
    if (window != nullptr)
        GetWindowTextA(window, text, sizeof(text));
    return text;
}

struct ChildCount {
    int buttons;
    bool ok;
    HWND icon;
};

BOOL CALLBACK InspectChild(HWND child, LPARAM parameter)
{
    ChildCount* count = reinterpret_cast<ChildCount*>(parameter);
    char className[64] = "";
    GetClassNameA(child, className, sizeof(className));
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if (_stricmp(className, "Button") == 0 && IsWindowVisible(child)) {
        ++count->buttons;
        if (GetDlgCtrlID(child) == IDOK)
            count->ok = true;
    } else if (_stricmp(className, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
        count->icon = child;
    }
    return TRUE;
}

// The icon's hue judged from the screen: handles read from another process
// cannot be compared with this one's, but the picture can.
char IconColour(HWND icon)
{
    if (icon == nullptr)
        return '?';
    RECT rect;
    GetWindowRect(icon, &rect);
    HDC screen = GetDC(nullptr);
    int red = 0, blue = 0;
    for (int y = rect.top; y < rect.bottom; ++y) {
        for (int x = rect.left; x < rect.right; ++x) {
            COLORREF pixel = GetPixel(screen, x, y);
            int r = GetRValue(pixel), g = GetGValue(pixel), b = GetBValue(pixel);
            if (r > 150 && g < 100 && b < 100)
                ++red;
            else if (b > 150 && r < 120)
                ++blue;
        }
    }
    ReleaseDC(nullptr, screen);
    if (red > 20 && red > 2 * blue)
        return 'r';
    if (blue > 20 && blue > 2 * red)
        return 'b';
    return '?';
}

ShownBox ReadBox(HWND box)
{
    ShownBox shown;
    shown.caption = WindowText(box);
    shown.text = WindowText(GetDlgItem(box, 0xFFFF));
    ChildCount count = {0, false, nullptr};
    EnumChildWindows(box, InspectChild, reinterpret_cast<LPARAM>(&count));
    shown.buttons = count.buttons;
    shown.okButton = count.ok;
    // Give the box time to paint before judging the icon.
    for (int attempt = 0; attempt < 50 && shown.iconColour == '?'; ++attempt) {
        Sleep(kPollMs);
        shown.iconColour = IconColour(count.icon);
    }
    return shown;
}

// Answers every box the started tool shows, once it has been read, until the
// tool ends or its time is up.
ToolRun WatchTool(const PROCESS_INFORMATION& process, DWORD started)
{
    ToolRun run;
    HWND answered = nullptr;
    DWORD waited = 0;
    while (WaitForSingleObject(process.hProcess, kPollMs) == WAIT_TIMEOUT) {
        waited += kPollMs;
        if (waited > kRunTimeoutMs) {
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, 10000);
            break;
        }
        std::vector<HWND> boxes = FindVisibleWindows(process.dwProcessId, "#32770");
        if (static_cast<int>(boxes.size()) > run.mostBoxesAtOnce)
            run.mostBoxesAtOnce = static_cast<int>(boxes.size());
        for (HWND box : boxes) {
            if (box == answered && IsWindow(box))
                continue;  // still closing
            run.boxes.push_back(ReadBox(box));
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            answered = box;
            break;
        }
    }
    run.finished = waited <= kRunTimeoutMs;
    run.milliseconds = GetTickCount() - started;
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return run;
}

}  // namespace

std::vector<HWND> FindVisibleWindows(DWORD processId, const char* className)
{
    WindowSearch search = {processId, className, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.windows;
}

std::wstring Widen(const std::string& text)
{
    std::wstring wide(text.size(), L'\0');  // never more UTF-16 units than ANSI bytes
    wide.resize(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                    static_cast<int>(wide.size())));
    return wide;
}

TargetWindow StartTargetWindow(const wchar_t* className, const wchar_t* title)
{
    TargetStart start = {className, title, nullptr, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    TargetWindow target;
    HANDLE thread = CreateThread(nullptr, 0, TargetThread, &start, 0, &target.threadId);
    WaitForSingleObject(start.ready, 10000);
    CloseHandle(start.ready);
    target.window = start.window;
    target.thread = thread;
    return target;
}

void StopTargetWindow(TargetWindow* target)
{
    if (target->window != nullptr)
        PostMessageA(target->window, WM_CLOSE, 0, 0);
    if (target->thread != nullptr) {
        WaitForSingleObject(target->thread, 10000);
        CloseHandle(target->thread);
    }
    *target = TargetWindow();
}

std::string QuotedTool()
{
    return "\"" + g_toolPath + "\"";
}

std::wstring QuotedToolW()
{
    return Widen(QuotedTool());
}

ToolRun RunTool(const std::string& commandLine, const char* desktop)
{
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.lpDesktop = const_cast<char*>(desktop);
    PROCESS_INFORMATION process = {};
    DWORD started = GetTickCount();
    if (!CreateProcessA(g_toolPath.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        fprintf(stderr, "CreateProcessA failed for %s: %lu\n", g_toolPath.c_str(), GetLastError());
        return ToolRun();
    }
    return WatchTool(process, started);
}

ToolRun RunTool(const std::wstring& commandLine)
{
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    DWORD started = GetTickCount();
    if (!CreateProcessW(Widen(g_toolPath).c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        fprintf(stderr, "CreateProcessW failed for %s: %lu\n", g_toolPath.c_str(), GetLastError());
        return ToolRun();
    }
    return WatchTool(process, started);
}
