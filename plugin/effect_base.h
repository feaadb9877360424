// The host's effect interface as the plug-in declares it: one virtual
// table, in the host's slot order.
#pragma once

#include "platform/win32.h"

#include <cstdint>

// A value the host passes that this effect never reads. On the 32-bit
// host every argument is 32 bits; natively, pointer-sized.
using HostValue = intptr_t;

class EffectBase {
public:
    // Slot 1: the host deletes effects through it.
    virtual ~EffectBase() = default;
    // Slot 2: called for every frame the host renders; returns 0.
    virtual int renderFrame(HostValue hostArg1, HostValue hostArg2, const uint32_t* framebuffer, HostValue hostArg4,
                            int w, int h) = 0;
    // Slot 3: the configuration dialog, a child of parent.
    virtual HWND createConfigDialog(HINSTANCE, HWND) { return nullptr; }
    // Slot 4: the module name, a static string the caller must not free.
    virtual char* getDescription() = 0;
    // Slot 5.
    virtual void loadPresetData(unsigned char*, int) {}
    // Slot 6: returns the number of bytes written.
    virtual int savePresetData(unsigned char*) { return 0; }
};
