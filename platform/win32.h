// The one header through which the plug-in reaches the Win32 API: the
// system's own headers on Windows, our native layer elsewhere.
#pragma once

#ifdef _WIN32
#include "platform/windows/win32_windows.h"
#else
#include "platform/native/win32_native.h"
#endif

#include "platform/host_effect.h"
#include "platform/ticket_lock.h"
