// Where tests reach into the writer's file operations: every operation of
// an OutputFile asks the installed tap whether it fails, and tells it each
// change it made to the file's bytes. A program links one of two
// definitions of installedFileTap(): no_file_tap.cpp, which the plug-in
// users install links and which never returns a tap, or the tests' fault
// plan (file_faults.h), in the writer built for tests (avi_writer_tapped).
#pragma once

#include <cstddef>
#include <cstdint>

namespace avi {

struct Slice;

enum class FileOperation : uint8_t { Append, WriteAt, Truncate, Reserve, Extend };

// What happens to one call: whether it fails, and how far its bytes (or
// the blocks it sets aside) get before it does.
struct FaultVerdict {
    bool fails = false;
    uint64_t reach = 0; // end offset of what lands
    int code = 0;
};

class FileTap {
public:
    // Whether files created from now on must hold space with zeros, as
    // where the file system cannot set blocks aside.
    virtual bool noReservation() = 0;
    // The call covers [offset, end); the file holds blocks up to `held`.
    virtual FaultVerdict judge(FileOperation operation, uint64_t offset, uint64_t end, uint64_t held) = 0;
    // Free bytes for a file holding `held`, given what the system reports.
    virtual uint64_t freeSpace(uint64_t systemFree, uint64_t held) = 0;
    // A change the system made to the file's bytes: a write, or a new size
    // (cut, or grown with zeros).
    virtual void wrote(uint64_t offset, const Slice* slices, size_t count) = 0;
    virtual void resized(uint64_t size) = 0;

protected:
    ~FileTap() = default;
};

// The tap in force, or nullptr.
FileTap* installedFileTap();

} // namespace avi
