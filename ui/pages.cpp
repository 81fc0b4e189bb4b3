// The three pages (query, import, export) and their actions.
#include "ui/pages.h"

#include <commctrl.h>
#include <shellapi.h>

#include "base/text16.h"
#include "directory/add.h"
#include "directory/directory.h"
#include "directory/lookup_memory.h"
#include "exchange/text_exchange.h"
#include "keys/written.h"

FileDialogRunner openFileDialog = GetOpenFileNameW;
FileDialogRunner saveFileDialog = GetSaveFileNameW;

namespace {

void EnableOk(bool enabled) { EnableWindow(GetDlgItem(mainWindow, IDOK), enabled); }

bool FieldHasText(HWND page, int id) { return SendDlgItemMessageW(page, id, WM_GETTEXTLENGTH, 0, 0) != 0; }

void Query(HWND page) {
    wchar_t number[kPathUnits];
    GetDlgItemTextW(page, IDC_NUMBER, number, kPathUnits);
    // A pasted "Tel: +86 139 1234 5678" is answered as the 13912345678 it
    // means; text that gives no key, or another country's number, gets no
    // answer, and the key is 0.
    const RangeItem* item = LookupNumber(ReadWrittenNumber(AsText16(number)).key);
    // Each set raises the field's EN_CHANGE at once, which may enable OK for
    // a moment; the query leaves it disabled.
    if (item) {
        SetDlgItemTextW(page, IDC_AREA, AsWide(AreaName(item)));
        SetDlgItemTextW(page, IDC_TYPE, AsWide(TypeName(item)));
    } else {
        SetDlgItemTextW(page, IDC_AREA, L"");
        SetDlgItemTextW(page, IDC_TYPE, L"");
    }
    EnableOk(false);
}

void ToggleExportTab() {
    HWND tab = GetDlgItem(mainWindow, IDC_TAB);
    if (SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0) > 2) {
        SendMessageW(tab, TCM_DELETEITEM, 2, 0);
        return;
    }
    InsertPageTab(tab, kExportPage, IDD_EXPORT);
}

void TakeDroppedFile(HWND page, HDROP drop) {
    wchar_t path[kPathUnits];
    if (!DragQueryFileW(drop, 0, path, kPathUnits)) path[0] = 0;
    DragFinish(drop);
    SetDlgItemTextW(page, IDC_PATH, path);
}

void AddFromFields(HWND page) {
    wchar_t number[8], area[32], type[16];
    if (!GetDlgItemTextW(page, IDC_NUMBER, number, 8) || !GetDlgItemTextW(page, IDC_AREA, area, 32) ||
        !GetDlgItemTextW(page, IDC_TYPE, type, 16))
        return;
    // Without any image there is nothing to add to.
    if (!MakeDirectoryEditable() && !directory.image) return ShowMessage(IDS_ADD_FAILED, MB_ICONERROR);
    if (AddEntry(AsText16(number), AsText16(area), AsText16(type)) == -1)
        return ShowMessage(IDS_ADD_FAILED, MB_ICONERROR);
    SortItems();
    modifiedFlag = true;
    ShowMessage(IDS_ADD_OK, MB_ICONINFORMATION);
}

}  // namespace

void ShowMessage(UINT stringId, UINT icon) {
    wchar_t text[kPathUnits];
    if (!LoadStringW(appInstance, stringId, text, kPathUnits)) text[0] = 0;
    MessageBoxW(mainWindow, text, kMessageCaption, MB_OK | icon);
}

BOOL BrowseForPath(HWND page, bool save) {
    wchar_t file[kPathUnits];
    GetDlgItemTextW(page, IDC_PATH, file, kPathUnits);
    wchar_t filter[kPathUnits];
    if (!LoadStringW(appInstance, IDS_FILTER, filter, kPathUnits)) filter[0] = 0;
    for (wchar_t* c = filter; *c; ++c)
        if (*c == L'|') *c = 0;

    OPENFILENAMEW dialog = {};
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    dialog.hwndOwner = page;
    dialog.hInstance = appInstance;
    dialog.lpstrFilter = filter;
    dialog.lpstrFile = file;
    dialog.nMaxFile = kPathUnits;
    BOOL chosen;
    if (save) {
        // The default extension comes from the first pattern, period included.
        wchar_t extension[80];
        const wchar_t* pattern = filter + lstrlenW(filter) + 1;
        const wchar_t* dot = pattern;
        while (*dot && *dot != L'.') ++dot;
        if (*dot) {
            lstrcpynW(extension, dot, 80);
            for (wchar_t* c = extension; *c; ++c)
                if (*c == L';') *c = 0;
            dialog.lpstrDefExt = extension;
        }
        dialog.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_ENABLESIZING;
        chosen = saveFileDialog(&dialog);
    } else {
        dialog.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_ENABLESIZING;
        chosen = openFileDialog(&dialog);
    }
    if (chosen) SetDlgItemTextW(page, IDC_PATH, file);
    return chosen;
}

void RunPageAction(HWND page) {
    wchar_t path[kPathUnits];
    switch (currentPage) {
        case kQueryPage:
            AddFromFields(page);
            break;
        case kImportPage:
            GetDlgItemTextW(page, IDC_PATH, path, kPathUnits);
            if (ImportText(AsText16(path))) {
                modifiedFlag = true;
                SendMessageW(mainWindow, WM_COMMAND, IDM_STATISTICS, 0);
            } else {
                ShowMessage(IDS_IMPORT_FAILED, MB_ICONERROR);
            }
            break;
        case kExportPage:
            GetDlgItemTextW(page, IDC_PATH, path, kPathUnits);
            if (ExportText(AsText16(path)))
                ShowMessage(IDS_EXPORT_OK, MB_ICONINFORMATION);
            else
                ShowMessage(IDS_EXPORT_FAILED, MB_ICONERROR);
            break;
    }
}

INT_PTR CALLBACK PageDialogProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND: {
            const int id = LOWORD(wParam), code = HIWORD(wParam);
            if (id == IDC_PATH && code == EN_CHANGE) {
                EnableOk(FieldHasText(page, IDC_PATH));
            } else if (id == IDC_BROWSE) {
                BrowseForPath(page, currentPage == kExportPage);
            } else if (id == IDC_ICON && code == STN_DBLCLK) {
                ToggleExportTab();
            } else if (id == IDC_NUMBER && code == EN_CHANGE) {
                Query(page);
            } else if ((id == IDC_AREA || id == IDC_TYPE) && code == EN_CHANGE) {
                EnableOk(FieldHasText(page, IDC_NUMBER) && FieldHasText(page, IDC_AREA) &&
                         FieldHasText(page, IDC_TYPE));
            }
            return FALSE;
        }
        case WM_CTLCOLORSTATIC:
            SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
            return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_MENU));
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
            return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_MENU));
        case WM_DROPFILES:
            TakeDroppedFile(page, reinterpret_cast<HDROP>(wParam));
            return FALSE;
    }
    (void)lParam;
    return FALSE;
}
