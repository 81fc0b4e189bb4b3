// Start-up and shutdown: the command-line answer, loading the directory, the save prompt.
#include "ui/program.h"
#include "ui/main_window.h"

#include <commctrl.h>

#include "base/text16.h"
#include "directory/directory.h"
#include "directory/lookup_file.h"
#include "keys/decimal.h"
#include "platform/platform.h"

HINSTANCE appInstance = nullptr;
wchar_t directoryPath[kPathUnits] = {};
bool modifiedFlag = false;

namespace {

void FindDirectoryFile() {
    char16_t modulePath[kPathUnits];
    if (GetModulePath(modulePath, kPathUnits) == 0 || !BuildDirectoryPath(modulePath, AsText16(directoryPath)))
        directoryPath[0] = 0;
}

}  // namespace

int RunProgram(HINSTANCE instance, const wchar_t* commandLine) {
    appInstance = instance;
    FindDirectoryFile();

    if (commandLine && commandLine[0] != 0) {
        const uint32_t key = ParseDecimalKey(AsText16(commandLine));
        wchar_t area[kLookupNameUnits], type[kLookupNameUnits];
        if (directoryPath[0] != 0 && LookupNumberInFile(AsText16(directoryPath), key, AsText16(area), AsText16(type)))
            return MessageBoxW(nullptr, area, type, MB_ICONINFORMATION);
    }

    if (directoryPath[0] != 0) LoadDirectory(AsText16(directoryPath));
    InitCommonControls();
    DialogBoxParamW(appInstance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainDialogProc, 0);
    if (!modifiedFlag) return 0;

    wchar_t message[80];
    LoadStringW(appInstance, IDS_SAVE_PROMPT, message, 80);
    if (MessageBoxW(nullptr, message, kMessageCaption, MB_ICONQUESTION | MB_YESNO) == IDYES &&
        (directoryPath[0] == 0 || !SaveDirectory(AsText16(directoryPath)))) {
        LoadStringW(appInstance, IDS_SAVE_FAILED, message, 80);
        MessageBoxW(nullptr, message, kMessageCaption, MB_ICONERROR);
    }
    return 0;
}
