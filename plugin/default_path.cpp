#include "plugin/default_path.h"

#include <cstring>

namespace {
constexpr char kDefaultName[] = "untitled.avi";
}

void buildDefaultPath(char (&fileName)[100], HMODULE module)
{
    char modulePath[100] = {};
    const DWORD length = GetModuleFileNameA(module, modulePath, sizeof modulePath);
    composeDefaultPath(fileName, modulePath, length);
}

void composeDefaultPath(char (&fileName)[100], const char* modulePath, DWORD length)
{
    std::memset(fileName, 0, sizeof fileName);
    size_t directoryLength = 0;
    // A length of 100 or more means the path was cut to fit the buffer.
    if (modulePath && length > 0 && length < sizeof fileName) {
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
