// The default output file: "untitled.avi" in the directory the plug-in
// was loaded from.
#pragma once

#include "platform/win32.h"

// Fills all 100 bytes of fileName from the module's path.
void buildDefaultPath(char (&fileName)[100], HMODULE module);

// The same from a path already read; `length` is what GetModuleFileNameA
// returned. A path that could not be read whole, that has no directory
// part, or whose directory leaves no room for the name is never cut (a cut
// path names another directory): the name alone is used.
void composeDefaultPath(char (&fileName)[100], const char* modulePath, DWORD length);
