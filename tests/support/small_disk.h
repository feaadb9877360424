// A small file system mounted for one test: a tmpfs, or ext4 or ext2 on a
// loop device backed by a sparse image. Mounting needs root (and for the
// loop file systems a free loop device and mkfs from e2fsprogs). Where ext4
// cannot be mounted a tmpfs, which also sets blocks aside, stands in and
// says so on stderr; a test skips with whyNot() when it has neither.
#pragma once

#include "tests/support/test_support.h"

#include <cstdint>
#include <string>

class SmallDisk {
public:
    enum class Kind {
        Tmpfs,
        Ext4, // sets blocks aside with fallocate
        Ext2, // cannot: fallocate reports EOPNOTSUPP
    };
    SmallDisk(Kind kind, int megabytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& whyNot() const { return whyNot_; }
    std::string file(const std::string& name) const { return mountPoint_ + "/" + name; }
    // Bytes a program may still allocate there.
    uint64_t freeBytes() const;

private:
    TempDir dir_;
    std::string mountPoint_;
    bool mounted_ = false;
    std::string whyNot_;
};

// Bytes the file system holds for a file beyond its size (blocks set aside past its end).
long long allocatedPastEnd(const std::string& path);
