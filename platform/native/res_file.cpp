// Walks a compiled resource file (.res, as windres and rc write it).
#include "platform/native/resources.h"

#include <cstring>
#include <string>

namespace native {

namespace {

uint16_t word(const uint8_t* at) { return static_cast<uint16_t>(at[0] | (at[1] << 8)); }
uint32_t dword(const uint8_t* at) { return word(at) | (static_cast<uint32_t>(word(at + 2)) << 16); }

// A resource type or name: a numeric id, or a UTF-16 string.
struct ResourceId {
    bool numeric = false;
    uint16_t id = 0;
    std::string text; // upper-cased ASCII of a string name
};

bool readId(const uint8_t* data, size_t end, size_t& at, ResourceId& out)
{
    if (at + 2 > end)
        return false;
    if (word(data + at) == 0xFFFF) {
        if (at + 4 > end)
            return false;
        out.numeric = true;
        out.id = word(data + at + 2);
        at += 4;
        return true;
    }
    out.numeric = false;
    for (;;) {
        if (at + 2 > end)
            return false;
        const uint16_t unit = word(data + at);
        at += 2;
        if (unit == 0)
            return true;
        char c = unit < 0x80 ? static_cast<char>(unit) : '?';
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        out.text += c;
    }
}

bool nameMatches(const ResourceId& id, LPCSTR name)
{
    if (IS_INTRESOURCE(name))
        return id.numeric && id.id == static_cast<uint16_t>(reinterpret_cast<uintptr_t>(name));
    if (id.numeric)
        return false;
    std::string wanted;
    for (const char* c = name; *c; ++c)
        wanted += (*c >= 'a' && *c <= 'z') ? static_cast<char>(*c - 'a' + 'A') : *c;
    return wanted == id.text;
}

} // namespace

bool findInResFile(const uint8_t* res, size_t size, WORD type, LPCSTR name, ResourceData& found)
{
    if (!res)
        return false;
    size_t at = 0;
    while (at + 8 <= size) {
        const uint32_t dataSize = dword(res + at);
        const uint32_t headerSize = dword(res + at + 4);
        if (headerSize < 16 || at + headerSize > size || dataSize > size - at - headerSize)
            return false;
        const size_t headerEnd = at + headerSize;
        size_t cursor = at + 8;
        ResourceId resourceType;
        ResourceId resourceName;
        if (!readId(res, headerEnd, cursor, resourceType) || !readId(res, headerEnd, cursor, resourceName))
            return false;
        cursor = (cursor + 3) & ~size_t(3);
        // DataVersion, MemoryFlags, LanguageId, Version, Characteristics.
        if (cursor + 16 > headerEnd)
            return false;
        const uint16_t language = word(res + cursor + 6);
        if (resourceType.numeric && resourceType.id == type && nameMatches(resourceName, name)) {
            found.bytes = res + headerEnd;
            found.size = dataSize;
            found.language = language;
            return true;
        }
        at = (headerEnd + dataSize + 3) & ~size_t(3);
    }
    return false;
}

} // namespace native
