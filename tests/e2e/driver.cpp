// End-to-end tests of the real Varnolt.exe, driven from another process as
// a person would: plays the journeys of tests/data/journeys.txt.
// Usage: e2e_driver VARNOLT_EXE [--pictures REQUEST_FOLDER]
//        e2e_driver --install-check FOLDER   (environment variables expanded)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "base/text16.h"
#include "base/utf8.h"
#include "directory/lookup_file.h"
#include "tests/tables.h"
#include "ui/resource_ids.h"
#include "ui/startup.h"
#include "version.h"

namespace {

#define VARNOLT_WIDEN2(text) L##text
#define VARNOLT_WIDEN(text) VARNOLT_WIDEN2(text)

constexpr DWORD kTimeout = 15000;

// The ops of tests/data/journeys.txt, which says what each does.
// clang-format off
enum Op { kCopy, kBlock, kSame, kLaunch, kStart, kExit, kSet, kQuery, kPaste, kWritten, kPress, kBox,
          kOn, kOff, kTab, kTabs, kIcon, kPut, kFile, kSaved, kPicture };
const char* const kOpNames[] = {"copy", "block", "same", "launch", "start", "exit", "set",
                                "query", "paste", "written", "press", "box", "on", "off",
                                "tab", "tabs", "icon", "put", "file", "saved", "picture"};
// clang-format on
const std::map<std::string, int> kIds = {{"IDOK", IDOK},         {"IDCANCEL", IDCANCEL},   {"IDYES", IDYES},
                                         {"IDNO", IDNO},         {"IDC_ABOUT", IDC_ABOUT}, {"IDC_TITLE", IDC_TITLE},
                                         {"IDC_AREA", IDC_AREA}, {"IDC_TYPE", IDC_TYPE},   {"IDC_NUMBER", IDC_NUMBER},
                                         {"IDC_PATH", IDC_PATH}};

struct Step {
    Op op = kCopy;
    int id = 0;
    std::wstring text, expect;
};

// A journey as written: its name, and its steps' lines with their numbers.
struct Journey {
    std::string name;
    std::vector<std::pair<int, std::string>> lines;
};

// A journey's program: its folder, its process while one runs, its main window.
struct Run {
    std::wstring folder;
    PROCESS_INFORMATION process = {};
    bool started = false;
    HWND main = nullptr;
};

// CTest hands in /unix/paths; Wine reads them through its Z: drive.
std::wstring WindowsPath(std::wstring path) {
    if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
    for (wchar_t& c : path) c = c == L'/' ? L'\\' : c;
    return path;
}

int passed = 0, failed = 0;
std::wstring exePath, fixtures = WindowsPath(VARNOLT_WIDEN(VARNOLT_TEST_DATA)), pictureRequests;
std::map<std::wstring, std::wstring> texts;  // {NAME} of the journeys' texts

std::string Utf8(const std::wstring& text) { return Utf16ToUtf8(AsText16(text.c_str())); }

// UTF-16LE bytes of `text`, after the mark FF FE.
std::string Utf16File(const std::wstring& text) {
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : text) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    return bytes;
}

void PutFile(const std::wstring& path, const std::string& bytes) {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << bytes;
}

std::string GetFile(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return file ? std::string(std::istreambuf_iterator<char>(file), {}) : "<missing>";
}

bool Start(Run& run, const std::wstring& arguments) {
    const std::wstring exe = run.folder + L"\\Varnolt.exe";
    std::wstring commandLine = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    run.started = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 run.folder.c_str(), &startup, &run.process) != 0;
    if (run.started) WaitForInputIdle(run.process.hProcess, 5000);
    return run.started;
}

// The exit code, or -1 when the process has not ended within `timeoutMs`
// (it is then killed).
long Exit(Run& run, DWORD timeoutMs) {
    if (!run.started) return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(run.process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(run.process.hProcess, &code);
    } else {
        TerminateProcess(run.process.hProcess, 99);
        WaitForSingleObject(run.process.hProcess, 5000);
    }
    CloseHandle(run.process.hThread);
    CloseHandle(run.process.hProcess);
    run.started = false;
    run.main = nullptr;
    return static_cast<long>(code);
}

// WM_GETTEXT, which reaches into the other process where GetWindowText would not.
std::wstring Text(HWND window) {
    wchar_t text[1024] = {};
    SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return text;
}

// A visible dialog of the program holding the control `controlId`: IDC_TAB
// for the main window, IDC_MESSAGE_TEXT for a message box. Null when none
// came within `timeoutMs` or the process ended. The program has one thread,
// whose windows its dialogs and boxes are.
HWND WaitForDialog(const Run& run, int controlId, DWORD timeoutMs) {
    for (const DWORD begin = GetTickCount();; Sleep(30)) {
        for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, L"#32770", nullptr));)
            if (GetWindowThreadProcessId(window, nullptr) == run.process.dwThreadId && IsWindowVisible(window) &&
                GetDlgItem(window, controlId))
                return window;
        if (WaitForSingleObject(run.process.hProcess, 0) == WAIT_OBJECT_0 || GetTickCount() - begin > timeoutMs)
            return nullptr;
    }
}

// Answers a box with `button` and waits until it has gone, so that the next
// step meets the window behind it. Returns the box's text and caption.
std::pair<std::wstring, std::wstring> Answer(const Run& run, int button, DWORD timeoutMs) {
    HWND box = WaitForDialog(run, IDC_MESSAGE_TEXT, timeoutMs);
    if (!box) return {L"<no box>", L""};
    const std::pair said = {Text(GetDlgItem(box, IDC_MESSAGE_TEXT)), Text(box)};
    PostMessageW(GetDlgItem(box, button), BM_CLICK, 0, 0);
    for (int i = 0; i < 200 && IsWindow(box) && IsWindowVisible(box); ++i) Sleep(20);
    return said;
}

HWND VisiblePage(HWND main) {
    HWND page = nullptr;
    while ((page = FindWindowExW(main, page, L"#32770", nullptr)) && !IsWindowVisible(page)) {
    }
    return page;
}

int TabCount(HWND main) { return static_cast<int>(SendDlgItemMessageW(main, IDC_TAB, TCM_GETITEMCOUNT, 0, 0)); }

// Pastes `text` into the emptied number field through the clipboard, as
// Ctrl+V would: the field's digits-only style does not stop a paste.
void Paste(HWND query, const std::wstring& text) {
    SetDlgItemTextW(query, IDC_NUMBER, L"");
    if (!OpenClipboard(nullptr)) return;
    EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    memcpy(GlobalLock(memory), text.c_str(), bytes);
    GlobalUnlock(memory);
    SetClipboardData(CF_UNICODETEXT, memory);
    CloseClipboard();
    SendDlgItemMessageW(query, IDC_NUMBER, WM_PASTE, 0, 0);
}

// Asks the script outside Wine for a picture of the screen and waits until
// it has taken it (it removes the request file).
void Picture(const std::wstring& name) {
    const std::wstring request = pictureRequests + L"\\" + name + L".request";
    PutFile(request, "");
    for (int i = 0; i < 600 && GetFileAttributesW(request.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
}

bool Matches(const std::wstring& got, const std::wstring& want) {
    const size_t star = want.find(L'*');
    if (star == std::wstring::npos) return got == want;
    const size_t tail = want.size() - star - 1;
    return got.size() >= want.size() - 1 && got.compare(0, star, want, 0, star) == 0 &&
           got.compare(got.size() - tail, tail, want, star + 1, tail) == 0;
}

std::wstring Fields(HWND page) { return Text(GetDlgItem(page, IDC_AREA)) + L"\t" + Text(GetDlgItem(page, IDC_TYPE)); }

// Plays one step; `got` is what it saw, for the report when that is not
// what the step wants.
bool PlayStep(const Step& s, Run& run, std::wstring& got) {
    const std::wstring dat = run.folder + L"\\Varnolt.dat";
    HWND page = run.main ? VisiblePage(run.main) : nullptr;
    switch (s.op) {
        case kCopy:
            DeleteFileW(dat.c_str());
            return s.text.empty() || CopyFileW(s.text.c_str(), dat.c_str(), FALSE);
        case kBlock:
            DeleteFileW(dat.c_str());
            return CreateDirectoryW(dat.c_str(), nullptr);
        case kSame:
            return GetFile(dat) == GetFile(s.text);
        case kLaunch:
            return Start(run, s.text);
        case kStart:
            if (!Start(run, s.text)) return false;
            run.main = WaitForDialog(run, IDC_TAB, kTimeout);
            return run.main && !WaitForDialog(run, IDC_MESSAGE_TEXT, 0);
        case kExit:
            got = std::to_wstring(Exit(run, kTimeout));
            return got == std::to_wstring(s.id);
        case kSet:
            return SetDlgItemTextW(page, s.id, s.text.c_str());
        case kQuery:
        case kPaste:
            if (s.op == kQuery) SetDlgItemTextW(page, IDC_NUMBER, s.text.c_str());
            if (s.op == kPaste) Paste(page, s.text);
            got = Fields(page);
            return got == s.expect;
        case kWritten: {  // every row is tried; the wrong ones are all told
            // Each row: the text, its status, key, area and type.
            const auto rows = ParseTable(GetFile(fixtures + L"\\written_numbers.tsv"));
            for (auto row : rows) {
                row.resize(5);
                SetDlgItemTextW(page, IDC_NUMBER, AsWide(row[0].c_str()));
                // The page reads 259 units of its field; the long labels' numbers lie past them: no answer.
                if (row[0].size() > kPathUnits - 1) row[3] = row[4] = u"";
                if (Fields(page) != std::wstring(AsWide(row[3].c_str())) + L"\t" + AsWide(row[4].c_str()))
                    got += L"[" + std::wstring(AsWide(row[0].c_str())) + L": " + Fields(page) + L"] ";
            }
            return rows.size() >= 50 && got.empty();
        }
        case kPress:
            if (!PostMessageW(GetDlgItem(run.main, s.id), BM_CLICK, 0, 0)) return false;
            if (s.text.empty()) return true;
            got = Answer(run, IDOK, kTimeout).first;
            return Matches(got, s.text);
        case kBox: {
            const auto [text, caption] = Answer(run, s.id, kTimeout);
            got = text + L" / " + caption;
            return Matches(text, s.text) && caption == (s.expect.empty() ? L"Varnolt" : s.expect);
        }
        case kOn:
        case kOff:
            got = Text(GetDlgItem(run.main, s.id));
            return got == s.text && IsWindowEnabled(GetDlgItem(run.main, s.id)) == (s.op == kOn);
        case kTab:
            SendDlgItemMessageW(run.main, IDC_TAB, TCM_SETCURFOCUS, s.id, 0);
            return VisiblePage(run.main) != page;
        case kTabs:
            got = std::to_wstring(TabCount(run.main));
            return got == std::to_wstring(s.id);
        case kIcon: {  // a double-click, which toggles the export tab
            const int tabs = TabCount(run.main);
            for (UINT message : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
                PostMessageW(GetDlgItem(page, IDC_ICON), message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, 0);
            for (int i = 0; i < 300 && TabCount(run.main) == tabs; ++i) Sleep(50);
            return TabCount(run.main) != tabs;
        }
        case kPut:
            PutFile(L"\\\\?\\" + s.text, Utf16File(s.expect));
            return true;
        case kFile:
            return GetFile(s.text) == Utf16File(AsWide(Utf8ToUtf16(GetFile(s.expect)).c_str()));
        case kSaved: {
            char16_t area[kLookupNameUnits] = {}, type[kLookupNameUnits] = {};
            const bool found = LookupNumberInFile(AsText16(dat.c_str()), s.id, area, type);
            got = std::wstring(AsWide(area)) + L"\t" + AsWide(type);
            return found && got == s.text;
        }
        case kPicture:
            if (pictureRequests.empty()) return true;
            if (s.id && !WaitForDialog(run, IDC_MESSAGE_TEXT, kTimeout)) return false;
            Picture(s.text);
            return true;
    }
    return false;
}

// A text of the journeys as meant: escapes and {…} expanded, in `folder`.
std::wstring Expand(const std::string& written, const std::wstring& folder) {
    const std::wstring in = AsWide(Utf8ToUtf16(written).c_str());
    std::wstring out;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == L'\\' && i + 1 < in.size() && std::wstring(L"tnr").find(in[i + 1]) != std::wstring::npos) {
            out += in[++i] == L't' ? L'\t' : in[i] == L'n' ? L'\n' : L'\r';
        } else if (in[i] == L'{' && in.find(L'}', i) != std::wstring::npos) {
            const std::wstring name = in.substr(i + 1, in.find(L'}', i) - i - 1);
            i = in.find(L'}', i);
            const size_t star = name.find(L'*'), to = name.find(L" to ");
            if (name == L"data" || name == L"folder") {
                out += name == L"data" ? fixtures : folder;
            } else if (star != std::wstring::npos) {
                for (int n = std::stoi(name.substr(star + 1)); n > 0; --n) out += name.substr(0, star);
            } else if (to != std::wstring::npos) {
                out.resize(std::max<size_t>(out.size(), std::stoi(name.substr(to + 4))), name[0]);
            } else {
                out += texts[name];
            }
        } else {
            out += in[i];
        }
    }
    return out;
}

// A step from its line: "op [id] | text | expect".
bool ParseStep(const std::string& line, const std::wstring& folder, Step& step) {
    const size_t bar = line.find(" |");
    std::istringstream words(line.substr(0, bar));
    std::string op, id;
    words >> op >> id;
    const auto name = std::find(std::begin(kOpNames), std::end(kOpNames), op);
    if (name == std::end(kOpNames)) return false;
    step.op = static_cast<Op>(name - std::begin(kOpNames));
    step.id = kIds.count(id) ? kIds.at(id) : std::atoi(id.c_str());
    if (bar == std::string::npos) return true;
    std::string rest = line.substr(bar + 2);
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    const size_t second = rest.find(" | ");
    step.text = Expand(rest.substr(0, second), folder);
    if (second != std::string::npos) step.expect = Expand(rest.substr(second + 3), folder);
    return true;
}

// The journeys of the file; its "let" lines fill `texts`.
std::vector<Journey> ReadJourneys() {
    std::vector<Journey> journeys;
    std::istringstream file(GetFile(fixtures + L"\\journeys.txt"));
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        if (line.empty() || line[0] == '#') continue;
        if (line.rfind("== ", 0) == 0)
            journeys.push_back({line.substr(3), {}});
        else if (line.rfind("let ", 0) == 0)
            texts[AsWide(Utf8ToUtf16(line.substr(4, line.find(" = ") - 4)).c_str())] =
                Expand(line.substr(line.find(" = ") + 3), L"");
        else if (!journeys.empty())
            journeys.back().lines.push_back({number, line});
    }
    return journeys;
}

// Plays a journey in `folder` until a step that acts or waits fails (the
// steps after it would only wait for what cannot come); a failed query is
// reported and the journey goes on, so that every wrong row shows.
void Play(const Journey& journey, const std::wstring& folder) {
    Run run;
    run.folder = folder;
    int wrong = 0;
    for (const auto& [number, line] : journey.lines) {
        Step s;
        const bool parsed = ParseStep(line, folder, s);
        std::wstring got = parsed ? L"" : L"<not a step>";
        if (parsed && PlayStep(s, run, got)) continue;
        ++wrong;
        std::printf("FAIL %s, journeys.txt:%d \"%s\": got \"%s\"\n", journey.name.c_str(), number,
                    line.substr(0, 120).c_str(), Utf8(got.substr(0, 600)).c_str());
        if (s.op != kQuery && s.op != kPaste) break;
    }
    Exit(run, 0);
    std::printf("%s %s (%zu steps)\n", wrong ? "FAIL" : "ok  ", journey.name.c_str(), journey.lines.size());
    std::fflush(stdout);
    ++(wrong ? failed : passed);
}

// A journey in a fresh folder holding a copy of the program. Through \\?\,
// the folder goes with names past MAX_PATH.
void PlayInCopy(const Journey& journey) {
    static int serial = 0;
    const std::wstring folder =
        (std::filesystem::temp_directory_path() /
         (L"varnolt-e2e-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(serial++)))
            .wstring();
    std::filesystem::create_directory(folder);
    CopyFileW(exePath.c_str(), (folder + L"\\Varnolt.exe").c_str(), FALSE);
    Play(journey, folder);
    std::error_code ignored;
    std::filesystem::remove_all(L"\\\\?\\" + folder, ignored);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool installed = argc == 3 && std::wstring(argv[1]) == L"--install-check";
    if (!installed && argc != 2 && !(argc == 4 && std::wstring(argv[2]) == L"--pictures")) {
        std::fprintf(stderr,
                     "usage: e2e_driver VARNOLT_EXE [--pictures REQUEST_FOLDER]\n"
                     "       e2e_driver --install-check FOLDER\n");
        return 2;
    }
    texts[L"banner"] = L"Varnolt " VARNOLT_WIDEN(VARNOLT_VERSION_TEXT) L" X";
    const std::vector<Journey> journeys = ReadJourneys();
    if (journeys.size() < 5) ++failed, std::printf("FAIL the journeys are not read\n");
    if (argc == 4) pictureRequests = WindowsPath(argv[3]);
    for (const Journey& journey : journeys) {
        if (installed && journey.name == "the installed program") {
            wchar_t folder[MAX_PATH] = {};
            ExpandEnvironmentStringsW(WindowsPath(argv[2]).c_str(), folder, MAX_PATH);
            Play(journey, folder);
        } else if (!installed && journey.name != "the installed program" &&
                   (pictureRequests.empty() || journey.name == "the shipped directory")) {
            exePath = WindowsPath(argv[1]);
            PlayInCopy(journey);
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
