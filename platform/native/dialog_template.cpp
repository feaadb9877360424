#include "platform/native/dialog_template.h"

namespace native {

namespace {

class TemplateReader {
public:
    TemplateReader(const uint8_t* data, size_t size)
        : data_(data)
        , size_(size)
    {
    }

    bool word(uint16_t& out)
    {
        if (at_ + 2 > size_)
            return false;
        out = static_cast<uint16_t>(data_[at_] | (data_[at_ + 1] << 8));
        at_ += 2;
        return true;
    }

    bool dword(uint32_t& out)
    {
        uint16_t low = 0;
        uint16_t high = 0;
        if (!word(low) || !word(high))
            return false;
        out = low | (static_cast<uint32_t>(high) << 16);
        return true;
    }

    bool rect(RECT& out)
    {
        uint16_t x = 0, y = 0, cx = 0, cy = 0;
        if (!word(x) || !word(y) || !word(cx) || !word(cy))
            return false;
        out.left = static_cast<int16_t>(x);
        out.top = static_cast<int16_t>(y);
        out.right = out.left + static_cast<int16_t>(cx);
        out.bottom = out.top + static_cast<int16_t>(cy);
        return true;
    }

    bool string(std::string& out)
    {
        out.clear();
        for (;;) {
            uint16_t unit = 0;
            if (!word(unit))
                return false;
            if (unit == 0)
                return true;
            out += unit < 0x100 ? static_cast<char>(unit) : '?';
        }
    }

    // A string or an ordinal: 0 for none, 0xFFFF and a number, or a string.
    bool stringOrOrdinal(std::string& text, uint16_t& ordinal)
    {
        ordinal = 0;
        text.clear();
        if (at_ + 2 > size_)
            return false;
        const uint16_t first = static_cast<uint16_t>(data_[at_] | (data_[at_ + 1] << 8));
        if (first == 0xFFFF) {
            at_ += 2;
            return word(ordinal);
        }
        return string(text);
    }

    void alignToDword() { at_ = (at_ + 3) & ~size_t(3); }
    bool skip(size_t bytes)
    {
        if (at_ + bytes > size_)
            return false;
        at_ += bytes;
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

bool sameLetters(const std::string& a, const char* b)
{
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        const char x = (a[i] >= 'a' && a[i] <= 'z') ? static_cast<char>(a[i] - 'a' + 'A') : a[i];
        const char y = (b[i] >= 'a' && b[i] <= 'z') ? static_cast<char>(b[i] - 'a' + 'A') : b[i];
        if (x != y)
            return false;
    }
    return i == a.size() && !b[i];
}

// Class names are not case-sensitive; the system's own classes get their usual spelling.
std::string canonicalClass(const std::string& name)
{
    for (const char* known : {"Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox"}) {
        if (sameLetters(name, known))
            return known;
    }
    return name;
}

const char* predefinedClass(uint16_t atom)
{
    switch (atom) {
    case 0x0080:
        return "Button";
    case 0x0081:
        return "Edit";
    case 0x0082:
        return "Static";
    case 0x0083:
        return "ListBox";
    case 0x0084:
        return "ScrollBar";
    case 0x0085:
        return "ComboBox";
    default:
        return "";
    }
}

} // namespace

bool parseDialogTemplate(const uint8_t* data, size_t size, DialogTemplate& out)
{
    TemplateReader reader(data, size);
    uint16_t count = 0;
    uint16_t ordinal = 0;
    if (!reader.dword(out.style) || !reader.dword(out.extendedStyle) || !reader.word(count) || !reader.rect(out.rect))
        return false;
    // DLGTEMPLATEEX starts with version 1 and signature 0xFFFF, which read
    // as the style above; that layout is not ours to support.
    if ((out.style & 0xFFFF) == 1 && (out.style >> 16) == 0xFFFF)
        return false;
    if (!reader.stringOrOrdinal(out.menu, ordinal) || !reader.stringOrOrdinal(out.className, ordinal) ||
        !reader.string(out.title))
        return false;
    if (out.style & DS_SETFONT) {
        if (!reader.word(out.fontPointSize) || !reader.string(out.fontName))
            return false;
    }
    out.controls.clear();
    for (uint16_t i = 0; i < count; ++i) {
        reader.alignToDword();
        ControlTemplate control;
        uint16_t id = 0;
        uint16_t extra = 0;
        if (!reader.dword(control.style) || !reader.dword(control.extendedStyle) || !reader.rect(control.rect) ||
            !reader.word(id))
            return false;
        control.id = id == 0xFFFF ? -1 : id;
        if (!reader.stringOrOrdinal(control.className, ordinal))
            return false;
        control.className = ordinal ? predefinedClass(ordinal) : canonicalClass(control.className);
        if (!reader.stringOrOrdinal(control.text, ordinal) || !reader.word(extra) || !reader.skip(extra))
            return false;
        out.controls.push_back(control);
    }
    return true;
}

} // namespace native
