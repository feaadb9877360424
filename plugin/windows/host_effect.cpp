// The object the Windows host receives. The host was built with the
// Microsoft compiler: it calls an effect through a table with one entry per
// operation, member functions are __thiscall (the object in ECX, the callee
// pops its arguments), and the first entry is a scalar deleting destructor
// taking one flags argument. g++ puts two destructors at the front of its
// own tables, which would shift every entry, so the effect travels inside a
// small object whose table is laid out the host's way.
#include "plugin/host_effect.h"

#include "plugin/effect_base.h"

#include <new>

namespace {

struct HostEffectTable {
    HostEffect*(__thiscall* deletingDestructor)(HostEffect* self, unsigned flags);
    int(__thiscall* renderFrame)(HostEffect* self, HostValue hostArg1, HostValue hostArg2, const uint32_t* framebuffer,
                                 HostValue hostArg4, int w, int h);
    HWND(__thiscall* createConfigDialog)(HostEffect* self, HINSTANCE instance, HWND parent);
    char*(__thiscall* getDescription)(HostEffect* self);
    void(__thiscall* loadPresetData)(HostEffect* self, unsigned char* data, int length);
    int(__thiscall* savePresetData)(HostEffect* self, unsigned char* data);
};

} // namespace

struct HostEffect {
    const HostEffectTable* table;
    EffectBase* effect;
};

namespace {

// Bit 0 of the flags asks for the memory to be freed as well; without it
// only the effect goes, as after an explicit destructor call. Like the
// Microsoft compiler's own, it returns the object's address.
HostEffect* __thiscall deletingDestructor(HostEffect* self, unsigned flags)
{
    delete self->effect;
    self->effect = nullptr;
    if (flags & 1u) {
        delete self;
    }
    return self;
}

int __thiscall renderFrame(HostEffect* self, HostValue hostArg1, HostValue hostArg2, const uint32_t* framebuffer,
                           HostValue hostArg4, int w, int h)
{
    return self->effect ? self->effect->renderFrame(hostArg1, hostArg2, framebuffer, hostArg4, w, h) : 0;
}

HWND __thiscall createConfigDialog(HostEffect* self, HINSTANCE instance, HWND parent)
{
    return self->effect ? self->effect->createConfigDialog(instance, parent) : nullptr;
}

char* __thiscall getDescription(HostEffect* self) { return self->effect ? self->effect->getDescription() : nullptr; }

void __thiscall loadPresetData(HostEffect* self, unsigned char* data, int length)
{
    if (self->effect)
        self->effect->loadPresetData(data, length);
}

int __thiscall savePresetData(HostEffect* self, unsigned char* data)
{
    return self->effect ? self->effect->savePresetData(data) : 0;
}

const HostEffectTable hostTable = {
    deletingDestructor, renderFrame, createConfigDialog, getDescription, loadPresetData, savePresetData,
};

static_assert(sizeof(HostEffectTable) == 6 * sizeof(void*), "one entry per slot");
static_assert(sizeof(HostValue) == 4 && sizeof(void*) == 4, "the host passes 32-bit values");

} // namespace

HostEffect* toHostEffect(EffectBase* effect)
{
    auto* object = new (std::nothrow) HostEffect {&hostTable, effect};
    if (!object)
        delete effect;
    return object;
}
