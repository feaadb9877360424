// A recording's file writes, kept once as our writer makes them (through
// the watcher of platform/avi/file_faults.h), and the file rebuilt as a kill
// at any moment would have left it: before or after any write, or part way
// through one at a page boundary, where Linux may end a write when a fatal
// signal arrives. Tests check every such file without running the
// recording again.
#pragma once

#include "platform/avi/file_faults.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class WriteLog : private avi::FileWatcher {
public:
    using Clock = uint64_t (*)();

    // Changes are stamped with `clock`, the one the writer patches by.
    explicit WriteLog(Clock clock);
    ~WriteLog();
    WriteLog(const WriteLog&) = delete;
    WriteLog& operator=(const WriteLog&) = delete;

    // Keeps the changes to the one file written until stop().
    void start(bool noReservation = false);
    void stop();

    // A frame the writer took: call before the write with changeCount(), and
    // after it returned with the frame.
    size_t changeCount() const { return changes_.size(); }
    struct Frame {
        int64_t position;
        std::vector<uint8_t> bytes;
        uint64_t hash;        // payloadHash of its bytes
        uint32_t adler;       // and their Adler-32
        size_t firstChange;   // the changes its write made, from here...
        size_t lastChange;    // ...to before here
        uint64_t timeMs;      // when the write returned
    };
    void frameTaken(int64_t position, const void* data, size_t size, size_t firstChange);
    const std::vector<Frame>& frames() const { return frames_; }

    // Where a kill falls: after `change` whole changes and `partBytes` of
    // the next one (a page boundary), at the time that change was made.
    struct KillPoint {
        size_t change = 0;
        uint64_t partBytes = 0;
        uint64_t timeMs = 0;
        std::string name() const;
    };
    // Builds the file at `path` as each kill point in turn leaves it, from
    // before the first change to after the last, and calls visit().
    void replay(const std::string& path, const std::function<void(const KillPoint&)>& visit) const;

    // What a change was, for choosing kill points: a write's offset and
    // first bytes, or a new size.
    struct ChangeView {
        bool resize;
        uint64_t offset; // or the new size
        uint64_t size;
        const uint8_t* bytes;
    };
    ChangeView change(size_t index) const;

private:
    struct Change {
        bool resize = false;
        uint64_t offset = 0; // of a write; the new size of a resize
        std::vector<uint8_t> bytes;
        uint64_t timeMs = 0;
    };
    void wrote(uint64_t offset, const avi::Slice* slices, size_t count) override;
    void resized(uint64_t size) override;

    Clock clock_;
    bool keeping_ = false;
    std::vector<Change> changes_;
    std::vector<Frame> frames_;
};

// The frames a reader can have found in a killed file, and those it must
// find: each payload a reader gives must be one of `possible`, in order;
// every one of `required` must be among them.
struct KilledFrames {
    std::vector<const WriteLog::Frame*> possible; // frames whose write had begun
    std::vector<const WriteLog::Frame*> required; // written `lagMs` or more before the kill
};
KilledFrames killedFrames(const WriteLog& log, const WriteLog::KillPoint& point, uint64_t lagMs);

// What is wrong with what each reader gave for the killed file, or "".
// ffmpeg (libavformat, in this process) is held to the positions too.
std::string ffmpegProblems(const std::string& path, const KilledFrames& frames);
std::string mplayerProblems(const std::string& path, const KilledFrames& frames);
// The frames are bottom-up rows of `stride` bytes.
std::string gstreamerProblems(const std::string& path, const KilledFrames& frames, size_t stride, size_t rows);
std::string mkvmergeProblems(const std::string& path, const KilledFrames& frames);
