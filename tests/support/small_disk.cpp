#include "tests/support/small_disk.h"

#include "tests/support/media_probe.h"

#include <cstdio>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

const char* mkfsFor(SmallDisk::Kind kind) { return kind == SmallDisk::Kind::Ext4 ? "mkfs.ext4" : "mkfs.ext2"; }

} // namespace

SmallDisk::SmallDisk(Kind kind, int megabytes)
    : mountPoint_(dir_.file("mnt"))
{
    if (geteuid() != 0 || runCommand("mkdir " + shellQuote(mountPoint_)) != 0) {
        whyNot_ = "mounting a file system needs root";
        return;
    }
    const std::string tmpfs = "mount -t tmpfs -o size=" + std::to_string(megabytes) + "m tmpfs " + shellQuote(mountPoint_);
    // No blocks kept back for root, so root fills it as any user would.
    const std::string image = dir_.file("disk.img");
    const std::string loop = "truncate -s " + std::to_string(megabytes) + "M " + shellQuote(image) + " && " +
                             mkfsFor(kind) + " -q -F -m 0 " + shellQuote(image) + " && mount -o loop " +
                             shellQuote(image) + " " + shellQuote(mountPoint_);
    std::string output;
    mounted_ = runCommand((kind == Kind::Tmpfs ? tmpfs : loop) + " 2>&1", &output) == 0;
    if (!mounted_ && kind == Kind::Ext4) {
        std::fprintf(stderr, "ext4 cannot be mounted here (%s); a tmpfs stands in\n", output.c_str());
        mounted_ = runCommand(tmpfs + " 2>&1", &output) == 0;
    }
    if (!mounted_)
        whyNot_ = "cannot mount a small file system here: " + output;
}

SmallDisk::~SmallDisk()
{
    if (mounted_)
        runCommand("umount " + shellQuote(mountPoint_));
}

uint64_t SmallDisk::freeBytes() const
{
    struct statvfs disk {};
    if (statvfs(mountPoint_.c_str(), &disk) != 0)
        return 0;
    return static_cast<uint64_t>(disk.f_bavail) * disk.f_frsize;
}

long long allocatedPastEnd(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return -1;
    return static_cast<long long>(info.st_blocks) * 512 - static_cast<long long>(info.st_size);
}
