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

// Ours, not AVIFile's: patches the file's header when frames have come
// since the last patch and it is due (platform/windows/avifile_shim.cpp).
// The system's AVIFile writes its header only when the file is released.
#ifdef AVI_OUTPUT_OWN_WRITER
STDAPI AviStreamKeepCurrent(PAVISTREAM stream);
#else
inline HRESULT AviStreamKeepCurrent(PAVISTREAM) { return S_OK; }
#endif

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

// FlushProcessWriteBuffers where the system has it (Vista and later);
// false where it has not.
bool flushProcessWriteBuffers();
} // namespace platform
