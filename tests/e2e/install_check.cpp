// Checks Varnolt.exe where a release put it (an extracted zip, an installed
// folder), not a copy: a command-line key answered from its own Varnolt.dat,
// a number answered in the main window, an add saved beside it.
// Usage: install_check FOLDER   (environment variables in FOLDER are expanded)
#include <cstdio>

#include "directory/directory.h"
#include "directory/lookup_file.h"
#include "tests/e2e/driver.h"
#include "ui/resource_ids.h"

namespace {

int passed = 0, failed = 0;
constexpr DWORD kTimeout = 15000;

void Check(bool ok, const char* what, const std::wstring& detail = L"") {
    char utf8[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, detail.c_str(), -1, utf8, sizeof utf8 - 1, nullptr, nullptr);
    std::printf("%s %s%s%s%s\n", ok ? "ok  " : "FAIL", what, *utf8 ? " [" : "", utf8, *utf8 ? "]" : "");
    std::fflush(stdout);
    ++(ok ? passed : failed);
}

void CommandLineKey(const std::wstring& folder) {
    ProgramRun run;
    run.folder = folder;
    Check(StartProgram(run, L"1391234"), "starts where it lies", folder);
    HWND box = WaitForMessageBox(run, kTimeout);
    Check(box && MessageBoxText(box) == L"江苏省常州市" && WindowText(box) == L"中国移动",
          "command line 1391234 answered from its own directory",
          box ? MessageBoxText(box) + L"/" + WindowText(box) : L"no answer");
    if (box) PressButton(box, IDOK);
    Check(WaitForExit(run, kTimeout) == 1, "exit code is the box's result");
}

void QueryAddSave(const std::wstring& folder) {
    ProgramRun run;
    run.folder = folder;
    StartProgram(run, L"");
    HWND main = WaitForMainWindow(run, kTimeout);
    Check(main != nullptr, "the main window opens");
    if (!main) return;
    HWND query = VisiblePage(main);
    SetField(query, IDC_NUMBER, L"13912345678");
    Check(FieldText(query, IDC_AREA) == L"江苏省常州市" && FieldText(query, IDC_TYPE) == L"中国移动",
          "13912345678 answered", FieldText(query, IDC_AREA) + L"/" + FieldText(query, IDC_TYPE));
    SetField(query, IDC_NUMBER, L"100");
    SetField(query, IDC_AREA, L"安装测试");
    SetField(query, IDC_TYPE, L"测试类型");
    PressButton(main, IDOK);
    Check(AnswerMessageBox(run, IDOK, kTimeout) == L"记录添加成功。", "an entry is added");
    PressButton(main, IDCANCEL);
    AnswerMessageBox(run, IDYES, kTimeout);
    Check(WaitForExit(run, kTimeout) == 0, "saved at exit without a failure box");
    wchar_t area[kLookupNameUnits] = {}, type[kLookupNameUnits] = {};
    const std::wstring saved = folder + L"\\Varnolt.dat";
    Check(LookupNumberInFile(reinterpret_cast<const char16_t*>(saved.c_str()), 100, reinterpret_cast<char16_t*>(area),
                             reinterpret_cast<char16_t*>(type)) &&
              std::wstring(area) == L"安装测试",
          "the add is saved beside the program", saved);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: install_check FOLDER\n");
        return 2;
    }
    wchar_t expanded[MAX_PATH] = {};
    ExpandEnvironmentStringsW(WindowsPath(argv[1]).c_str(), expanded, MAX_PATH);
    CommandLineKey(expanded);
    QueryAddSave(expanded);
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
