// The plug-in's entry point and factory.
#pragma once

#include "platform/win32.h"
#include "plugin/host_effect.h"

// The instance handle the host registered the plug-in with.
extern HINSTANCE moduleInstance;

typedef HostEffect* (*CreateEffectFunction)(char* description);

HostEffect* createEffect(char* description);

APE_EXPORT int _AVS_APE_RetrFunc(HINSTANCE instance, char** identifierOut, CreateEffectFunction* factoryOut);
