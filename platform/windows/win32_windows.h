// Win32 on Windows: the system headers, plus the few target facts the
// plug-in's shared code asks about.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>
#include <vfw.h>

#define APE_EXPORT extern "C" __declspec(dllexport)

namespace platform {
// GetModuleFileNameA gives backslashes; forward slashes are accepted too.
constexpr bool isPathSeparator(char c) { return c == '\\' || c == '/'; }
// FlushProcessWriteBuffers where the system has it (Vista and later);
// false where it has not.
bool flushProcessWriteBuffers();
} // namespace platform
