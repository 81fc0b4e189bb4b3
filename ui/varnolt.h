// Process-wide state and the window procedures of the Windows program.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <commdlg.h>

#include "ui/resource_ids.h"
#include "ui/startup.h"

#ifndef VARNOLT_BUILD_TAG
#define VARNOLT_BUILD_TAG "X86U"
#endif

extern HINSTANCE appInstance;
// Full path of the directory file beside the executable; empty when it could
// not be built.
extern wchar_t directoryPath[kPathUnits];
// Set after an add or an import; read at exit. Nothing clears it.
extern bool modifiedFlag;

extern HWND mainWindow;
extern int currentPage;
extern HWND pageWindows[3];

constexpr int kQueryPage = 0;
constexpr int kImportPage = 1;
constexpr int kExportPage = 2;

// Runs the program: the command-line answer, or the main window and the
// save prompt. Returns the exit code.
int RunProgram(HINSTANCE instance, const wchar_t* commandLine);

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void SwitchPage();
// Copies the caption of a dialog template (a FindResourceW handle of type
// RT_DIALOG) into `buffer` (kPathUnits units); the count of units copied.
int ReadTemplateCaption(HRSRC resource, wchar_t* buffer);

// Inserts the tab at `position`, labelled with the caption of the page
// template `templateId`.
void InsertPageTab(HWND tab, int position, int templateId);

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

// The about banner: ten lines, each ended by a line feed.
extern const wchar_t kAboutBanner[];
