// Error codes of the native layer. Failures of our AVIFile travel as
// HRESULTs with the customer bit set: the OS's errno, or a refusal of the
// writer's own. FormatMessageA turns either back into text.
#pragma once

#include "platform/avi/writer_status.h"
#include "platform/native/win32_native.h"

namespace native {

constexpr DWORD kCustomerFailure = 0xA0000000u;
constexpr DWORD kSystemFacility = 0x00010000u;
constexpr DWORD kWriterFacility = 0x00020000u;
constexpr DWORD kFacilityMask = 0x0FFF0000u;

inline HRESULT toHresult(const avi::WriterStatus& status)
{
    if (status.ok())
        return 0;
    if (status.failure == avi::Failure::System)
        return static_cast<HRESULT>(kCustomerFailure | kSystemFacility | (static_cast<DWORD>(status.systemCode) & 0xFFFFu));
    return static_cast<HRESULT>(kCustomerFailure | kWriterFacility | static_cast<DWORD>(status.failure));
}

} // namespace native
