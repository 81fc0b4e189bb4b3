// End-to-end tests of the real Varnolt.exe, driven from outside through its
// windows. Usage: e2e_driver VARNOLT_EXE FIXTURE_FOLDER
#include <cstdio>

#include "base/text16.h"
#include "directory/add.h"
#include "directory/directory.h"
#include "directory/lookup_file.h"
#include "tests/e2e/driver.h"
#include "tests/written_numbers.h"
#include "ui/resource_ids.h"
#include "version.h"

namespace {

int passed = 0, failed = 0;
std::wstring exePath, fixtures;

void Check(bool ok, const char* what, const std::wstring& detail = L"") {
    std::printf("%s %s", ok ? "ok  " : "FAIL", what);
    if (!detail.empty()) {
        // UTF-8, so Chinese details survive any console code page.
        char utf8[4096] = {};
        WideCharToMultiByte(CP_UTF8, 0, detail.c_str(), -1, utf8, sizeof utf8 - 1, nullptr, nullptr);
        std::printf(" [%s]", utf8);
    }
    std::printf("\n");
    std::fflush(stdout);
    ++(ok ? passed : failed);
}

#define VARNOLT_WIDEN2(text) L##text
#define VARNOLT_WIDEN(text) VARNOLT_WIDEN2(text)
#define VARNOLT_WIDE_VERSION VARNOLT_WIDEN(VARNOLT_VERSION_TEXT)

constexpr DWORD kTimeout = 15000;

std::wstring Fixture(const wchar_t* name) { return fixtures + L"\\" + name; }

// The national directory that ships with the program (copied into each run's folder).
std::wstring ShippedDirectoryFile() { return fixtures + L"\\..\\..\\data\\Varnolt.dat"; }

std::wstring Wide(const std::u16string& text) { return std::wstring(AsWide(text.c_str())); }

std::vector<WrittenNumberRow> WrittenNumbers() { return ParseWrittenNumbers(GetFile(Fixture(L"written_numbers.tsv"))); }

// UTF-16LE bytes of `text`, after the mark FF FE.
std::string Utf16File(const std::wstring& text) {
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

struct Session {
    ProgramRun run;
    HWND main = nullptr;
    std::wstring File(const wchar_t* name) const { return run.folder + L"\\" + name; }
};

bool Open(Session& s, const wchar_t* directoryFixture, const std::wstring& arguments = L"") {
    s.run.folder = MakeRunFolder(exePath, directoryFixture ? Fixture(directoryFixture) : L"");
    if (!StartProgram(s.run, arguments)) {
        Check(false, "start Varnolt.exe", s.run.folder);
        return false;
    }
    s.main = WaitForMainWindow(s.run, kTimeout);
    Check(s.main != nullptr, "main window opens", arguments);
    return s.main != nullptr;
}

long Close(Session& s, int promptAnswer, const std::wstring& expectedPrompt) {
    PressButton(s.main, IDCANCEL);
    if (promptAnswer) {
        std::wstring prompt = AnswerMessageBox(s.run, promptAnswer, kTimeout);
        Check(prompt == expectedPrompt, "save prompt at exit", prompt);
    }
    return WaitForExit(s.run, kTimeout);
}

const wchar_t kSavePrompt[] = L"您已经添加或导入条目到归属数据库中，要保存这些更改吗?";

void CommandLineCourse() {
    for (auto [key, area] :
         {std::pair{L"1380050", L"AB"}, std::pair{L"1300000", L"C"}, std::pair{L"  1380099", L"AB"}}) {
        ProgramRun run;
        run.folder = MakeRunFolder(exePath, Fixture(L"example.dat"));
        StartProgram(run, key);
        HWND box = WaitForMessageBox(run, kTimeout);
        Check(box && MessageBoxText(box) == area && WindowText(box) == L"D",
              "command line: area as text, type as caption", box ? MessageBoxText(box) + L"/" + WindowText(box) : key);
        Check(WaitForMainWindow(run, 0) == nullptr, "command line: no main window");
        if (box) PressButton(box, IDOK);
        Check(WaitForExit(run, kTimeout) == 1, "command line: exit code is IDOK");
        RemoveRunFolder(run.folder);
    }
    // Anything the file does not answer opens the main window instead.
    struct Case {
        const wchar_t* fixture;
        const wchar_t* key;
    };
    for (const Case& c : {Case{L"example.dat", L"0"}, Case{L"example.dat", L"abc"}, Case{L"example.dat", L"-5"},
                          Case{L"example.dat", L"13912345678"}, Case{L"example.dat", L"1380100"},
                          Case{nullptr, L"1380050"}, Case{L"wrong_magic.dat", L"1380050"}}) {
        Session s;
        if (Open(s, c.fixture, c.key)) {
            Check(WaitForMessageBox(s.run, 0) == nullptr, "no answer box", c.key);
            Check(Close(s, 0, L"") == 0, "closed without changes: exit 0, no prompt");
        }
        RemoveRunFolder(s.run.folder);
    }
}

void StartUpQueryAddImportExportAbout() {
    Session s;
    if (!Open(s, L"example.dat")) return;
    Check(TabCount(s.main) == 2, "two tabs at start");
    Check(TabLabel(s.run, s.main, 0) == L"查询" && TabLabel(s.run, s.main, 1) == L"导入", "tab labels",
          TabLabel(s.run, s.main, 0) + L"," + TabLabel(s.run, s.main, 1));
    Check(WindowText(GetDlgItem(s.main, IDOK)) == L"添加" && !IsControlEnabled(s.main, IDOK),
          "OK reads 添加, disabled");
    Check(WindowText(GetDlgItem(s.main, IDC_TITLE)) == L"Varnolt" && !IsControlEnabled(s.main, IDC_TITLE),
          "greyed title");
    HWND query = VisiblePage(s.main);
    Check(query && GetDlgItem(query, IDC_NUMBER), "the query page is on show");
    if (!query) return;

    // Query.
    SetField(query, IDC_NUMBER, L"13800501234");
    Check(FieldText(query, IDC_AREA) == L"AB" && FieldText(query, IDC_TYPE) == L"D",
          "covered number fills area and type", FieldText(query, IDC_AREA));
    Check(!IsControlEnabled(s.main, IDOK), "query leaves OK disabled");
    SetField(query, IDC_NUMBER, L"13000011234");
    Check(FieldText(query, IDC_AREA).empty() && FieldText(query, IDC_TYPE).empty(),
          "uncovered number empties the fields");
    SetField(query, IDC_NUMBER, L"1300000");
    Check(FieldText(query, IDC_AREA) == L"C", "key 1300000 is C", FieldText(query, IDC_AREA));

    // Add.
    SetField(query, IDC_AREA, L"新区");
    Check(IsControlEnabled(s.main, IDOK), "editing the area enables OK");
    PressButton(s.main, IDOK);
    std::wstring added = AnswerMessageBox(s.run, IDOK, kTimeout);
    Check(added == L"记录添加成功。", "add succeeds", added);
    SetField(query, IDC_NUMBER, L"");
    SetField(query, IDC_NUMBER, L"1300000");
    Check(FieldText(query, IDC_AREA) == L"新区", "the next query finds the added entry", FieldText(query, IDC_AREA));
    SetField(query, IDC_NUMBER, L"4194304");
    SetField(query, IDC_AREA, L"A");
    SetField(query, IDC_TYPE, L"B");
    PressButton(s.main, IDOK);
    std::wstring refused = AnswerMessageBox(s.run, IDOK, kTimeout);
    Check(refused == L"记录添加失败。\n\n请确保要添加的号码小于 4194304。", "key 4194304 is refused", refused);

    // Import through the path field.
    SelectTab(s.main, 1);
    HWND import = VisiblePage(s.main);
    Check(import && import != query && GetDlgItem(import, IDC_PATH), "the import page is on show");
    if (!import) return;
    Check(WindowText(GetDlgItem(s.main, IDOK)) == L"导入" && !IsControlEnabled(s.main, IDOK),
          "OK reads 导入, disabled while the path is empty");
    PutFile(s.File(L"in.txt"), Utf16File(L"1500000\t上海\t移动\r\n1500001\t上海\t移动\r\n"));
    SetField(import, IDC_PATH, s.File(L"in.txt"));
    Check(IsControlEnabled(s.main, IDOK), "a path enables OK");
    PressButton(s.main, IDOK);
    std::wstring statistics = AnswerMessageBox(s.run, IDOK, kTimeout);
    const std::wstring expected =
        L"数据版本: 2024.3.15\n\n记录: 103 条，占用: 110 字节\n项目: 3 条，占用: 18 字节\n"
        L"归属: 5 种，占用: 36 字节\n类型: 3 种，占用: 20 字节";
    Check(statistics == expected, "import shows the statistics", statistics);
    SetField(import, IDC_PATH, s.File(L"missing.txt"));
    PressButton(s.main, IDOK);
    std::wstring importFailed = AnswerMessageBox(s.run, IDOK, kTimeout);
    Check(importFailed == L"数据导入不成功。", "a failed import says so", importFailed);
    SetField(import, IDC_PATH, L"");
    Check(!IsControlEnabled(s.main, IDOK), "clearing the path disables OK");

    // The export tab, toggled by the import page's icon.
    DoubleClick(import, IDC_ICON);
    Sleep(300);
    Check(TabCount(s.main) == 3 && TabLabel(s.run, s.main, 2) == L"导出", "double-click adds the export tab");
    SelectTab(s.main, 2);
    HWND exportPage = VisiblePage(s.main);
    Check(exportPage && exportPage != import, "the export page is on show");
    if (!exportPage) return;
    Check(WindowText(GetDlgItem(s.main, IDOK)) == L"导出", "OK reads 导出");
    SetField(exportPage, IDC_PATH, s.File(L"out.txt"));
    PressButton(s.main, IDOK);
    std::wstring exported = AnswerMessageBox(s.run, IDOK, kTimeout);
    Check(exported == L"数据导出成功。", "export succeeds", exported);
    std::wstring lines = L"1300000\t新区\tD\r\n";
    for (int key = 1380000; key <= 1380099; ++key) lines += std::to_wstring(key) + L"\tAB\tD\r\n";
    lines += L"1500000\t上海\t移动\r\n1500001\t上海\t移动\r\n";
    Check(GetFile(s.File(L"out.txt")) == Utf16File(lines), "the exported file holds every key");
    SelectTab(s.main, 1);
    DoubleClick(VisiblePage(s.main), IDC_ICON);
    Sleep(300);
    Check(TabCount(s.main) == 2, "a second double-click removes the export tab");

    // About: the banner, one empty line, the statistics.
    PressButton(s.main, IDC_ABOUT);
    std::wstring about = AnswerMessageBox(s.run, IDOK, kTimeout);
    Check(about.rfind(L"Varnolt " VARNOLT_WIDE_VERSION L" X", 0) == 0 && about.size() > expected.size() &&
              about.compare(about.size() - expected.size(), expected.size(), expected) == 0 &&
              about.compare(about.size() - expected.size() - 2, 2, L"\n\n") == 0,
          "about shows the banner and the statistics", about);

    // Exit with Yes: the file is saved and answers the new entries.
    const long code = Close(s, IDYES, kSavePrompt);
    Check(code == 0, "exit code 0 after saving");
    wchar_t area[kLookupNameUnits] = {}, type[kLookupNameUnits] = {};
    const std::wstring saved = s.File(L"Varnolt.dat");
    Check(LookupNumberInFile(reinterpret_cast<const char16_t*>(saved.c_str()), 1500001,
                             reinterpret_cast<char16_t*>(area), reinterpret_cast<char16_t*>(type)) &&
              std::wstring(area) == L"上海" && std::wstring(type) == L"移动",
          "the saved file holds the import");
    RemoveRunFolder(s.run.folder);
}

// Adds key 1700000 through the query page, so that the exit asks to save.
void AddOneEntry(Session& s) {
    HWND query = VisiblePage(s.main);
    SetField(query, IDC_NUMBER, L"1700000");
    SetField(query, IDC_AREA, L"A");
    SetField(query, IDC_TYPE, L"B");
    PressButton(s.main, IDOK);
    AnswerMessageBox(s.run, IDOK, kTimeout);
}

void ExitAnsweredNoOrFailing() {
    // No: nothing is written.
    Session s;
    if (Open(s, L"example.dat")) {
        AddOneEntry(s);
        Check(Close(s, IDNO, kSavePrompt) == 0, "answering No ends with exit code 0");
        Check(GetFile(s.File(L"Varnolt.dat")) == GetFile(Fixture(L"example.dat")), "No writes nothing");
    }
    RemoveRunFolder(s.run.folder);

    // A save that cannot replace the file (a folder stands in its place).
    Session f;
    f.run.folder = MakeRunFolder(exePath, L"");
    CreateDirectoryW(f.File(L"Varnolt.dat").c_str(), nullptr);
    if (StartProgram(f.run, L"") && (f.main = WaitForMainWindow(f.run, kTimeout))) {
        AddOneEntry(f);
        PressButton(f.main, IDCANCEL);
        AnswerMessageBox(f.run, IDYES, kTimeout);
        std::wstring failure = AnswerMessageBox(f.run, IDOK, kTimeout);
        Check(failure == L"保存失败。\n\n请确保数据文件可写。", "a failed save says so", failure);
        Check(WaitForExit(f.run, kTimeout) == 0, "exit code 0 after a failed save");
    } else {
        Check(false, "main window opens without a directory file");
    }
    RemoveDirectoryW(f.File(L"Varnolt.dat").c_str());
    RemoveRunFolder(f.run.folder);
}

// Pastes `text` into the number field through the clipboard, as Ctrl+V would.
bool Paste(HWND query, const std::wstring& text) {
    if (!OpenClipboard(nullptr)) return false;
    EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    memcpy(GlobalLock(memory), text.c_str(), bytes);
    GlobalUnlock(memory);
    SetClipboardData(CF_UNICODETEXT, memory);
    CloseClipboard();
    SendMessageW(GetDlgItem(query, IDC_NUMBER), WM_PASTE, 0, 0);
    return true;
}

// The shipped directory answers a dialled mobile number with its province,
// city and carrier.
void ShippedDirectory() {
    Session s;
    s.run.folder = MakeRunFolder(exePath, ShippedDirectoryFile());
    if (StartProgram(s.run, L"") && (s.main = WaitForMainWindow(s.run, kTimeout))) {
        HWND query = VisiblePage(s.main);
        SetField(query, IDC_NUMBER, L"13912345678");
        Check(FieldText(query, IDC_AREA) == L"江苏省常州市" && FieldText(query, IDC_TYPE) == L"中国移动",
              "the shipped directory answers 13912345678",
              FieldText(query, IDC_AREA) + L" " + FieldText(query, IDC_TYPE));
        SetField(query, IDC_NUMBER, L"075588888888");
        Check(FieldText(query, IDC_AREA) == L"广东省深圳市" && FieldText(query, IDC_TYPE) == L"固定电话",
              "and a fixed line of 0755", FieldText(query, IDC_AREA));
        // Numbers as business cards, signatures, chats and input methods
        // write them: the right area, or none.
        std::wstring wrong;
        for (const WrittenNumberRow& row : WrittenNumbers()) {
            SetField(query, IDC_NUMBER, L"");
            SetField(query, IDC_NUMBER, Wide(row.text));
            if (FieldText(query, IDC_AREA) != Wide(row.area) || FieldText(query, IDC_TYPE) != Wide(row.type))
                wrong += Wide(row.text) + L" -> " + FieldText(query, IDC_AREA) + L"; ";
        }
        Check(wrong.empty(), "every written number of the table gets its area and type, or none", wrong);
        SetField(query, IDC_NUMBER, L"");
        if (Paste(query, L"Tel: +86 (0)10 1234-5678 ext. 8"))
            Check(FieldText(query, IDC_AREA) == L"北京市" && FieldText(query, IDC_TYPE) == L"固定电话",
                  "a pasted fixed line of Beijing",
                  FieldText(query, IDC_NUMBER) + L" -> " + FieldText(query, IDC_AREA));
        Check(!IsControlEnabled(s.main, IDOK), "a query of a written number leaves OK disabled");
        Close(s, 0, L"");
    } else {
        Check(false, "main window opens with the shipped directory");
    }
    RemoveRunFolder(s.run.folder);
}

// Every written number of the table looks up the key it gives: a directory
// whose every area is its own key in decimal shows in the area field which
// key the page looked up.
void WrittenNumbersLookUpTheirKeys() {
    const std::vector<WrittenNumberRow> rows = WrittenNumbers();
    Check(rows.size() > 50, "the table of written numbers is read");
    auto shown = [](const WrittenNumberRow& row) {
        return row.key != 0 && row.key < (1u << 22) ? std::to_wstring(row.key) : std::wstring();
    };
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring echo =
        std::wstring(temp) + L"varnolt-e2e-keys-" + std::to_wstring(GetCurrentProcessId()) + L".dat";
    MakeDirectoryEditable();
    for (const WrittenNumberRow& row : rows) {
        const std::wstring key = shown(row);
        if (!key.empty()) AddEntry(AsText16(key.c_str()), AsText16(key.c_str()), u"K");
    }
    SortItems();
    Check(SaveDirectory(reinterpret_cast<const char16_t*>(echo.c_str())), "a directory of keys is saved");
    Session s;
    s.run.folder = MakeRunFolder(exePath, echo);
    if (StartProgram(s.run, L"") && (s.main = WaitForMainWindow(s.run, kTimeout))) {
        HWND query = VisiblePage(s.main);
        int wrong = 0;
        std::wstring detail;
        for (const WrittenNumberRow& row : rows) {
            SetField(query, IDC_NUMBER, Wide(row.text));
            if (FieldText(query, IDC_AREA) != shown(row)) {
                ++wrong;
                detail += Wide(row.text) + L" -> " + FieldText(query, IDC_AREA) + L"; ";
            }
        }
        Check(wrong == 0, "every written number looks up its key", detail);
        Close(s, 0, L"");
    } else {
        Check(false, "main window opens with the directory of keys");
    }
    RemoveRunFolder(s.run.folder);
    DeleteFileW(echo.c_str());
}

// Text far beyond every buffer, non-digits pasted into the number field,
// paths at the limit, and a damaged directory file.
void HostileInput() {
    Session s;
    if (!Open(s, L"example.dat")) return;
    HWND query = VisiblePage(s.main);
    SetField(query, IDC_NUMBER, L"1391234" + std::wstring(99993, L'9'));
    Check(FieldText(query, IDC_AREA).empty(), "a 100,000-digit number: looked up, not found");
    SetField(query, IDC_AREA, std::wstring(100000, L'区'));
    SetField(query, IDC_TYPE, std::wstring(100000, L'型'));
    PressButton(s.main, IDOK);
    Check(AnswerMessageBox(s.run, IDOK, kTimeout) == L"记录添加成功。", "100,000-character fields: the add succeeds");
    SetField(query, IDC_NUMBER, L"1391234");
    Check(
        FieldText(query, IDC_AREA) == std::wstring(31, L'区') && FieldText(query, IDC_TYPE) == std::wstring(15, L'型'),
        "the add kept 31 units of the area and 15 of the type");

    // Through the clipboard, as a paste of text with letters in it.
    SetField(query, IDC_NUMBER, L"");
    if (Paste(query, L"号码: 13800501234"))
        Check(FieldText(query, IDC_AREA) == L"AB", "a pasted number with letters is still answered",
              FieldText(query, IDC_NUMBER));

    // Paths of 259 units (read whole) and 260 (cut to 259, so not found).
    SelectTab(s.main, 1);
    HWND import = VisiblePage(s.main);
    const std::wstring stem = s.run.folder + L"\\";
    const std::wstring at259 = stem + std::wstring(259 - stem.size() - 4, L'p') + L".txt";
    const std::wstring at260 = stem + std::wstring(260 - stem.size() - 4, L'q') + L".txt";
    PutFile(L"\\\\?\\" + at259, Utf16File(L"1600000\tA\tB\r\n"));
    PutFile(L"\\\\?\\" + at260, Utf16File(L"1600001\tA\tB\r\n"));
    SetField(import, IDC_PATH, at259);
    PressButton(s.main, IDOK);
    Check(AnswerMessageBox(s.run, IDOK, kTimeout).rfind(L"数据版本", 0) == 0, "a path of 259 units imports");
    SetField(import, IDC_PATH, at260);
    PressButton(s.main, IDOK);
    Check(AnswerMessageBox(s.run, IDOK, kTimeout) == L"数据导入不成功。", "a path of 260 units is cut and not found");
    Close(s, IDNO, kSavePrompt);
    DeleteFileW((L"\\\\?\\" + at259).c_str());
    DeleteFileW((L"\\\\?\\" + at260).c_str());
    RemoveRunFolder(s.run.folder);

    // A directory file replaced by garbage: an empty directory, and the file
    // is left alone.
    Session g;
    g.run.folder = MakeRunFolder(exePath, L"");
    std::string garbage = "VNLT";
    for (int i = 0; i < 4000; ++i) garbage += static_cast<char>((i * 7919) >> 3);
    PutFile(g.File(L"Varnolt.dat"), garbage);
    if (StartProgram(g.run, L"") && (g.main = WaitForMainWindow(g.run, kTimeout))) {
        PressButton(g.main, IDC_ABOUT);
        const std::wstring about = AnswerMessageBox(g.run, IDOK, kTimeout);
        Check(about.find(L"数据版本: 0.0.0") != std::wstring::npos, "a garbage file gives the empty directory");
        Check(Close(g, 0, L"") == 0, "and the program ends normally");
        Check(GetFile(g.File(L"Varnolt.dat")) == garbage, "the garbage file is left as it was");
    } else {
        Check(false, "main window opens despite a garbage directory file");
    }
    RemoveRunFolder(g.run.folder);
}

// Asks the script outside Wine for a picture of the screen and waits until
// it has taken it (it removes the request file).
void Picture(const std::wstring& requests, const wchar_t* name) {
    const std::wstring request = requests + L"\\" + name + L".request";
    PutFile(request, "");
    for (int i = 0; i < 600 && GetFileAttributesW(request.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
}

// Walks through every page, box and prompt for the README's pictures, with a
// copy of the shipped directory: what a user who downloads Varnolt sees.
void Pictures(const std::wstring& requests) {
    Session s;
    s.run.folder = MakeRunFolder(exePath, ShippedDirectoryFile());
    if (!StartProgram(s.run, L"") || !(s.main = WaitForMainWindow(s.run, kTimeout))) return;
    HWND query = VisiblePage(s.main);
    Paste(query, L"139 1234 5678");
    Picture(requests, L"query");
    SetField(query, IDC_NUMBER, L"");
    Paste(query, L"0755-8888 8888");
    Picture(requests, L"query-fixed");
    SelectTab(s.main, 1);
    HWND import = VisiblePage(s.main);
    // Entries the directory already holds: the statistics stay the national ones.
    PutFile(s.File(L"号码.txt"), Utf16File(L"1391234\t江苏省常州市\t中国移动\r\n755\t广东省深圳市\t固定电话\r\n"));
    SetField(import, IDC_PATH, s.File(L"号码.txt"));
    Picture(requests, L"import");
    PressButton(s.main, IDOK);
    WaitForMessageBox(s.run, kTimeout);
    Picture(requests, L"statistics");
    AnswerMessageBox(s.run, IDOK, kTimeout);
    DoubleClick(import, IDC_ICON);
    Sleep(300);
    SelectTab(s.main, 2);
    SetField(VisiblePage(s.main), IDC_PATH, L"C:\\导出.txt");
    Picture(requests, L"export");
    PressButton(s.main, IDC_ABOUT);
    WaitForMessageBox(s.run, kTimeout);
    Picture(requests, L"about");
    AnswerMessageBox(s.run, IDOK, kTimeout);
    PressButton(s.main, IDCANCEL);
    WaitForMessageBox(s.run, kTimeout);
    Picture(requests, L"save-prompt");
    AnswerMessageBox(s.run, IDNO, kTimeout);
    WaitForExit(s.run, kTimeout);
    RemoveRunFolder(s.run.folder);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: e2e_driver VARNOLT_EXE FIXTURE_FOLDER [--pictures REQUEST_FOLDER]\n");
        return 2;
    }
    exePath = WindowsPath(argv[1]);
    fixtures = WindowsPath(argv[2]);
    if (argc >= 5 && std::wstring(argv[3]) == L"--pictures") {
        Pictures(WindowsPath(argv[4]));
        return 0;
    }
    CommandLineCourse();
    StartUpQueryAddImportExportAbout();
    ExitAnsweredNoOrFailing();
    HostileInput();
    ShippedDirectory();
    WrittenNumbersLookUpTheirKeys();
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
