// Linked into every native module that has resources: hands the module's
// compiled resource file to the native layer, as the Windows loader makes
// a DLL's resources reachable through its instance handle.
#include "platform/native/native_host.h"

extern "C" const unsigned char moduleResourcesBegin[];
extern "C" const unsigned char moduleResourcesEnd[];

namespace {

struct ResourceRegistration {
    ResourceRegistration()
    {
        NativeRegisterModuleResources(moduleResourcesBegin, moduleResourcesBegin,
                                      static_cast<size_t>(moduleResourcesEnd - moduleResourcesBegin));
    }
    ~ResourceRegistration() { NativeUnregisterModuleResources(moduleResourcesBegin); }
};

const ResourceRegistration registration;

} // namespace
