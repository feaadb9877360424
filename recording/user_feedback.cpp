#include "recording/user_feedback.h"

#include "recording/largest_file.h"

#include <cstdio>
#include <cstring>

void showError(HWND owner, const char* text)
{
    if (owner && !IsWindow(owner))
        owner = nullptr;
    // The owner may go between the check and the box.
    if (MessageBoxA(owner, text, "error", MB_ICONINFORMATION | MB_OK) == 0 && owner && !IsWindow(owner))
        MessageBoxA(nullptr, text, "error", MB_ICONINFORMATION | MB_OK);
}

void showWriteError(HWND owner, HRESULT code)
{
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, static_cast<DWORD>(code),
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (text) {
        showError(owner, text);
        LocalFree(text);
        return;
    }
    char fallback[64];
    std::snprintf(fallback, sizeof fallback, "cannot write frame (error 0x%08lX)",
                  static_cast<unsigned long>(static_cast<DWORD>(code)));
    showError(owner, fallback);
}

void showUnshownError(HWND owner, const UnshownError& error)
{
    if (error.kind == UnshownError::Kind::WriteFailed)
        showWriteError(owner, error.code);
    else if (error.kind == UnshownError::Kind::LargestFileReached)
        showError(owner, kLargestFileReachedText);
}
