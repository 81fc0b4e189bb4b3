// End-to-end tests of the real Varnolt.exe, driven from another process as
// a person would: each journey is a table of steps, played by one interpreter.
// Usage: e2e_driver VARNOLT_EXE FIXTURE_FOLDER [--pictures REQUEST_FOLDER]
//        e2e_driver --install-check FOLDER   (environment variables expanded)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "base/text16.h"
#include "base/utf8.h"
#include "directory/lookup_file.h"
#include "tests/written_numbers.h"
#include "ui/resource_ids.h"
#include "version.h"

namespace {

#define VARNOLT_WIDEN2(text) L##text
#define VARNOLT_WIDEN(text) VARNOLT_WIDEN2(text)

constexpr DWORD kTimeout = 15000;
const wchar_t kSavePrompt[] = L"您已经添加或导入条目到归属数据库中，要保存这些更改吗?";
const wchar_t kBanner[] = L"Varnolt " VARNOLT_WIDEN(VARNOLT_VERSION_TEXT) L" X";

// What a step does with its control id and its two texts. "Fields" are the
// query page's area and type joined by a TAB, as in an exported line. In an
// expected box text, one "*" stands for any run of text.
enum Op {
    kCopy,     // `text` becomes the folder's Varnolt.dat; "" removes it
    kBlock,    // a folder stands where Varnolt.dat would be written
    kSame,     // Varnolt.dat holds the bytes of the file `text`
    kLaunch,   // start the program with the command line `text`
    kStart,    // the same, and the main window opens with no box before it
    kExit,     // the program ends with exit code `id`
    kSet,      // field `id` of the page on show is set to `text`
    kQuery,    // the number field is set to `text`; the fields read `expect`
    kPaste,    // `text` is pasted into the emptied number field; the fields read `expect`
    kPress,    // main-window button `id` is clicked; a box saying `text` (if any) is answered OK
    kBox,      // a box saying `text`, captioned `expect` or "Varnolt", is answered with button `id`
    kOn,       // main-window control `id` reads `text` and is enabled
    kOff,      // the same, disabled
    kTab,      // tab `id` is selected
    kTabs,     // the tab labels, joined by ",", read `text`
    kIcon,     // the icon of the page on show is double-clicked, and the tabs change
    kPut,      // the UTF-16 file `text` is written with `expect`
    kFile,     // the file `text` holds `expect` in UTF-16
    kSaved,    // the saved Varnolt.dat answers key `id` with the fields `expect`
    kPicture,  // a picture `text` is taken, after a box if `id`
};

struct Step {
    Step(Op op, int id = 0, std::wstring text = L"", std::wstring expect = L"")
        : op(op), id(id), text(std::move(text)), expect(std::move(expect)) {}
    Op op;
    int id;
    std::wstring text, expect;
};

// A journey's program: its folder, its process while one runs, its main window.
struct Run {
    std::wstring folder;
    PROCESS_INFORMATION process = {};
    bool started = false;
    HWND main = nullptr;
};

int passed = 0, failed = 0;
std::wstring exePath, fixtures, pictureRequests;

// CTest hands in /unix/paths; Wine reads them through its Z: drive.
std::wstring WindowsPath(std::wstring path) {
    if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
    for (wchar_t& c : path) c = c == L'/' ? L'\\' : c;
    return path;
}

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

// A tab's label, through memory of the program's own process, where the tab
// control reads and writes its item.
std::wstring TabLabel(const Run& run, int index) {
    // TCITEMW as laid out for the target, which has the driver's pointer size.
    struct Item {
        UINT mask;
        DWORD state, stateMask;
        LPWSTR text;
        int textMax, image;
        LPARAM param;
    };
    wchar_t text[260] = {};
    BYTE* remote = static_cast<BYTE*>(
        VirtualAllocEx(run.process.hProcess, nullptr, sizeof(Item) + sizeof text, MEM_COMMIT, PAGE_READWRITE));
    if (!remote) return L"<no memory>";
    Item item = {TCIF_TEXT, 0, 0, reinterpret_cast<LPWSTR>(remote + sizeof(Item)), 259, 0, 0};
    WriteProcessMemory(run.process.hProcess, remote, &item, sizeof item, nullptr);
    if (SendDlgItemMessageW(run.main, IDC_TAB, TCM_GETITEMW, index, reinterpret_cast<LPARAM>(remote)))
        ReadProcessMemory(run.process.hProcess, remote + sizeof(Item), text, sizeof text - sizeof(wchar_t), nullptr);
    VirtualFreeEx(run.process.hProcess, remote, 0, MEM_RELEASE);
    return text;
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
            for (int i = 0; i < TabCount(run.main); ++i) got += (i ? L"," : L"") + TabLabel(run, i);
            return got == s.text;
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
            return GetFile(s.text) == Utf16File(s.expect);
        case kSaved: {
            char16_t area[kLookupNameUnits] = {}, type[kLookupNameUnits] = {};
            const bool found = LookupNumberInFile(AsText16(dat.c_str()), s.id, area, type);
            got = std::wstring(AsWide(area)) + L"\t" + AsWide(type);
            return found && got == s.expect;
        }
        case kPicture:
            if (pictureRequests.empty()) return true;
            if (s.id && !WaitForDialog(run, IDC_MESSAGE_TEXT, kTimeout)) return false;
            Picture(s.text);
            return true;
    }
    return false;
}

// Plays a journey in `folder` until a step that acts or waits fails (the
// steps after it would only wait for what cannot come); a failed query is
// reported and the journey goes on, so that every wrong row shows.
void Play(const char* name, const std::wstring& folder, const std::vector<Step>& steps) {
    Run run;
    run.folder = folder;
    int wrong = 0;
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        std::wstring got;
        if (PlayStep(s, run, got)) continue;
        ++wrong;
        std::printf("FAIL %s, step %zu (op %d, %d, \"%s\", \"%s\"): got \"%s\"\n", name, i + 1, s.op, s.id,
                    Utf8(s.text.substr(0, 80)).c_str(), Utf8(s.expect.substr(0, 80)).c_str(),
                    Utf8(got.substr(0, 600)).c_str());
        if (s.op != kQuery && s.op != kPaste) break;
    }
    Exit(run, 0);
    std::printf("%s %s (%zu steps)\n", wrong ? "FAIL" : "ok  ", name, steps.size());
    std::fflush(stdout);
    ++(wrong ? failed : passed);
}

// A journey in a fresh folder holding a copy of the program. Through \\?\,
// the folder goes with names past MAX_PATH.
void PlayInCopy(const char* name, std::vector<Step> (*journey)(const std::wstring& folder)) {
    static int serial = 0;
    const std::wstring folder =
        (std::filesystem::temp_directory_path() /
         (L"varnolt-e2e-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(serial++)))
            .wstring();
    std::filesystem::create_directory(folder);
    CopyFileW(exePath.c_str(), (folder + L"\\Varnolt.exe").c_str(), FALSE);
    Play(name, folder, journey(folder));
    std::error_code ignored;
    std::filesystem::remove_all(L"\\\\?\\" + folder, ignored);
}

std::wstring Fixture(const wchar_t* name) { return fixtures + L"\\" + name; }

const wchar_t kStatistics[] =
    L"数据版本: 2024.3.15\n\n记录: 103 条，占用: 110 字节\n项目: 3 条，占用: 18 字节\n"
    L"归属: 5 种，占用: 36 字节\n类型: 3 种，占用: 20 字节";

// The command line answers from the file, or opens the main window; a
// garbage file gives the empty directory and is left alone.
std::vector<Step> CommandLine(const std::wstring& folder) {
    std::vector<Step> steps = {{kCopy, 0, Fixture(L"example.dat")}};
    for (auto [key, area] : {std::pair{L"  1380099", L"AB"}, std::pair{L"1300000", L"C"}})
        steps.insert(steps.end(), {{kLaunch, 0, key}, {kBox, IDOK, area, L"D"}, {kExit, 1}});
    for (auto [file, key] :
         {std::pair{L"example.dat", L"abc"}, std::pair{L"example.dat", L"13912345678"},
          std::pair{L"example.dat", L"1380100"}, std::pair{L"", L"1380050"}, std::pair{L"wrong_magic.dat", L"1380050"}})
        steps.insert(steps.end(),
                     {{kCopy, 0, *file ? Fixture(file) : L""}, {kStart, 0, key}, {kPress, IDCANCEL}, {kExit, 0}});
    std::string garbage = "VNLT";
    for (int i = 0; i < 4000; ++i) garbage += static_cast<char>((i * 7919) >> 3);
    PutFile(folder + L"\\garbage", garbage);
    const wchar_t zero[] =
        L"数据版本: 0.0.0\n\n记录: 0 条，占用: 0 字节\n项目: 0 条，占用: 0 字节\n"
        L"归属: 0 种，占用: 0 字节\n类型: 0 种，占用: 0 字节";
    steps.insert(steps.end(), {{kCopy, 0, folder + L"\\garbage"},
                               {kStart},
                               {kPress, IDC_ABOUT, kBanner + std::wstring(L"*\n\n") + zero},
                               {kPress, IDCANCEL},
                               {kExit, 0},
                               {kSame, 0, folder + L"\\garbage"}});
    return steps;
}

// The whole window: tabs, a query, an add and a refused one, an import and a
// failing one, the export tab and its file, About, and the exit with Yes;
// then a save that cannot replace the file.
std::vector<Step> Window(const std::wstring& f) {
    std::wstring exported = L"1300000\t新区\tD\r\n";
    for (int key = 1380000; key <= 1380099; ++key) exported += std::to_wstring(key) + L"\tAB\tD\r\n";
    const std::wstring imported = L"1500000\t上海\t移动\r\n1500001\t上海\t移动\r\n";
    return {{kCopy, 0, Fixture(L"example.dat")},
            {kStart},
            {kTabs, 0, L"查询,导入"},
            {kOff, IDOK, L"添加"},
            {kOff, IDC_TITLE, L"Varnolt"},
            {kQuery, 0, L"13800501234", L"AB\tD"},
            {kOff, IDOK, L"添加"},
            {kQuery, 0, L"13000011234", L"\t"},
            {kQuery, 0, L"1300000", L"C\tD"},
            {kSet, IDC_AREA, L"新区"},
            {kOn, IDOK, L"添加"},
            {kPress, IDOK, L"记录添加成功。"},
            {kQuery, 0, L"", L"\t"},
            {kQuery, 0, L"1300000", L"新区\tD"},
            {kSet, IDC_NUMBER, L"4194304"},
            {kSet, IDC_AREA, L"A"},
            {kSet, IDC_TYPE, L"B"},
            {kPress, IDOK, L"记录添加失败。\n\n请确保要添加的号码小于 4194304。"},
            {kTab, 1},
            {kOff, IDOK, L"导入"},
            {kPut, 0, f + L"\\in.txt", imported},
            {kSet, IDC_PATH, f + L"\\in.txt"},
            {kOn, IDOK, L"导入"},
            {kPress, IDOK, kStatistics},
            {kSet, IDC_PATH, f + L"\\missing.txt"},
            {kPress, IDOK, L"数据导入不成功。"},
            {kSet, IDC_PATH, L""},
            {kOff, IDOK, L"导入"},
            {kIcon},
            {kTabs, 0, L"查询,导入,导出"},
            {kTab, 2},
            {kOff, IDOK, L"导出"},
            {kSet, IDC_PATH, f + L"\\out.txt"},
            {kPress, IDOK, L"数据导出成功。"},
            {kFile, 0, f + L"\\out.txt", exported + imported},
            {kTab, 1},
            {kIcon},
            {kTabs, 0, L"查询,导入"},
            {kPress, IDC_ABOUT, kBanner + std::wstring(L"*\n\n") + kStatistics},
            {kPress, IDCANCEL},
            {kBox, IDYES, kSavePrompt},
            {kExit, 0},
            {kSaved, 1500001, L"", L"上海\t移动"},
            {kBlock},
            {kStart},
            {kSet, IDC_NUMBER, L"1700000"},
            {kSet, IDC_AREA, L"A"},
            {kSet, IDC_TYPE, L"B"},
            {kPress, IDOK, L"记录添加成功。"},
            {kPress, IDCANCEL},
            {kBox, IDYES, kSavePrompt},
            {kBox, IDOK, L"保存失败。\n\n请确保数据文件可写。"},
            {kExit, 0}};
}

// Text far beyond every buffer and paths at the limit; No at the exit
// writes nothing.
std::vector<Step> HostileInput(const std::wstring& f) {
    const std::wstring stem = f + L"\\";
    const std::wstring at259 = stem + std::wstring(259 - stem.size() - 4, L'p') + L".txt";
    const std::wstring at260 = stem + std::wstring(260 - stem.size() - 4, L'q') + L".txt";
    return {{kCopy, 0, Fixture(L"example.dat")},
            {kStart},
            {kQuery, 0, L"1391234" + std::wstring(99993, L'9'), L"\t"},
            {kSet, IDC_AREA, std::wstring(100000, L'区')},
            {kSet, IDC_TYPE, std::wstring(100000, L'型')},
            {kPress, IDOK, L"记录添加成功。"},
            {kQuery, 0, L"1391234", std::wstring(31, L'区') + L"\t" + std::wstring(15, L'型')},
            {kTab, 1},
            {kPut, 0, at259, L"1600000\tA\tB\r\n"},
            {kPut, 0, at260, L"1600001\tA\tB\r\n"},
            {kSet, IDC_PATH, at259},
            {kPress, IDOK, L"数据版本*"},
            {kSet, IDC_PATH, at260},
            {kPress, IDOK, L"数据导入不成功。"},
            {kPress, IDCANCEL},
            {kBox, IDNO, kSavePrompt},
            {kExit, 0},
            {kSame, 0, Fixture(L"example.dat")}};
}

// The shipped directory, as a user who downloads Varnolt meets it: every
// written number of the shared table gets its area and type, or none, and
// so do numbers pasted with their labels. With pictures asked for, every
// page, box and prompt is taken on the way.
std::vector<Step> ShippedDirectory(const std::wstring& f) {
    const std::vector<WrittenNumberRow> rows = ParseWrittenNumbers(GetFile(Fixture(L"written_numbers.tsv")));
    if (rows.size() < 50) {
        std::printf("FAIL the table of written numbers is not read\n");
        ++failed;
    }
    std::vector<Step> steps = {{kCopy, 0, fixtures + L"\\..\\..\\data\\Varnolt.dat"}, {kStart}};
    for (const WrittenNumberRow& row : rows) {
        const std::wstring text = AsWide(row.text.c_str());
        steps.push_back({kQuery, 0, text, std::wstring(AsWide(row.area.c_str())) + L"\t" + AsWide(row.type.c_str())});
    }
    steps.insert(steps.end(),
                 {{kPaste, 0, L"Tel: +86 (0)10 1234-5678 ext. 8", L"北京市\t固定电话"},
                  {kPaste, 0, L"139 1234 5678", L"江苏省常州市\t中国移动"},
                  {kOff, IDOK, L"添加"},
                  {kPicture, 0, L"query"},
                  {kPaste, 0, L"0755-8888 8888", L"广东省深圳市\t固定电话"},
                  {kPicture, 0, L"query-fixed"},
                  {kTab, 1},
                  // Entries the directory already holds: the statistics stay the national ones.
                  {kPut, 0, f + L"\\号码.txt", L"1391234\t江苏省常州市\t中国移动\r\n755\t广东省深圳市\t固定电话\r\n"},
                  {kSet, IDC_PATH, f + L"\\号码.txt"},
                  {kPicture, 0, L"import"},
                  {kPress, IDOK},
                  {kPicture, 1, L"statistics"},
                  {kBox, IDOK, L"数据版本*"},
                  {kIcon},
                  {kTab, 2},
                  {kSet, IDC_PATH, L"C:\\导出.txt"},
                  {kPicture, 0, L"export"},
                  {kPress, IDC_ABOUT},
                  {kPicture, 1, L"about"},
                  {kBox, IDOK, kBanner + std::wstring(L"*")},
                  {kPress, IDCANCEL},
                  {kPicture, 1, L"save-prompt"},
                  {kBox, IDNO, kSavePrompt},
                  {kExit, 0}});
    return steps;
}

// Varnolt.exe where a release put it, not a copy: a command-line key
// answered from its own Varnolt.dat, a query, an add saved beside it.
std::vector<Step> Installed() {
    return {{kLaunch, 0, L"1391234"},
            {kBox, IDOK, L"江苏省常州市", L"中国移动"},
            {kExit, 1},
            {kStart},
            {kQuery, 0, L"13912345678", L"江苏省常州市\t中国移动"},
            {kSet, IDC_NUMBER, L"100"},
            {kSet, IDC_AREA, L"安装测试"},
            {kSet, IDC_TYPE, L"测试类型"},
            {kPress, IDOK, L"记录添加成功。"},
            {kPress, IDCANCEL},
            {kBox, IDYES, kSavePrompt},
            {kExit, 0},
            {kSaved, 100, L"", L"安装测试\t测试类型"}};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wstring(argv[1]) == L"--install-check") {
        wchar_t folder[MAX_PATH] = {};
        ExpandEnvironmentStringsW(WindowsPath(argv[2]).c_str(), folder, MAX_PATH);
        Play("the installed program answers and saves", folder, Installed());
    } else if (argc == 3 || (argc == 5 && std::wstring(argv[3]) == L"--pictures")) {
        exePath = WindowsPath(argv[1]);
        fixtures = WindowsPath(argv[2]);
        if (argc == 5) pictureRequests = WindowsPath(argv[4]);
        if (pictureRequests.empty()) {
            PlayInCopy("the command line", CommandLine);
            PlayInCopy("the window", Window);
            PlayInCopy("hostile input", HostileInput);
        }
        PlayInCopy("the shipped directory", ShippedDirectory);
    } else {
        std::fprintf(stderr,
                     "usage: e2e_driver VARNOLT_EXE FIXTURE_FOLDER [--pictures REQUEST_FOLDER]\n"
                     "       e2e_driver --install-check FOLDER\n");
        return 2;
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
