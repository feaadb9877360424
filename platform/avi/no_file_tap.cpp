// The writer as the plug-in has it: no tap on its files (file_tap.h).
#include "platform/avi/file_tap.h"

namespace avi {

FileTap* installedFileTap() { return nullptr; }

} // namespace avi
