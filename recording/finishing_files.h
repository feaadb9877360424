// The files of an effect's recordings that have ended and are still being
// finished (the last frame written, the indexes and the header, the
// close), by name, so that a new recording never replaces one of them
// meanwhile. The effect guards it with its recording lock.
#pragma once

class FinishingFiles {
public:
    static constexpr int kCapacity = 4;
    // What add() returns when every entry is taken: that file is still
    // counted, under no name, so contains() then answers yes for any.
    static constexpr int kUnnamed = kCapacity;

    // The entry to hand to remove() once the file is finished.
    int add(const char* name);
    void remove(int entry);
    // Whether a file of this name may still be being finished. Windows
    // names ignore case, so the comparison does too.
    bool contains(const char* name) const;

private:
    char names_[kCapacity][100] = {};
    bool used_[kCapacity] = {};
    int unnamed_ = 0;
};
