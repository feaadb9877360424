// The default output file: "untitled.avi" in the directory the plug-in
// was loaded from.
#pragma once

#include "platform/win32.h"

// Fills all 100 bytes of fileName. A module path that cannot be read, that
// has no directory part, or whose directory leaves no room for the name is
// never cut (a cut path names another directory): the name alone is used.
void buildDefaultPath(char (&fileName)[100], HMODULE module);
