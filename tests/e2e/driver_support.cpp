// The end-to-end driver's tools: starting the program, finding its windows, reading and typing into them.
#include "tests/e2e/driver.h"

#include <commctrl.h>

#include "ui/resource_ids.h"

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

// Through \\?\, so that names past MAX_PATH go too; a folder standing in
// for a file is removed as well.
void RemoveRunFolder(const std::wstring& folder) {
    const std::wstring stem = L"\\\\?\\" + folder + L"\\";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((stem + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName, path = stem + name;
            if (name == L"." || name == L"..") continue;
            if (!DeleteFileW(path.c_str())) RemoveDirectoryW(path.c_str());
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

std::wstring WindowText(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

std::wstring MessageBoxText(HWND box) {
    wchar_t text[1024] = {};
    GetDlgItemTextW(box, IDC_MESSAGE_TEXT, text, 1024);
    return text;
}

bool PressButton(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    if (!button) return false;
    return PostMessageW(button, BM_CLICK, 0, 0) != 0;
}

namespace {

bool IsMessageBox(HWND window) { return GetDlgItem(window, IDC_MESSAGE_TEXT) != nullptr; }

HWND WaitForDialog(const ProgramRun& run, DWORD timeoutMs, bool (*wanted)(HWND)) {
    const DWORD begin = GetTickCount();
    for (;;) {
        for (HWND window : ProcessWindows(run, L"#32770"))
            if (wanted(window)) return window;
        if (WaitForSingleObject(run.process.hProcess, 0) == WAIT_OBJECT_0) return nullptr;
        if (GetTickCount() - begin > timeoutMs) return nullptr;
        Sleep(30);
    }
}

}  // namespace

HWND WaitForMainWindow(const ProgramRun& run, DWORD timeoutMs) {
    return WaitForDialog(run, timeoutMs, [](HWND w) { return GetDlgItem(w, IDC_TAB) != nullptr; });
}

HWND WaitForMessageBox(const ProgramRun& run, DWORD timeoutMs) { return WaitForDialog(run, timeoutMs, IsMessageBox); }

HWND VisiblePage(HWND mainWindow) {
    for (HWND child = FindWindowExW(mainWindow, nullptr, L"#32770", nullptr); child;
         child = FindWindowExW(mainWindow, child, L"#32770", nullptr))
        if (IsWindowVisible(child)) return child;
    return nullptr;
}

void SetField(HWND dialog, int id, const std::wstring& text) {
    SendMessageW(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::wstring FieldText(HWND dialog, int id) {
    wchar_t text[1024] = {};
    SendMessageW(GetDlgItem(dialog, id), WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return text;
}

bool IsControlEnabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != 0; }

void SelectTab(HWND mainWindow, int index) { SendDlgItemMessageW(mainWindow, IDC_TAB, TCM_SETCURFOCUS, index, 0); }

int TabCount(HWND mainWindow) {
    return static_cast<int>(SendDlgItemMessageW(mainWindow, IDC_TAB, TCM_GETITEMCOUNT, 0, 0));
}

std::wstring TabLabel(const ProgramRun& run, HWND mainWindow, int index) {
    // TCITEMW as laid out for the target, which has the driver's pointer size.
    struct Item {
        UINT mask;
        DWORD state, stateMask;
        LPWSTR text;
        int textMax, image;
        LPARAM param;
    };
    const SIZE_T textBytes = 260 * sizeof(wchar_t);
    BYTE* remote = static_cast<BYTE*>(
        VirtualAllocEx(run.process.hProcess, nullptr, sizeof(Item) + textBytes, MEM_COMMIT, PAGE_READWRITE));
    if (!remote) return L"<no memory>";
    Item item = {TCIF_TEXT, 0, 0, reinterpret_cast<LPWSTR>(remote + sizeof(Item)), 260, 0, 0};
    WriteProcessMemory(run.process.hProcess, remote, &item, sizeof item, nullptr);
    wchar_t text[260] = {};
    if (SendDlgItemMessageW(mainWindow, IDC_TAB, TCM_GETITEMW, index, reinterpret_cast<LPARAM>(remote)))
        ReadProcessMemory(run.process.hProcess, remote + sizeof(Item), text, textBytes, nullptr);
    VirtualFreeEx(run.process.hProcess, remote, 0, MEM_RELEASE);
    text[259] = 0;
    return text;
}

void DoubleClick(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
    PostMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
    PostMessageW(control, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(4, 4));
    PostMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
}

std::wstring AnswerMessageBox(const ProgramRun& run, int button, DWORD timeoutMs) {
    HWND box = WaitForMessageBox(run, timeoutMs);
    if (!box) return L"";
    std::wstring text = MessageBoxText(box);
    PressButton(box, button);
    // Wait until the box has gone, so the next step meets the window behind it.
    for (int i = 0; i < 200 && IsWindow(box) && IsWindowVisible(box); ++i) Sleep(20);
    return text;
}

void PutFile(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::string GetFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD got = 0;
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(file);
    bytes.resize(got);
    return bytes;
}
