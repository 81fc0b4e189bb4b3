// The program's frame: start-up, the command-line answer, the save prompt, and the state they share.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "ui/resource_ids.h"
#include "ui/startup.h"

// The caption of every message box but the command-line answer's: like the
// about banner, no resource.
constexpr wchar_t kMessageCaption[] = L"Varnolt";

extern HINSTANCE appInstance;
// Full path of the directory file beside the executable; empty when it could
// not be built.
extern wchar_t directoryPath[kPathUnits];
// Set after an add or an import; read at exit. Nothing clears it.
extern bool modifiedFlag;

// Runs the program: the command-line answer, or the main window and the
// save prompt. Returns the exit code.
int RunProgram(HINSTANCE instance, const wchar_t* commandLine);
