// The test seams' state and setters, shared by both platform layers.
#include "platform/platform_seams.h"

ReadObserver readObserver = nullptr;
void* readObserverContext = nullptr;
WriteFilter writeFilter = nullptr;
void* writeFilterContext = nullptr;

void SetReadObserver(ReadObserver observer, void* context) {
    readObserver = observer;
    readObserverContext = context;
}

void SetWriteFilter(WriteFilter filter, void* context) {
    writeFilter = filter;
    writeFilterContext = context;
}
