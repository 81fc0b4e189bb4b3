// The window code in the test's own process: what another process cannot
// reach (fonts, drop handles, the file dialogs' parameters).
#include "ui/main_window.h"
#include "ui/pages.h"
#include "ui/program.h"
#include "version.h"

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

OPENFILENAMEW lastDialog;
std::wstring lastFilter, lastExtension;
bool lastWasSave;

BOOL CaptureDialog(OPENFILENAMEW* dialog, bool save) {
    lastDialog = *dialog;
    lastWasSave = save;
    lastFilter.assign(dialog->lpstrFilter, dialog->lpstrFilter + 60);
    lastExtension = dialog->lpstrDefExt ? dialog->lpstrDefExt : L"<none>";
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

// The tab labels, joined by ",".
std::wstring TabLabels() {
    std::wstring labels;
    for (int i = 0; i < TabCtrl_GetItemCount(GetDlgItem(mainWindow, IDC_TAB)); ++i) {
        wchar_t text[32] = {};
        TCITEMW item = {TCIF_TEXT, 0, 0, text, 32, 0, 0};
        TabCtrl_GetItem(GetDlgItem(mainWindow, IDC_TAB), i, &item);
        labels += (i ? L"," : L"") + std::wstring(text);
    }
    return labels;
}

std::wstring Text(HWND window, int id) {
    wchar_t text[512] = {};
    GetDlgItemTextW(window, id, text, 512);
    return text;
}

}  // namespace

TEST(Ui, TitleFontIsTwiceTheDialogFontAndItalicAndGoesWithTheWindow) {
    LOGFONTW dialogFont = {}, titleFont = {};
    HFONT titleHandle = nullptr;
    WithMainWindow([&] {
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(mainWindow, WM_GETFONT, 0, 0)), sizeof dialogFont, &dialogFont);
        titleHandle = reinterpret_cast<HFONT>(SendDlgItemMessageW(mainWindow, IDC_TITLE, WM_GETFONT, 0, 0));
        GetObjectW(titleHandle, sizeof titleFont, &titleFont);
    });
    LOGFONTW afterwards;
    EXPECT_EQ(GetObjectW(titleHandle, sizeof afterwards, &afterwards), 0);
    EXPECT_NE(dialogFont.lfHeight, 0);
    EXPECT_EQ(titleFont.lfHeight, 2 * dialogFont.lfHeight);
    EXPECT_EQ(titleFont.lfItalic, 1);
    EXPECT_STREQ(titleFont.lfFaceName, dialogFont.lfFaceName);
}

TEST(Ui, TabsDroppedFilesAndBrowseDialogs) {
    ClearDirectory();
    openFileDialog = CaptureOpen;
    saveFileDialog = CaptureSave;
    std::wstring dropped, afterBrowse, exportExtension;
    std::wstring labelsBefore, labelsAfter;
    bool okAfterDrop = false, queryTakesDrops = true;
    OPENFILENAMEW openDialog = {}, saveDialog = {};
    std::wstring openFilter;
    WithMainWindow([&] {
        labelsBefore = TabLabels();
        queryTakesDrops = (GetWindowLongW(pageWindows[kQueryPage], GWL_EXSTYLE) & WS_EX_ACCEPTFILES) != 0;
        SendDlgItemMessageW(mainWindow, IDC_TAB, TCM_SETCURFOCUS, 1, 0);
        HWND import = pageWindows[kImportPage];
        SendMessageW(import, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(L"C:\\first.txt", L"C:\\second.txt")), 0);
        dropped = Text(import, IDC_PATH);
        okAfterDrop = IsWindowEnabled(GetDlgItem(mainWindow, IDOK));

        SendMessageW(import, WM_COMMAND, MAKEWPARAM(IDC_BROWSE, BN_CLICKED), 0);
        openDialog = lastDialog;
        openFilter = lastFilter;
        afterBrowse = Text(import, IDC_PATH);

        SendMessageW(import, WM_COMMAND, MAKEWPARAM(IDC_ICON, STN_DBLCLK), 0);
        labelsAfter = TabLabels();
        SendDlgItemMessageW(mainWindow, IDC_TAB, TCM_SETCURFOCUS, 2, 0);
        SendMessageW(pageWindows[kExportPage], WM_COMMAND, MAKEWPARAM(IDC_BROWSE, BN_CLICKED), 0);
        saveDialog = lastDialog;
        exportExtension = lastExtension;
    });
    openFileDialog = GetOpenFileNameW;
    saveFileDialog = GetSaveFileNameW;

    // The labels are the page templates' captions; the export tab comes with a double-click.
    EXPECT_EQ(labelsBefore, L"查询,导入");
    EXPECT_EQ(labelsAfter, L"查询,导入,导出");
    EXPECT_FALSE(queryTakesDrops);
    EXPECT_EQ(dropped, L"C:\\first.txt");
    EXPECT_TRUE(okAfterDrop);
    EXPECT_EQ(afterBrowse, L"C:\\chosen.txt");
    EXPECT_EQ(openDialog.lStructSize, OPENFILENAME_SIZE_VERSION_400W);
    EXPECT_EQ(openDialog.Flags, 0x00801804u);
    EXPECT_EQ(openDialog.nMaxFile, kPathUnits);
    EXPECT_EQ(openDialog.nFilterIndex, 0u);
    EXPECT_EQ(openDialog.lpstrDefExt, nullptr);
    EXPECT_EQ(openFilter.substr(0, 35), std::wstring(L"文本文件 (*.txt)\0*.txt\0所有文件 (*.*)\0*.*\0\0", 35));
    EXPECT_EQ(saveDialog.Flags, 0x00800806u);
    EXPECT_EQ(exportExtension, L".txt");
}

TEST(Ui, ManifestIsEmbeddedAsResourceOne) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC resource = FindResourceW(self, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(resource, nullptr);
    const char* text = static_cast<const char*>(LockResource(LoadResource(self, resource)));
    const std::string manifest(text, SizeofResource(self, resource));
    for (const char* part :
         {"Microsoft.Windows.Common-Controls", "version=\"6.0.0.0\"", "version=\"" VARNOLT_VERSION_TEXT "\"",
          "<description>Varnolt Search Engine</description>", "level=\"asInvoker\"", ">true</dpiAware>"})
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    EXPECT_EQ(manifest.find("activeCodePage"), std::string::npos);
}
