#include "tests/support/small_disk.h"

#include "tests/support/media_probe.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

const char* mkfsFor(SmallDisk::Kind kind) { return kind == SmallDisk::Kind::Ext4 ? "mkfs.ext4" : "mkfs.ext2"; }

} // namespace

SmallDisk::SmallDisk(Kind kind, int megabytes)
    : mountPoint_(dir_.file("mnt"))
{
    if (geteuid() != 0) {
        whyNot_ = "mounting a file system needs root";
        return;
    }
    std::string output;
    std::string command = "mkdir " + shellQuote(mountPoint_) + " && ";
    if (kind == Kind::Tmpfs) {
        command += "mount -t tmpfs -o size=" + std::to_string(megabytes) + "m tmpfs " + shellQuote(mountPoint_);
    } else {
        // No blocks kept back for root, so root fills it as any user would.
        const std::string image = dir_.file("disk.img");
        command += "truncate -s " + std::to_string(megabytes) + "M " + shellQuote(image) + " && " + mkfsFor(kind) +
                   " -q -F -m 0 " + shellQuote(image) + " && mount -o loop " + shellQuote(image) + " " +
                   shellQuote(mountPoint_);
    }
    mounted_ = runCommand(command + " 2>&1", &output) == 0;
    if (!mounted_)
        whyNot_ = "cannot mount a small file system here (" + command + "): " + output;
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
