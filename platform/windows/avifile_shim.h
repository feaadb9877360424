// AVIFile's functions over our own writer, for the Windows build that
// records past AVIFile's 2 GiB. The functions themselves keep <vfw.h>'s
// names and signatures; this header adds what only tests need.
#pragma once

#include "platform/avi/avi_writer.h"

#include <windows.h>

// The Win32 code a writer status travels as: the OS's own code for a failed
// file operation, a fitting Win32 code for a refusal of the writer's.
HRESULT toAviFileResult(const avi::WriterStatus& status);

// Options for files opened from now on. Not exported from the plug-in:
// only programs that link the writer themselves (tests) reach it.
void setAviFileWriterOptions(const avi::WriterOptions& options);
