// The three pages: query and add, import, export; their fields, actions and file dialogs.
#pragma once

#include "ui/main_window.h"
// After windows.h, which it needs.
#include <commdlg.h>

INT_PTR CALLBACK PageDialogProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
void RunPageAction(HWND page);
BOOL BrowseForPath(HWND page, bool save);

// Test seam: the system's file dialogs, replaceable so that a test can see
// what they are asked.
using FileDialogRunner = BOOL(WINAPI*)(OPENFILENAMEW*);
extern FileDialogRunner openFileDialog;
extern FileDialogRunner saveFileDialog;

// Loads a string of the string table into `buffer` (kPathUnits units) and
// shows it owned by the main window, captioned "Varnolt".
void ShowMessage(UINT stringId, UINT icon);
