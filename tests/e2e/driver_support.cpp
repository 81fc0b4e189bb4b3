#include "tests/e2e/driver.h"

std::wstring WindowsPath(const wchar_t* path) {
    std::wstring out = path;
    if (!out.empty() && out[0] == L'/') out = L"Z:" + out;
    for (wchar_t& c : out)
        if (c == L'/') c = L'\\';
    return out;
}

std::wstring MakeRunFolder(const std::wstring& exe, const std::wstring& directoryFixture) {
    static int serial = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"varnolt-e2e-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                          std::to_wstring(serial++);
    CreateDirectoryW(folder.c_str(), nullptr);
    CopyFileW(exe.c_str(), (folder + L"\\Varnolt.exe").c_str(), FALSE);
    if (!directoryFixture.empty()) CopyFileW(directoryFixture.c_str(), (folder + L"\\Varnolt.dat").c_str(), FALSE);
    return folder;
}

void RemoveRunFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") DeleteFileW((folder + L"\\" + name).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

bool StartProgram(ProgramRun& run, const std::wstring& arguments) {
    std::wstring exe = run.folder + L"\\Varnolt.exe";
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    run.started = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 run.folder.c_str(), &startup, &run.process) != 0;
    if (run.started) WaitForInputIdle(run.process.hProcess, 5000);
    return run.started;
}

long WaitForExit(ProgramRun& run, DWORD timeoutMs) {
    if (!run.started) return -1;
    long result = -1;
    if (WaitForSingleObject(run.process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(run.process.hProcess, &code);
        result = static_cast<long>(code);
    } else {
        TerminateProcess(run.process.hProcess, 99);
        WaitForSingleObject(run.process.hProcess, 5000);
    }
    CloseHandle(run.process.hThread);
    CloseHandle(run.process.hProcess);
    run.started = false;
    return result;
}

namespace {

struct WindowSearch {
    DWORD processId;
    const wchar_t* className;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[64];
    if (owner == search->processId && IsWindowVisible(window) && GetClassNameW(window, name, 64) &&
        lstrcmpW(name, search->className) == 0)
        search->found.push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> ProcessWindows(const ProgramRun& run, const wchar_t* className) {
    WindowSearch search{run.process.dwProcessId, className, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForWindow(const ProgramRun& run, const wchar_t* className, DWORD timeoutMs) {
    const DWORD begin = GetTickCount();
    for (;;) {
        std::vector<HWND> windows = ProcessWindows(run, className);
        if (!windows.empty()) return windows.front();
        if (WaitForSingleObject(run.process.hProcess, 0) == WAIT_OBJECT_0) return nullptr;
        if (GetTickCount() - begin > timeoutMs) return nullptr;
        Sleep(50);
    }
}

std::wstring WindowText(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

std::wstring MessageBoxText(HWND box) {
    wchar_t text[1024] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 1024);
    return text;
}

bool PressButton(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    if (!button) return false;
    return PostMessageW(button, BM_CLICK, 0, 0) != 0;
}
