#include "recording/status_text.h"

#include <cstring>

namespace {

class TextBuilder {
public:
    explicit TextBuilder(char (&out)[kStatusTextCapacity])
        : out_(out)
    {
    }

    void number(int64_t value)
    {
        char digits[24];
        size_t count = 0;
        // Work in the negative range, which holds INT64_MIN as well.
        const bool negative = value < 0;
        int64_t rest = negative ? value : -value;
        do {
            digits[count++] = static_cast<char>('0' - rest % 10);
            rest /= 10;
        } while (rest != 0);
        if (negative)
            put('-');
        while (count > 0)
            put(digits[--count]);
    }

    void text(const char* words)
    {
        while (*words)
            put(*words++);
    }

    size_t finish()
    {
        out_[length_] = '\0';
        return length_;
    }

private:
    void put(char c)
    {
        if (length_ + 1 < kStatusTextCapacity)
            out_[length_++] = c;
    }

    char (&out_)[kStatusTextCapacity];
    size_t length_ = 0;
};

} // namespace

size_t formatStatusText(char (&out)[kStatusTextCapacity], int totalFrames, int64_t expectedFrames, int64_t totalBytes)
{
    TextBuilder text(out);
    text.number(totalFrames);
    text.text(" frames\n");
    if (expectedFrames > totalFrames) {
        text.number(expectedFrames - totalFrames);
        text.text(" dropped\n");
    }
    text.number(totalBytes > 0 ? totalBytes / 1048576 : 0);
    text.text(" MB");
    return text.finish();
}
