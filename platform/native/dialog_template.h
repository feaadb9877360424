// A dialog template (DLGTEMPLATE and its DLGITEMTEMPLATEs) read from a
// module's resources, the way the system's dialog manager reads it.
#pragma once

#include "platform/native/win32_native.h"

#include <string>
#include <vector>

namespace native {

struct ControlTemplate {
    DWORD style = 0;
    DWORD extendedStyle = 0;
    RECT rect {}; // dialog units: left, top, right, bottom
    int id = 0;   // -1 for the 0xFFFF of static labels
    std::string className;
    std::string text;
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD extendedStyle = 0;
    RECT rect {};
    std::string menu;
    std::string className;
    std::string title;
    WORD fontPointSize = 0;
    std::string fontName;
    std::vector<ControlTemplate> controls;
};

// False when the bytes are not a complete DLGTEMPLATE.
bool parseDialogTemplate(const uint8_t* data, size_t size, DialogTemplate& out);

} // namespace native
