// Resources of loaded modules, as the native layer finds them.
#pragma once

#include "platform/native/win32_native.h"

#include <cstddef>
#include <cstdint>

namespace native {

constexpr WORD kResourceTypeDialog = 5;

struct ResourceData {
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    WORD language = 0;
};

// Finds a resource by numeric type and numeric or named id.
bool findResource(HINSTANCE instance, WORD type, LPCSTR name, ResourceData& found);

// Walks a compiled resource file (.res) for one resource.
bool findInResFile(const uint8_t* res, size_t size, WORD type, LPCSTR name, ResourceData& found);

} // namespace native
