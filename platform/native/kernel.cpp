// The KERNEL32 calls of the native layer other than modules and kernel
// objects: error texts, the thread's last error and identity, and sleeping.
#include "platform/native/error_codes.h"
#include "platform/native/native_host.h"
#include "platform/native/timing.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <string>
#include <time.h>

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

constexpr DWORD kErrorMessageNotFound = 317;

std::atomic<bool> windowsTiming {false};

// Thread ids count up and are never reused, so a new thread never finds
// an old thread's message queue.
std::atomic<DWORD> lastThreadId {0};
thread_local DWORD threadId = 0;

const char* win32Text(DWORD code)
{
    switch (code) {
    case ERROR_SUCCESS:
        return "The operation completed successfully.";
    case ERROR_ACCESS_DENIED:
        return "Access is denied.";
    case ERROR_INVALID_HANDLE:
        return "The handle is invalid.";
    case ERROR_NOT_ENOUGH_MEMORY:
        return "Not enough memory resources are available to process this command.";
    case ERROR_INVALID_PARAMETER:
        return "The parameter is incorrect.";
    case ERROR_INSUFFICIENT_BUFFER:
        return "The data area passed to a system call is too small.";
    case ERROR_MOD_NOT_FOUND:
        return "The specified module could not be found.";
    case ERROR_PROC_NOT_FOUND:
        return "The specified procedure could not be found.";
    case ERROR_INVALID_WINDOW_HANDLE:
        return "Invalid window handle.";
    case ERROR_CONTROL_ID_NOT_FOUND:
        return "Control ID not found.";
    case ERROR_CANNOT_FIND_WND_CLASS:
        return "Cannot find window class.";
    case ERROR_CLASS_ALREADY_EXISTS:
        return "Class already exists.";
    case ERROR_CLASS_DOES_NOT_EXIST:
        return "Class does not exist.";
    case ERROR_RESOURCE_NAME_NOT_FOUND:
        return "The specified resource name cannot be found in the image file.";
    default:
        return nullptr;
    }
}

// The text for a code, or false when the system has none.
bool systemMessage(DWORD code, std::string& text)
{
    if ((code & 0xF0000000u) == native::kCustomerFailure) {
        const DWORD facility = code & native::kFacilityMask;
        const DWORD detail = code & 0xFFFFu;
        if (facility == native::kSystemFacility) {
            char buffer[256];
            const char* reason = strerror_r(static_cast<int>(detail), buffer, sizeof buffer);
            text = reason;
            text += '.';
            return true;
        }
        if (facility == native::kWriterFacility && detail > 0 && detail <= static_cast<DWORD>(avi::kLastFailure)) {
            text = avi::describeFailure(static_cast<avi::Failure>(detail));
            return true;
        }
        return false;
    }
    if (const char* known = win32Text(code)) {
        text = known;
        return true;
    }
    return false;
}

} // namespace

WIN32_NATIVE_API DWORD GetLastError() { return lastError; }

WIN32_NATIVE_API void SetLastError(DWORD error) { lastError = error; }

WIN32_NATIVE_API DWORD FormatMessageA(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPSTR buffer, DWORD size,
                                      va_list*)
{
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || !buffer) {
        lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    std::string text;
    if (!systemMessage(messageId, text)) {
        lastError = kErrorMessageNotFound;
        return 0;
    }
    const DWORD length = static_cast<DWORD>(text.size());
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        char* copy = static_cast<char*>(std::malloc(text.size() + 1));
        if (!copy) {
            lastError = ERROR_NOT_ENOUGH_MEMORY;
            return 0;
        }
        std::memcpy(copy, text.c_str(), text.size() + 1);
        *reinterpret_cast<char**>(buffer) = copy;
        return length;
    }
    if (size <= length) {
        lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return length;
}

WIN32_NATIVE_API HLOCAL LocalFree(HLOCAL memory)
{
    std::free(memory);
    return nullptr;
}

std::chrono::nanoseconds native::delayOf(DWORD milliseconds)
{
    const std::chrono::nanoseconds asked = std::chrono::milliseconds(milliseconds);
    if (!windowsTiming.load(std::memory_order_relaxed))
        return asked;
    return (asked + kWindowsTick - std::chrono::nanoseconds(1)) / kWindowsTick * kWindowsTick;
}

WIN32_NATIVE_API void NativeUseWindowsTiming(BOOL on) { windowsTiming.store(on != FALSE, std::memory_order_relaxed); }

WIN32_NATIVE_API void Sleep(DWORD milliseconds)
{
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    const auto delay = native::delayOf(milliseconds);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(delay);
    timespec left {static_cast<time_t>(seconds.count()), static_cast<long>((delay - seconds).count())};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

WIN32_NATIVE_API DWORD GetCurrentThreadId()
{
    if (threadId == 0)
        threadId = lastThreadId.fetch_add(1, std::memory_order_relaxed) + 1;
    return threadId;
}
