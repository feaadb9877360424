// Failures on demand for the file operations of every OutputFile, so tests
// reach each failure path of the writer on both targets, and a watcher of
// every change they make. Only the writer built for tests has them (the
// tap of file_tap.h, in avi_writer_tapped); the plug-in users install
// links none. A test installs a plan on one thread at a time.
#pragma once

#include "platform/avi/file_tap.h"

#include <cstddef>
#include <cstdint>

namespace avi {

// Told of every change a file operation makes to a file's bytes, after the
// system made it, so that a test can record a recording's writes once and
// rebuild the file as any kill would have left it.
class FileWatcher {
public:
    virtual void wrote(uint64_t offset, const Slice* slices, size_t count) = 0;
    // The file's size was set: cut, or grown with zeros.
    virtual void resized(uint64_t size) = 0;

protected:
    ~FileWatcher() = default;
};

struct FaultPlan {
    enum class Kind : uint8_t {
        None,     // count the calls, fail nothing
        Once,     // call `at` fails, every other call succeeds
        DiskFull, // from call `at` on, the file cannot grow past the space it holds then
        AppendsFail, // from call `at` on, every append fails, space or not (a failing device)
    };
    Kind kind = Kind::None;
    uint64_t at = 0;      // counted from 1 over every operation of every file
    int code = 0;         // the system's code the failure reports
    bool noReservation = false; // the file system cannot set blocks aside
    // Runs before each call is judged, on the thread that makes it, so a
    // test can act in the middle of a write.
    void (*beforeCall)(FileOperation operation, uint64_t call, void* context) = nullptr;
    void* context = nullptr;
    // Sees every change the calls make to a file's bytes.
    FileWatcher* watcher = nullptr;
};

class FileFaults {
public:
    static void install(const FaultPlan& plan);
    static void remove();
    // File operations counted since install.
    static uint64_t calls();
};

} // namespace avi
