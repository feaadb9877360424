// Modules on the native target: a module's instance handle is its load
// address, as on Windows, and a module carries its compiled resource file.
#include "platform/native/native_host.h"
#include "platform/native/resources.h"

#include <climits>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <map>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

struct LoadedModule {
    void* handle;
    int loads;
};

struct ModuleResources {
    const uint8_t* bytes;
    size_t size;
};

std::mutex registryLock;
std::map<uintptr_t, LoadedModule>& loadedModules()
{
    static std::map<uintptr_t, LoadedModule> modules;
    return modules;
}
std::map<uintptr_t, ModuleResources>& moduleResources()
{
    static std::map<uintptr_t, ModuleResources> resources;
    return resources;
}

HMODULE toModule(uintptr_t base) { return reinterpret_cast<HMODULE>(base); }

bool pathOfModule(HMODULE module, std::string& path)
{
    struct Search {
        uintptr_t base;
        std::string name;
        bool found;
    } search {reinterpret_cast<uintptr_t>(module), {}, false};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* wanted = static_cast<Search*>(data);
            if (info->dlpi_addr != wanted->base)
                return 0;
            wanted->name = info->dlpi_name ? info->dlpi_name : "";
            wanted->found = true;
            return 1;
        },
        &search);
    if (!search.found)
        return false;
    char resolved[PATH_MAX];
    if (search.name.empty()) {
        ssize_t length = readlink("/proc/self/exe", resolved, sizeof resolved - 1);
        if (length <= 0)
            return false;
        resolved[length] = '\0';
        path = resolved;
        return true;
    }
    path = realpath(search.name.c_str(), resolved) ? resolved : search.name;
    return true;
}

} // namespace

WIN32_NATIVE_API HMODULE NativeModuleContaining(const void* address)
{
    Dl_info info {};
    link_map* map = nullptr;
    if (!dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) || !map)
        return nullptr;
    return toModule(map->l_addr);
}

WIN32_NATIVE_API HMODULE LoadLibraryA(LPCSTR path)
{
    if (!path) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map) {
        dlclose(handle);
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(registryLock);
    LoadedModule& module = loadedModules()[map->l_addr];
    module.handle = handle;
    ++module.loads;
    return toModule(map->l_addr);
}

WIN32_NATIVE_API FARPROC GetProcAddress(HMODULE module, LPCSTR name)
{
    void* handle = nullptr;
    {
        std::lock_guard<std::mutex> guard(registryLock);
        auto found = loadedModules().find(reinterpret_cast<uintptr_t>(module));
        if (found != loadedModules().end())
            handle = found->second.handle;
    }
    void* symbol = handle && name ? dlsym(handle, name) : nullptr;
    if (!symbol) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

WIN32_NATIVE_API BOOL FreeLibrary(HMODULE module)
{
    void* handle = nullptr;
    {
        std::lock_guard<std::mutex> guard(registryLock);
        auto found = loadedModules().find(reinterpret_cast<uintptr_t>(module));
        if (found == loadedModules().end()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
        handle = found->second.handle;
        if (--found->second.loads == 0)
            loadedModules().erase(found);
    }
    dlclose(handle);
    return TRUE;
}

// Copies as Windows Vista and later do: a path that does not fit is cut,
// terminated, and reported with the buffer's size and ERROR_INSUFFICIENT_BUFFER.
WIN32_NATIVE_API DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size)
{
    std::string path;
    if (!module) {
        char resolved[PATH_MAX];
        ssize_t length = readlink("/proc/self/exe", resolved, sizeof resolved - 1);
        if (length <= 0) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        path.assign(resolved, static_cast<size_t>(length));
    } else if (!pathOfModule(module, path)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (!buffer || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() < size) {
        std::memcpy(buffer, path.c_str(), path.size() + 1);
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(path.size());
    }
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

WIN32_NATIVE_API void NativeRegisterModuleResources(const void* addressInModule, const void* resFile, size_t size)
{
    const auto base = reinterpret_cast<uintptr_t>(NativeModuleContaining(addressInModule));
    std::lock_guard<std::mutex> guard(registryLock);
    moduleResources()[base] = {static_cast<const uint8_t*>(resFile), size};
}

WIN32_NATIVE_API void NativeUnregisterModuleResources(const void* addressInModule)
{
    const auto base = reinterpret_cast<uintptr_t>(NativeModuleContaining(addressInModule));
    std::lock_guard<std::mutex> guard(registryLock);
    moduleResources().erase(base);
}

namespace native {

bool findResource(HINSTANCE instance, WORD type, LPCSTR name, ResourceData& found)
{
    ModuleResources resources {};
    {
        std::lock_guard<std::mutex> guard(registryLock);
        auto entry = moduleResources().find(reinterpret_cast<uintptr_t>(instance));
        if (entry == moduleResources().end())
            return false;
        resources = entry->second;
    }
    return findInResFile(resources.bytes, resources.size, type, name, found);
}

} // namespace native
