/* The plug-in as the host sees it, declared from the outside: one export,
   a factory, and effects whose first word points at a table of __thiscall
   functions in slot order, laid out as the Microsoft compiler lays out a
   class with six virtual functions. Nothing here comes from the plug-in. */
#ifndef WINHOST_EFFECT_ABI_H
#define WINHOST_EFFECT_ABI_H

#include <windows.h>

typedef struct Effect Effect;

typedef struct EffectTable {
    /* Slot 1: scalar deleting destructor; flags bit 0 frees the memory. */
    void*(__thiscall* deletingDestructor)(Effect* self, unsigned flags);
    /* Slot 2: visualisation data, beat flag, framebuffer, output buffer, width, height. */
    int(__thiscall* renderFrame)(Effect* self, void* visdata, int isBeat, unsigned* framebuffer, unsigned* fbout,
                                 int w, int h);
    /* Slot 3 */
    HWND(__thiscall* createConfigDialog)(Effect* self, HINSTANCE instance, HWND parent);
    /* Slot 4 */
    char*(__thiscall* getDescription)(Effect* self);
    /* Slot 5 */
    void(__thiscall* loadPresetData)(Effect* self, unsigned char* data, int length);
    /* Slot 6: returns the number of bytes written. */
    int(__thiscall* savePresetData)(Effect* self, unsigned char* data);
} EffectTable;

struct Effect {
    const EffectTable* table;
};

typedef Effect*(__cdecl* CreateEffectFunction)(char* description);
typedef int(__cdecl* RetrFunction)(HINSTANCE instance, char** identifierOut, CreateEffectFunction* factoryOut);

/* Calls slot `slot` (0-based) of `effect` with `count` 32-bit arguments the
   way a Microsoft-built caller does: arguments pushed right to left, the
   object in ECX. Returns EAX; *imbalance receives the bytes the callee
   failed to pop (0 when it follows __thiscall). */
unsigned __cdecl callSlotChecked(Effect* effect, int slot, const unsigned* args, int count, int* imbalance);

#endif
