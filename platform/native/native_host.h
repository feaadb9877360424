// What the native layer offers beyond Win32 to the stand-in host and the
// tests: where message boxes go, a clock they can drive, Windows-like
// timing, a look at dialog templates, and the AVI writer's settings.
#pragma once

#include "platform/avi/file_faults.h"
#include "platform/native/win32_native.h"

// Message boxes. The sink answers in place of the user; the default one
// prints the box to stderr and answers IDOK. MessageBoxA runs a modal loop
// as on Windows: it asks the sink when the box opens, and while the sink
// returns 0 (not answered yet) it dispatches the calling thread's posted
// messages and due timers, for all its windows, and asks again after each
// one (and every few milliseconds while none comes). A sink that answers at
// once therefore sees the box before any message is dispatched. The box
// ends with 0, unanswered, when its owner is destroyed on its thread or
// WM_QUIT arrives (which it posts again for the caller's loop).
typedef int (*NativeMessageBoxSink)(void* context, HWND owner, LPCSTR text, LPCSTR caption, UINT type);
WIN32_NATIVE_API void NativeSetMessageBoxSink(NativeMessageBoxSink sink, void* context);

// The message queues the native layer holds: one for each thread that has
// used one (made a window, posted, peeked, sent across threads, set a
// timer) and not yet ended.
WIN32_NATIVE_API int NativeMessageQueueCount();

// The millisecond tick. With the virtual clock, timeGetTime() returns a
// value that only the caller moves; it wraps like the real one. The AVI
// writer behind AVIFileOpenA times its header patches by the same clock.
WIN32_NATIVE_API void NativeUseVirtualClock(DWORD startTick);
WIN32_NATIVE_API void NativeUseRealClock();
WIN32_NATIVE_API void NativeAdvanceClock(DWORD milliseconds);

// Windows-like timing. Natively Sleep(1) returns after about 1 ms; on
// Windows it lasts a whole tick of the system clock, 15.6 ms by default.
// With this on, Sleep(n) for n > 0, finite WaitForSingleObject timeouts and
// timer periods last a whole number of 15.625 ms ticks (Sleep(1) takes
// 15.6 ms), so tests and benchmarks meet the delays the plug-in meets on
// Windows. Off at start. Timers and the message box loop run on real time,
// never on the virtual clock.
WIN32_NATIVE_API void NativeUseWindowsTiming(BOOL on);

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
    uint32_t superIndexCapacity; // most segments in one file, and interim indexes in the last
};
WIN32_NATIVE_API void NativeSetAviWriterOptions(const NativeAviWriterOptions* options);
// The smallest segment limit those options may give: the file header for a
// stream of any name and this format, and one frame. 0 for a format the
// writer refuses.
WIN32_NATIVE_API uint64_t NativeSmallestAviSegment(const BITMAPINFOHEADER* format);

// Makes the next call of one AVIFile operation ("AVIFileOpenA",
// "AVIFileCreateStreamA", "AVIStreamSetFormat" or "AVIStreamWrite") fail
// with `code` without doing anything, so tests can reach every failure path.
WIN32_NATIVE_API void NativeFailNextAviCall(LPCSTR operation, HRESULT code);

// Makes every AVIStreamWrite take at least `microseconds` longer, as on a
// slow disk; 0 writes at full speed again.
WIN32_NATIVE_API void NativeSlowAviWrites(DWORD microseconds);

// With `hidden`, the system has no process-wide barrier, as Windows before
// Vista: platform::flushProcessWriteBuffers() reports so and does nothing.
WIN32_NATIVE_API void NativeHideProcessBarrier(BOOL hidden);

// Makes every AVIFileOpenA and AVIFileRelease take at least `milliseconds`
// longer, as replacing or finishing a large file does; 0 for full speed.
WIN32_NATIVE_API void NativeSlowAviOpensAndReleases(DWORD milliseconds);

// Installs `plan` for the file operations behind AVIFileOpenA (the
// writer's own FileFaults live in this layer); null removes it.
WIN32_NATIVE_API void NativeInstallFileFaults(const avi::FaultPlan* plan);

// AVIStreamWrite calls that failed, injected failures included.
WIN32_NATIVE_API long NativeFailedAviWriteCount();

// AVI files opened and not yet released by every reference.
WIN32_NATIVE_API int NativeOpenAviFileCount();

// The code our AVIFile returns when a file operation fails with this errno.
WIN32_NATIVE_API HRESULT NativeErrorFromErrno(int error);
