// Without AppKit there are no windows whose activation could be stopped, so
// every request answers false. This keeps the module loadable and its
// argument handling testable off Apple.
#include "window.h"

bool preventActivation(void* /*view*/) { return false; }
