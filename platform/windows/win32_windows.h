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
} // namespace platform
