#include "plugin/default_path.h"

#include <cstring>

namespace {
constexpr char kDefaultName[] = "untitled.avi";
}

void buildDefaultPath(char (&fileName)[100], HMODULE module)
{
    std::memset(fileName, 0, sizeof fileName);
    char modulePath[100] = {};
    const DWORD length = GetModuleFileNameA(module, modulePath, sizeof modulePath);
    size_t directoryLength = 0;
    if (length > 0 && length < sizeof modulePath) {
        for (size_t i = length; i > 0; --i) {
            if (platform::isPathSeparator(modulePath[i - 1])) {
                directoryLength = i;
                break;
            }
        }
    }
    if (directoryLength == 0 || directoryLength + sizeof kDefaultName > sizeof fileName) {
        std::memcpy(fileName, kDefaultName, sizeof kDefaultName);
        return;
    }
    std::memcpy(fileName, modulePath, directoryLength);
    std::memcpy(fileName + directoryLength, kDefaultName, sizeof kDefaultName);
}
