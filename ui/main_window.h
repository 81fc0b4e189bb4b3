// The main window: its tabs, the page switch, the title, About and the statistics.
#pragma once

#include "ui/program.h"

#ifndef VARNOLT_BUILD_TAG
#define VARNOLT_BUILD_TAG "X86U"
#endif

extern HWND mainWindow;
extern int currentPage;
extern HWND pageWindows[3];

constexpr int kQueryPage = 0;
constexpr int kImportPage = 1;
constexpr int kExportPage = 2;

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void SwitchPage();
// Copies the caption of a dialog template (a FindResourceW handle of type
// RT_DIALOG) into `buffer` (kPathUnits units); the count of units copied.
int ReadTemplateCaption(HRSRC resource, wchar_t* buffer);

// Inserts the tab at `position`, labelled with the caption of the page
// template `templateId`.
void InsertPageTab(HWND tab, int position, int templateId);

// The about banner: ten lines, each ended by a line feed.
extern const wchar_t kAboutBanner[];
