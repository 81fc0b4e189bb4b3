// Drives the real Varnolt.exe from outside, as a user would: starts it in a
// fresh folder, finds its windows, reads and presses them, collects the exit
// code. Runs on Windows and under Wine.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <vector>

struct ProgramRun {
    PROCESS_INFORMATION process = {};
    std::wstring folder;
    bool started = false;
};

// A fresh folder holding a copy of the program and, when `directoryFixture`
// is not empty, that file as Varnolt.dat.
std::wstring MakeRunFolder(const std::wstring& exe, const std::wstring& directoryFixture);
bool StartProgram(ProgramRun& run, const std::wstring& arguments);
// Waits up to `timeoutMs` for the process to end; -1 if it did not (it is
// then killed).
long WaitForExit(ProgramRun& run, DWORD timeoutMs);
void RemoveRunFolder(const std::wstring& folder);

// Top-level windows of the process with the given class ("#32770" for dialogs
// and message boxes), visible ones only.
std::vector<HWND> ProcessWindows(const ProgramRun& run, const wchar_t* className);

std::wstring WindowText(HWND window);
// The text of a message box: its static control IDC_MESSAGE_TEXT.
std::wstring MessageBoxText(HWND box);
// Presses the button with this id by a posted click, as a mouse would.
bool PressButton(HWND dialog, int id);

// Converts /unix/paths handed in by CTest into Wine's Z: drive form.
std::wstring WindowsPath(const wchar_t* path);

// The main window: the process's dialog that holds the tab control.
HWND WaitForMainWindow(const ProgramRun& run, DWORD timeoutMs);
// A message box of the process (a dialog with the static IDC_MESSAGE_TEXT).
HWND WaitForMessageBox(const ProgramRun& run, DWORD timeoutMs);
// The page on show inside the main window.
HWND VisiblePage(HWND mainWindow);
void SetField(HWND dialog, int id, const std::wstring& text);
std::wstring FieldText(HWND dialog, int id);
bool IsControlEnabled(HWND dialog, int id);
void SelectTab(HWND mainWindow, int index);
int TabCount(HWND mainWindow);
// A tab's label, read through memory of the program's own process.
std::wstring TabLabel(const ProgramRun& run, HWND mainWindow, int index);
void DoubleClick(HWND dialog, int id);
// Waits for a message box, checks nothing, presses `button` and returns its
// text ("" when none came).
std::wstring AnswerMessageBox(const ProgramRun& run, int button, DWORD timeoutMs);

void PutFile(const std::wstring& path, const std::string& bytes);
std::string GetFile(const std::wstring& path);
