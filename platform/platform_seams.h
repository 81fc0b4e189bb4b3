// The test seams' state, shared by both implementations of the platform.
#pragma once

#include "platform/platform.h"

extern ReadObserver readObserver;
extern void* readObserverContext;
extern WriteFilter writeFilter;
extern void* writeFilterContext;
