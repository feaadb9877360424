// What the native layer offers beyond Win32 to the stand-in host and the
// tests: where message boxes go, a clock they can drive, a look at dialog
// templates, and the AVI writer's settings.
#pragma once

#include "platform/native/win32_native.h"

// Message boxes. The sink answers in place of the user; the default one
// prints the box to stderr and answers IDOK.
typedef int (*NativeMessageBoxSink)(void* context, HWND owner, LPCSTR text, LPCSTR caption, UINT type);
WIN32_NATIVE_API void NativeSetMessageBoxSink(NativeMessageBoxSink sink, void* context);

// The millisecond tick. With the virtual clock, timeGetTime() returns a
// value that only the caller moves; it wraps like the real one.
WIN32_NATIVE_API void NativeUseVirtualClock(DWORD startTick);
WIN32_NATIVE_API void NativeUseRealClock();
WIN32_NATIVE_API void NativeAdvanceClock(DWORD milliseconds);

// Modules and their resources. A module's instance handle is its load
// address, as on Windows.
WIN32_NATIVE_API HMODULE NativeModuleContaining(const void* address);
WIN32_NATIVE_API void NativeRegisterModuleResources(const void* addressInModule, const void* resFile, size_t size);
WIN32_NATIVE_API void NativeUnregisterModuleResources(const void* addressInModule);

// A control's rectangle in dialog units, as its template gives it.
WIN32_NATIVE_API BOOL NativeGetDialogUnitRect(HWND window, RECT* rect);

// The AVI writer behind AVIFileOpenA. Zero fields keep the defaults; values
// past what the file format can describe are clamped to it.
struct NativeAviWriterOptions {
    uint64_t segmentLimit;       // bytes per RIFF segment
    uint32_t flushIntervalMs;    // most time between header patches
    uint32_t superIndexCapacity; // most segments in one file
};
WIN32_NATIVE_API void NativeSetAviWriterOptions(const NativeAviWriterOptions* options);

// Makes the next call of one AVIFile operation ("AVIFileOpenA",
// "AVIFileCreateStreamA", "AVIStreamSetFormat" or "AVIStreamWrite") fail
// with `code` without doing anything, so tests can reach every failure path.
WIN32_NATIVE_API void NativeFailNextAviCall(LPCSTR operation, HRESULT code);

// AVI files opened and not yet released by every reference.
WIN32_NATIVE_API int NativeOpenAviFileCount();

// The code our AVIFile returns when a file operation fails with this errno.
WIN32_NATIVE_API HRESULT NativeErrorFromErrno(int error);
