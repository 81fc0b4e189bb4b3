// End-to-end tests of Varnolt.exe. Usage: e2e_driver VARNOLT_EXE FIXTURE_FOLDER
#include <cstdio>

#include "tests/e2e/driver.h"

namespace {

int failures = 0;
std::wstring exePath, fixtures;

void Check(bool ok, const char* what, const std::wstring& detail = L"") {
    std::printf("%s %s", ok ? "ok  " : "FAIL", what);
    if (!detail.empty()) std::printf(" [%ls]", detail.c_str());
    std::printf("\n");
    std::fflush(stdout);
    if (!ok) ++failures;
}

std::wstring Fixture(const wchar_t* name) { return fixtures + L"\\" + name; }

constexpr DWORD kWindowTimeout = 15000;

// A covered key: the answer box carries the area as text and the type as
// caption, and the box's result is the exit code.
void AnswerBoxForCoveredKey(const wchar_t* key, const wchar_t* area, const wchar_t* type) {
    ProgramRun run;
    run.folder = MakeRunFolder(exePath, Fixture(L"example.dat"));
    if (!StartProgram(run, key)) return Check(false, "start Varnolt.exe", run.folder);
    HWND box = WaitForWindow(run, L"#32770", kWindowTimeout);
    Check(box != nullptr, "answer box appears", key);
    if (box) {
        Check(MessageBoxText(box) == area, "answer text is the area", MessageBoxText(box));
        Check(WindowText(box) == type, "answer caption is the type", WindowText(box));
        Check(PressButton(box, IDOK), "press OK");
    }
    long code = WaitForExit(run, kWindowTimeout);
    Check(code == 1, "exit code is IDOK", std::to_wstring(code));
    RemoveRunFolder(run.folder);
}

// Keys that the file does not answer lead to the interactive course, which
// shows no answer box.
void NoAnswerBox(const wchar_t* directoryFixture, const wchar_t* key, const char* what) {
    ProgramRun run;
    run.folder = MakeRunFolder(exePath, directoryFixture ? Fixture(directoryFixture) : L"");
    if (!StartProgram(run, key)) return Check(false, "start Varnolt.exe", run.folder);
    HWND box = nullptr;
    const DWORD begin = GetTickCount();
    while (WaitForSingleObject(run.process.hProcess, 50) == WAIT_TIMEOUT && GetTickCount() - begin < kWindowTimeout) {
        for (HWND window : ProcessWindows(run, L"#32770"))
            if (MessageBoxText(window) != L"" || GetDlgItem(window, 0xFFFF)) box = window;
        if (box) break;
    }
    Check(box == nullptr, what, key);
    long code = WaitForExit(run, kWindowTimeout);
    Check(code == 0, "ends with exit code 0", std::to_wstring(code));
    RemoveRunFolder(run.folder);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: e2e_driver VARNOLT_EXE FIXTURE_FOLDER\n");
        return 2;
    }
    exePath = WindowsPath(argv[1]);
    fixtures = WindowsPath(argv[2]);

    AnswerBoxForCoveredKey(L"1380050", L"AB", L"D");
    AnswerBoxForCoveredKey(L"1300000", L"C", L"D");
    AnswerBoxForCoveredKey(L"  1380099", L"AB", L"D");
    NoAnswerBox(L"example.dat", L"0", "key 0: no answer box");
    NoAnswerBox(L"example.dat", L"abc", "key abc: no answer box");
    NoAnswerBox(L"example.dat", L"-5", "key -5: no answer box");
    NoAnswerBox(L"example.dat", L"13912345678", "a whole mobile number: no answer box");
    NoAnswerBox(L"example.dat", L"1380100", "uncovered key: no answer box");
    NoAnswerBox(nullptr, L"1380050", "no directory file: no answer box");
    NoAnswerBox(L"wrong_magic.dat", L"1380050", "foreign file: no answer box");

    std::printf("%d failure(s)\n", failures);
    return failures == 0 ? 0 : 1;
}
