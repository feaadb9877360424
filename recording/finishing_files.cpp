#include "recording/finishing_files.h"

#include <cstring>

namespace {

bool sameName(const char* a, const char* b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    for (; *a && lower(*a) == lower(*b); ++a, ++b) {
    }
    return lower(*a) == lower(*b);
}

} // namespace

int FinishingFiles::add(const char* name)
{
    for (int entry = 0; entry < kCapacity; ++entry) {
        if (!used_[entry]) {
            used_[entry] = true;
            std::strncpy(names_[entry], name, sizeof names_[entry] - 1);
            return entry;
        }
    }
    ++unnamed_;
    return kUnnamed;
}

void FinishingFiles::remove(int entry)
{
    if (entry == kUnnamed)
        --unnamed_;
    else if (entry >= 0 && entry < kCapacity)
        used_[entry] = false;
}

bool FinishingFiles::contains(const char* name) const
{
    if (unnamed_ > 0)
        return true;
    for (int entry = 0; entry < kCapacity; ++entry) {
        if (used_[entry] && sameName(names_[entry], name))
            return true;
    }
    return false;
}
