// The Windows program's entry point.
#include "ui/program.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) { return RunProgram(instance, commandLine); }
