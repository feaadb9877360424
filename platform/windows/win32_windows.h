// Win32 on Windows: the system headers, plus the few target facts the
// plug-in's shared code asks about.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>
#include <vfw.h>

#include <cstdint>

#define APE_EXPORT extern "C" __declspec(dllexport)

namespace platform {
// GetModuleFileNameA gives backslashes; forward slashes are accepted too.
constexpr bool isPathSeparator(char c) { return c == '\\' || c == '/'; }

// The largest file the AVIFile in use can write. The system's keeps file
// offsets in signed 32 bits; ours moves on to OpenDML segments.
#ifdef AVI_OUTPUT_SYSTEM_AVIFILE
constexpr int64_t kLargestAviFile = INT32_MAX;
#else
constexpr int64_t kLargestAviFile = INT64_MAX;
#endif
} // namespace platform
