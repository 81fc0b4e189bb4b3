// The main window: the tabs, the page switch, the title font, the statistics and About.
#include "ui/main_window.h"
#include "ui/pages.h"

#include <commctrl.h>

#include "directory/directory.h"
#include "version.h"

HWND mainWindow = nullptr;
int currentPage = 0;
HWND pageWindows[3] = {};

#define VARNOLT_WIDE2(text) L##text
#define VARNOLT_WIDE(text) VARNOLT_WIDE2(text)

const wchar_t kAboutBanner[] =
    L"Varnolt " VARNOLT_WIDE(VARNOLT_VERSION_TEXT) L" " VARNOLT_WIDE(VARNOLT_BUILD_TAG) L"\n"
    L"\n"
    VARNOLT_WIDE(__DATE__) L" " VARNOLT_WIDE(__TIME__) L"\n"
    L"\n"
    L"由 Varnolt 项目及其贡献者制作\n"
    L"问题与建议: Varnolt 项目的问题跟踪\n"
    L"主页: Varnolt 项目的代码仓库\n"
    L"\n"
    L"Copyright (C) Varnolt 项目贡献者。以 Apache License 2.0 发布。\n"
    L"\n";

namespace {

HFONT titleFont = nullptr;

}  // namespace

void InsertPageTab(HWND tab, int position, int templateId) {
    wchar_t label[kPathUnits] = {};
    if (HRSRC resource = FindResourceW(appInstance, MAKEINTRESOURCEW(templateId), RT_DIALOG))
        ReadTemplateCaption(resource, label);
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = label;
    SendMessageW(tab, TCM_INSERTITEMW, position, reinterpret_cast<LPARAM>(&item));
}

namespace {

// The statistics box, after the banner for the about box.
void ShowStatistics(bool withBanner) {
    wchar_t text[1024];
    wchar_t* at = text;
    if (withBanner) {
        lstrcpyW(text, kAboutBanner);
        at = text + lstrlenW(text);
    }
    wchar_t format[kPathUnits];
    if (!LoadStringW(appInstance, IDS_STATISTICS, format, kPathUnits)) format[0] = 0;
    const DirectoryStatistics s = StatisticsOf(directory.header);
    wsprintfW(at, format, UINT(s.versionYear), UINT(s.versionMonth), UINT(s.versionDay), UINT(s.numbers),
              UINT(s.fileBytes), UINT(s.items), UINT(s.itemBytes), UINT(s.areas), UINT(s.areaBytes), UINT(s.types),
              UINT(s.typeBytes));
    MessageBoxW(mainWindow, text, kMessageCaption, MB_OK | MB_ICONINFORMATION);
}

void InitMainWindow(HWND window) {
    mainWindow = window;
    SetClassLongPtrW(window, GCLP_HICON,
                     reinterpret_cast<LONG_PTR>(LoadIconW(appInstance, MAKEINTRESOURCEW(IDI_MAIN))));
    if (HFONT font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0))) {
        LOGFONTW description;
        if (GetObjectW(font, sizeof description, &description)) {
            description.lfHeight *= 2;
            description.lfItalic = 1;
            titleFont = CreateFontIndirectW(&description);
            SendDlgItemMessageW(window, IDC_TITLE, WM_SETFONT, reinterpret_cast<WPARAM>(titleFont), FALSE);
        }
    }
    HWND tab = GetDlgItem(window, IDC_TAB);
    if (!tab) return;
    InsertPageTab(tab, kQueryPage, IDD_QUERY);
    InsertPageTab(tab, kImportPage, IDD_IMPORT);
    SendMessageW(tab, TCM_SETCURSEL, 0, 0);
    SwitchPage();
}

void ReleaseMainWindow() {
    if (titleFont) DeleteObject(titleFont);
    titleFont = nullptr;
}

}  // namespace

int ReadTemplateCaption(HRSRC resource, wchar_t* buffer) {
    HGLOBAL loaded = LoadResource(appInstance, resource);
    const WORD* words = loaded ? static_cast<const WORD*>(LockResource(loaded)) : nullptr;
    if (!words) return 0;
    // Extended templates carry 0xFFFF in their second word.
    const WORD* at = words + (words[1] == 0xFFFF ? 26 : 18) / 2;
    for (int field = 0; field < 2; ++field) {  // menu, then class
        if (*at == 0xFFFF)
            at += 2;
        else
            at += lstrlenW(reinterpret_cast<const wchar_t*>(at)) + 1;
    }
    int copied = 0;
    while (copied < static_cast<int>(kPathUnits) - 1 && at[copied] != 0) {
        buffer[copied] = static_cast<wchar_t>(at[copied]);
        ++copied;
    }
    buffer[copied] = 0;
    return copied;
}

void SwitchPage() {
    if (pageWindows[currentPage]) ShowWindow(pageWindows[currentPage], SW_HIDE);
    HWND tab = GetDlgItem(mainWindow, IDC_TAB);
    const int selected = static_cast<int>(SendMessageW(tab, TCM_GETCURSEL, 0, 0));
    if (selected < kQueryPage || selected > kExportPage) return;
    currentPage = selected;
    if (pageWindows[currentPage]) {
        ShowWindow(pageWindows[currentPage], SW_SHOW);
    } else {
        HWND page =
            CreateDialogParamW(appInstance, MAKEINTRESOURCEW(IDD_QUERY + currentPage), mainWindow, PageDialogProc, 0);
        pageWindows[currentPage] = page;
        if (page) {
            RECT area;
            GetClientRect(tab, &area);
            SendMessageW(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
            MapWindowPoints(tab, mainWindow, reinterpret_cast<POINT*>(&area), 2);
            SetWindowPos(page, HWND_TOP, area.left, area.top, area.right - area.left, area.bottom - area.top,
                         SWP_SHOWWINDOW);
        }
    }
    wchar_t okText[80];
    if (LoadStringW(appInstance, IDS_BUTTON_ADD + currentPage, okText, 80)) {
        SetDlgItemTextW(mainWindow, IDOK, okText);
        if (HWND page = pageWindows[currentPage]) {
            const int field = currentPage == kQueryPage ? IDC_AREA : IDC_PATH;
            PageDialogProc(page, WM_COMMAND, MAKEWPARAM(field, EN_CHANGE), 0);
        }
    }
}

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            InitMainWindow(window);
            return TRUE;
        case WM_DESTROY:
            ReleaseMainWindow();
            return FALSE;
        case WM_NOTIFY:
            if (reinterpret_cast<const NMHDR*>(lParam)->code == TCN_SELCHANGE) SwitchPage();
            return FALSE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                    if (pageWindows[currentPage]) RunPageAction(pageWindows[currentPage]);
                    break;
                case IDCANCEL:
                    EndDialog(window, 0);
                    break;
                case IDM_STATISTICS:
                    ShowStatistics(false);
                    break;
                case IDC_ABOUT:
                    ShowStatistics(true);
                    break;
            }
            return FALSE;
    }
    return FALSE;
}
