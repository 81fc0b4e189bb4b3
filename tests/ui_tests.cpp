// The window code in the test's own process: what another process cannot
// reach (fonts, drop handles, the file dialogs).
#include "ui/main_window.h"
#include "ui/pages.h"
#include "ui/program.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <shellapi.h>
#include <shlobj.h>

#include <functional>
#include <string>
#include <thread>

#include "directory/directory.h"
#include "tests/test_support.h"
#include "ui/resource_ids.h"

namespace {

bool lastWasSave;

BOOL CaptureDialog(OPENFILENAMEW* dialog, bool save) {
    lastWasSave = save;
    lstrcpyW(dialog->lpstrFile, L"C:\\chosen.txt");
    return TRUE;
}
BOOL WINAPI CaptureOpen(OPENFILENAMEW* dialog) { return CaptureDialog(dialog, false); }
BOOL WINAPI CaptureSave(OPENFILENAMEW* dialog) { return CaptureDialog(dialog, true); }

// Runs the main window on this thread while `steps` drive it from another,
// then closes it.
void WithMainWindow(const std::function<void()>& steps) {
    mainWindow = nullptr;
    currentPage = 0;
    for (HWND& page : pageWindows) page = nullptr;
    appInstance = GetModuleHandleW(nullptr);
    InitCommonControls();
    std::thread driver([&] {
        for (int i = 0; i < 500 && !mainWindow; ++i) Sleep(10);
        steps();
        PostMessageW(mainWindow, WM_COMMAND, IDCANCEL, 0);
    });
    DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    driver.join();
}

// A drop handle as the shell makes one: DROPFILES followed by the paths.
HDROP MakeDrop(const std::wstring& first, const std::wstring& second) {
    const size_t units = first.size() + 1 + second.size() + 1 + 1;
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + units * sizeof(wchar_t));
    auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = TRUE;
    wchar_t* paths = reinterpret_cast<wchar_t*>(drop + 1);
    lstrcpyW(paths, first.c_str());
    lstrcpyW(paths + first.size() + 1, second.c_str());
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

std::wstring Text(HWND window, int id) {
    wchar_t text[512] = {};
    GetDlgItemTextW(window, id, text, 512);
    return text;
}

}  // namespace

TEST(Ui, TitleFontGoesWithTheWindow) {
    HFONT titleHandle = nullptr;
    WithMainWindow(
        [&] { titleHandle = reinterpret_cast<HFONT>(SendDlgItemMessageW(mainWindow, IDC_TITLE, WM_GETFONT, 0, 0)); });
    LOGFONTW afterwards;
    EXPECT_NE(titleHandle, nullptr);
    EXPECT_EQ(GetObjectW(titleHandle, sizeof afterwards, &afterwards), 0);
}

TEST(Ui, DroppedFilesAndBrowseDialogs) {
    ClearDirectory();
    openFileDialog = CaptureOpen;
    saveFileDialog = CaptureSave;
    std::wstring dropped, afterBrowse;
    bool okAfterDrop = false, queryTakesDrops = true, exportSaves = false;
    WithMainWindow([&] {
        queryTakesDrops = (GetWindowLongW(pageWindows[kQueryPage], GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0;
        SendDlgItemMessageW(mainWindow, IDC_TAB, TCM_SETCURFOCUS, 1, 0);
        HWND import = pageWindows[kImportPage];
        SendMessageW(import, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(L"C:\\first.txt", L"C:\\second.txt")), 0);
        dropped = Text(import, IDC_PATH);
        okAfterDrop = IsWindowEnabled(GetDlgItem(mainWindow, IDOK));

        SendMessageW(import, WM_COMMAND, MAKEWPARAM(IDC_BROWSE, BN_CLICKED), 0);
        afterBrowse = Text(import, IDC_PATH);

        SendMessageW(import, WM_COMMAND, MAKEWPARAM(IDC_ICON, STN_DBLCLK), 0);
        SendDlgItemMessageW(mainWindow, IDC_TAB, TCM_SETCURFOCUS, 2, 0);
        SendMessageW(pageWindows[kExportPage], WM_COMMAND, MAKEWPARAM(IDC_BROWSE, BN_CLICKED), 0);
        exportSaves = lastWasSave;
    });
    openFileDialog = GetOpenFileNameW;
    saveFileDialog = GetSaveFileNameW;

    EXPECT_FALSE(queryTakesDrops);
    EXPECT_EQ(dropped, L"C:\\first.txt");
    EXPECT_TRUE(okAfterDrop);
    EXPECT_EQ(afterBrowse, L"C:\\chosen.txt");
    EXPECT_TRUE(exportSaves);
}

TEST(Ui, ManifestIsEmbeddedAsResourceOne) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC resource = FindResourceW(self, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(resource, nullptr);
    const char* text = static_cast<const char*>(LockResource(LoadResource(self, resource)));
    const std::string manifest(text, SizeofResource(self, resource));
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
}
