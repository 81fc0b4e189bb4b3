// Process-wide state of the Windows program.
#pragma once

#include <windows.h>

#include "ui/startup.h"

extern HINSTANCE appInstance;
// Full path of the directory file beside the executable; empty when it could
// not be built.
extern wchar_t directoryPath[kPathUnits];
