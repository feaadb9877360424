#include "plugin/registration.h"

#include "plugin/avi_output_effect.h"
#include "plugin/module_identity.h"

#include <cstring>
#include <new>

HINSTANCE moduleInstance = nullptr;

HostEffect* createEffect(char* description)
{
    if (description) {
        std::memcpy(description, moduleNameString, sizeof moduleNameString);
        return nullptr;
    }
    auto* effect = new (std::nothrow) AviOutputEffect;
    if (!effect)
        return nullptr;
    return toHostEffect(effect);
}

APE_EXPORT int _AVS_APE_RetrFunc(HINSTANCE instance, char** identifierOut, CreateEffectFunction* factoryOut)
{
    moduleInstance = instance;
    *identifierOut = identifierString;
    *factoryOut = createEffect;
    return 1;
}
